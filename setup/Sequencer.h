#pragma once

#include "base/RunTypes.h"
#include "base/WindowPorts.h"
#include "net/EchoProbe.h"
#include "net/SocketControl.h"
#include "setup/CommandLineDialogue.h"
#include "setup/NeighbourBinding.h"
#include "setup/RunProgress.h"
#include "setup/RunState.h"
#include "setup/RunWindow.h"
#include "setup/SetupMenuDialogue.h"
#include "setup/SignTest.h"

#include <QString>

#include <functional>

// The timer-driven sequencer: each tick performs at most one step of the
// stage the run is in (a probe, the stop of a probe cycle, or a step of a
// device dialogue) and reports every outcome of a setup run.
class Sequencer {
public:
    inline static const QString kAddressExists = QStringLiteral("IP address already exists");
    // A probe the network helper refused, or that could not be sent, says
    // nothing about the address: a run never assigns one it could not check.
    inline static const QString kNotChecked =
        QStringLiteral("The address could not be checked: nothing was assigned");
    inline static const QString kNotCheckedAfter =
        QStringLiteral("The adaptor could not be looked for at its new address");
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
    // A probe that was not asked is asked again once in its tick: a helper
    // that had ended is started again, and a refusal for the host's pace has
    // waited out its own second by then.
    static constexpr int kNotAskedRetries = 1;
    // Ticks a dialogue may wait for a prompt before the user is told and the
    // window unlocked (the dialogue keeps listening all the same).
    static constexpr int kStallTicks = 10;

    // What the sequencer works with: the window's parts it drives, and the
    // run's other parts it hands over to.
    struct Parts {
        Timer& timer;
        StatusBar& status;
        MessageBox& messageBox;
        EchoProbe& probe;
        SocketControl& setupMenuSocket;
        RunProgress& progress;
        RunWindow& window;
        NeighbourBinding& binding;
        CommandLineDialogue& commandLine;
        SetupMenuDialogue& setupMenu;
        SignTest& signTest;
    };

    Sequencer(RunState& run, const Parts& parts)
        : m_run(run)
        , m_parts(parts) {}

    // The timer's tick.
    void tick();
    // A probe cycle at the address runs on the ticks from now on, as the run's
    // stage (Checking, or Waiting after the assignment). goOn runs on the tick
    // that ends the cycle when its verdict lets the run go on: a silent address
    // in the pre-check, an answering adaptor after the assignment. Every other
    // verdict ends the run.
    void armProbeCycle(quint32 address, RunStage cycle, std::function<void()> goOn);
    // A dialogue (RunStage::CommandLine or SetupMenu), begun by its route,
    // runs on the ticks from now on; its ticks without progress are counted
    // from zero.
    void startDialogue(RunStage dialogue);
    // The end of a successful dialogue: stop, report, the route's own
    // clean-up, then the question whether to test the sign.
    void closing(const std::function<void()>& cleanup);
    // No cycle or dialogue of an earlier run goes on.
    void abandon();
    // The number the error lines give for where the run stands: 0 a probe
    // cycle, 2 its end and what follows it until a dialogue begins, 1 the
    // command line, 3 the setup menu.
    [[nodiscard]] Long phaseNumber() const { return phaseNumber(m_parts.progress.stage()); }

private:
    void probeStep();
    // One probe of the cycle's address, asked again when it was not asked;
    // sets the run's probe result.
    [[nodiscard]] ProbeVerdict probeOnce();
    // A cycle that could not check the address ends the run.
    void notChecked(bool preCheck);
    [[nodiscard]] Long phaseNumber(RunStage stage) const;
    void stopStep();
    void socketsCleanup();
    // A message box of the tick's own; no tick runs while it is open.
    int showBox(const QString& text, MessageBox::Buttons buttons, MessageBox::Icon icon,
                const QString& title);
    // Where the running dialogue stands.
    struct Position {
        RunStage stage = RunStage::Idle;
        bool cycleOver = false;
        Long step = -1;
        int counter = -1;
        friend bool operator==(const Position&, const Position&) = default;
    };
    [[nodiscard]] Position position() const;
    // Counts dialogue ticks that made no progress; reports the stall once.
    void watchProgress(const Position& before);

    RunState& m_run;
    Parts m_parts;
    quint32 m_probeAddress = 0;
    std::function<void()> m_goOn;
    bool m_boxOpen = false;
    int m_stalledTicks = 0;
};
