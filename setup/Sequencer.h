#pragma once

#include "base/RunTypes.h"
#include "base/WindowPorts.h"

#include <QString>

#include <functional>

class SetupController;

// The timer-driven sequencer: each tick of tickTimer performs at most one step of
// the phase in phase (a probe, the stop of a probe cycle, or a step of a
// device dialogue) and reports every outcome of a setup run.
class Sequencer {
public:
    inline static const QString kAddressExists = QStringLiteral("IP address already exists");
    inline static const QString kSetupFailed = QStringLiteral("Setup IP Address Failed.");
    inline static const QString kSetupSucceeded =
        QStringLiteral("Setup IP address is successful, reboot adaptor to take effect.");
    inline static const QString kSocketsNotResponding =
        QStringLiteral("Windows Sockets for 32 bit Windows ") +
        QStringLiteral("environments is not successfully responding.");
    inline static const QString kCleanupFailed = QStringLiteral("Windows Sockets error occurred in Cleanup.");
    inline static const QString kEchoData = QStringLiteral("Echo This");
    inline static const QString kTestQuestion =
        QStringLiteral("Do you want to send a test message to the sign? ") + QChar(10) +
        QStringLiteral("(Before sending test message, you need reboot adaptor)");
    inline static const QString kTestTitle = QStringLiteral("Test IP Address");
    static constexpr int kProbesPerCycle = 3;
    // Ticks a dialogue may wait for a prompt before the user is told and the
    // window unlocked (the dialogue keeps listening all the same).
    static constexpr int kStallTicks = 10;

    explicit Sequencer(SetupController& controller)
        : m_controller(controller) {}

    // tickTimer's tick.
    void tick();
    // The end of a successful dialogue: stop, report, unlock, the route's own
    // clean-up, then offer the sign test.
    void closing(const std::function<void()>& cleanup);
    // A dialogue starts: its ticks without progress are counted from zero.
    void dialogueStarting() { m_stalledTicks = 0; }

private:
    void probeStep();
    void stopStep();
    void socketsCleanup();
    // A message box of the tick's own; no tick runs while it is open.
    int showBox(const QString& text, MessageBox::Buttons buttons, MessageBox::Icon icon,
                const QString& title);
    void releaseNeighbourEntry();
    // Where the running dialogue stands.
    struct Position {
        Long timerState = -1;
        Long state = -1;
        int counter = -1;
        friend bool operator==(const Position&, const Position&) = default;
    };
    [[nodiscard]] Position position() const;
    // Counts dialogue ticks that made no progress; reports the stall once.
    void watchProgress(const Position& before);

    SetupController& m_controller;
    bool m_boxOpen = false;
    int m_stalledTicks = 0;
};
