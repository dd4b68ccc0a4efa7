#pragma once

#include <QSocketNotifier>

#include <array>
#include <functional>
#include <memory>

#ifndef Q_OS_WIN
#include <csignal>
#endif

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
//
// On Windows the same comes as a console's control events (Ctrl-C,
// Ctrl-Break, the console closed, the user signing out, the machine shutting
// down), raised on a thread of the system's: the handler posts to the event
// loop, and for the last three holds the system back a while, as it ends the
// program once the handler returns.
class InterruptSignals {
public:
#ifndef Q_OS_WIN
    static constexpr std::array<int, 3> kSignals{SIGINT, SIGTERM, SIGHUP};
#endif

    explicit InterruptSignals(std::function<void()> onInterrupt);
    ~InterruptSignals();
    InterruptSignals(const InterruptSignals&) = delete;
    InterruptSignals& operator=(const InterruptSignals&) = delete;

    // False when the socket pair could not be made or another one is in place.
#ifdef Q_OS_WIN
    [[nodiscard]] bool installed() const { return m_installed; }
#else
    [[nodiscard]] bool installed() const { return m_notifier != nullptr; }
#endif

private:
    std::function<void()> m_onInterrupt;
#ifdef Q_OS_WIN
    bool m_installed = false;
#else
    void takeBytes();

    std::array<int, 2> m_pair{-1, -1};
    std::array<struct sigaction, kSignals.size()> m_previous{};
    std::array<bool, kSignals.size()> m_taken{};
    std::unique_ptr<QSocketNotifier> m_notifier;
#endif
};
