#include "setup/Sequencer.h"

#include "setup/CommandLineDialogue.h"
#include "setup/Form1.h"
#include "setup/SetupMenuDialogue.h"

void Sequencer::tick() {
    // The tick must not run again while one of its own message boxes is open.
    if (m_inTick)
        return;
    m_inTick = true;
    struct Leave {
        bool& flag;
        ~Leave() { flag = false; }
    } leave{m_inTick};

    try {
        switch (f.m.mTimerState) {
        case RunState::kProbe:
            probeStep();
            break;
        case RunState::kStop:
            stopStep();
            break;
        case RunState::kCommandLine: {
            const Position before = position();
            f.commandLine().step();
            watchProgress(before);
            break;
        }
        case RunState::kSetupMenu: {
            const Position before = position();
            f.setupMenu().step();
            watchProgress(before);
            break;
        }
        default:
            break;
        }
    } catch (const RunTimeError& e) {
        // The timer keeps running: the same step is tried again on the next tick.
        f.ui.status->setSimpleText(
            e.report(QStringLiteral(" (Timer, %1 %2)").arg(f.m.mTimerState).arg(f.m.mState)));
        f.unlockWindow();
    }
}

Sequencer::Position Sequencer::position() const {
    return {f.m.mTimerState, f.m.mState, int(f.m.mCounter)};
}

void Sequencer::watchProgress(const Position& before) {
    if (position() != before || !f.ui.Timer1->enabled()) {
        m_stalledTicks = 0;
        return;
    }
    // A prompt that never comes would otherwise leave the window locked for
    // good: say so once, and let the user start again or leave.
    if (++m_stalledTicks == kStallTicks)
        throw RunTimeError(RunTimeError::NoAnswer);
}

void Sequencer::probeStep() {

    if (!f.ui.probe->SocketsInitialize()) {
        f.ui.messageBox->show(kSocketsNotResponding, MessageBox::OkOnly, MessageBox::NoIcon, QString());
        f.unlockWindow();
        f.m.mTimerState = RunState::kStop;
        f.m.mPingResult = -1;
        return;
    }

    EchoReply reply;
    f.m.mPingResult = f.ui.probe->Ping(f.m.mIPAddress, kEchoData, reply);
    try {
        f.m.mPingCount += 1;
        if (f.m.mPingResult == 0) {
            f.m.mTimerState = RunState::kStop;
            if (f.m.mProbeMode == RunState::kPreCheck) {
                f.ui.status->setSimpleText(kAddressExists);
                f.unlockWindow();
            }
        } else if (f.m.mPingCount == kProbesPerCycle) {
            f.m.mTimerState = RunState::kStop;
            if (f.m.mProbeMode != RunState::kPreCheck) {
                f.ui.status->setSimpleText(kSetupFailed);
                f.unlockWindow();
                launchArpDelete();
            }
        }
    } catch (const RunTimeError&) {
        socketsCleanup();
        throw;
    }
    socketsCleanup();
}

void Sequencer::closing(const std::function<void()>& cleanup) {
    f.ui.Timer1->setEnabled(false);
    f.ui.status->setSimpleText(kSetupSucceeded);
    f.unlockWindow();
    cleanup();
    if (f.ui.messageBox->show(kTestQuestion, MessageBox::YesNo, MessageBox::NoIcon, kTestTitle) ==
        MessageBox::Yes)
        f.SendTest();
}

void Sequencer::stopStep() {
    f.ui.Timer1->setEnabled(false);
    f.m.mProbeDone = kTrue;
}

void Sequencer::socketsCleanup() {
    if (!f.ui.probe->SocketsCleanup())
        f.ui.messageBox->show(kCleanupFailed, MessageBox::OkOnly, MessageBox::Exclamation, QString());
}

void Sequencer::launchArpDelete() {
    f.ui.host->launch(QStringLiteral("arp -d ") + f.m.mIPAddress, HostCommand::kMinimizedFocus);
}
