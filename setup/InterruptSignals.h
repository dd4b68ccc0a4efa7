#pragma once

#include <QSocketNotifier>

#include <array>
#include <csignal>
#include <functional>
#include <memory>

// The signals that end a front end from outside, each taken as the user's
// close of the window: Ctrl-C in a terminal (SIGINT, sent to the whole
// foreground process group), the end of a desktop session or a service
// (SIGTERM) and a terminal's hang-up (SIGHUP). Closing is what logs out of an
// open dialogue and removes the neighbour entry, and the default action of
// these signals would end the program before either.
//
// The handler only writes one byte to a socket pair; the event loop reads it
// and calls `onInterrupt`, which so runs as any other event handler does (a
// dialogue that is waiting is abandoned, and nothing of it runs afterwards).
// A signal that was ignored when this is made (under nohup, or in a
// background job of a shell without job control) stays ignored: whoever
// started the program asked for it to outlive that signal. One at a time;
// the dispositions found are put back when it goes.
class InterruptSignals {
public:
    static constexpr std::array<int, 3> kSignals{SIGINT, SIGTERM, SIGHUP};

    explicit InterruptSignals(std::function<void()> onInterrupt);
    ~InterruptSignals();
    InterruptSignals(const InterruptSignals&) = delete;
    InterruptSignals& operator=(const InterruptSignals&) = delete;

    // False when the socket pair could not be made or another one is in place.
    [[nodiscard]] bool installed() const { return m_notifier != nullptr; }

private:
    void takeBytes();

    std::function<void()> m_onInterrupt;
    std::array<int, 2> m_pair{-1, -1};
    std::array<struct sigaction, kSignals.size()> m_previous{};
    std::array<bool, kSignals.size()> m_taken{};
    std::unique_ptr<QSocketNotifier> m_notifier;
};
