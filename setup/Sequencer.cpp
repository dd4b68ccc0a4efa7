#include "setup/Sequencer.h"

#include "setup/CommandLineDialogue.h"
#include "setup/Form1.h"
#include "setup/SetupMenuDialogue.h"

void Sequencer::tick() {
    // No tick while one of the tick's own message boxes is open. Only the box
    // is guarded: a sign test that waits for its connection after the closing
    // question must not hold up the ticks of a new run started meanwhile.
    if (m_boxOpen)
        return;
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
            // A connection to the menu that failed can never carry the
            // dialogue: say why once and end the run.
            if (f.ui.wsMenuTelnet->state() == SocketControl::Error) {
                f.ui.Timer1->setEnabled(false);
                throw f.ui.wsMenuTelnet->lastError();
            }
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
        // A dialogue's step that failed is tried again, and the run goes on;
        // one that has waited too long for its prompt is where the run ends.
        const bool dialogue = f.m.mTimerState == RunState::kCommandLine || f.m.mTimerState == RunState::kSetupMenu;
        f.unlockWindow(dialogue && f.ui.Timer1->enabled() && e.number() != RunTimeError::NoAnswer);
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
        showBox(kSocketsNotResponding, MessageBox::OkOnly, MessageBox::NoIcon, QString());
        f.unlockWindow();
        f.m.mTimerState = RunState::kStop;
        f.m.mPingResult = -1;
        return;
    }

    EchoReply reply;
    f.m.mPingResult = f.ui.probe->Ping(f.m.mIPAddress, kEchoData, reply);
    // A host that drops echo requests still answers ARP for its address: in
    // the pre-check that answer counts as the echo's would.
    if (f.m.mPingResult != 0 && f.m.mProbeMode == RunState::kPreCheck &&
        f.ui.probe->ArpProbe(f.m.mIPAddress) == 0)
        f.m.mPingResult = 0;
    try {
        f.m.mPingCount += 1;
        f.progress().step(int(f.m.mPingCount));
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
    if (showBox(kTestQuestion, MessageBox::YesNo, MessageBox::NoIcon, kTestTitle) == MessageBox::Yes)
        f.SendTest();
}

void Sequencer::stopStep() {
    f.ui.Timer1->setEnabled(false);
    f.m.mProbeDone = kTrue;
}

void Sequencer::socketsCleanup() {
    if (!f.ui.probe->SocketsCleanup())
        showBox(kCleanupFailed, MessageBox::OkOnly, MessageBox::Exclamation, QString());
}

int Sequencer::showBox(const QString& text, MessageBox::Buttons buttons, MessageBox::Icon icon,
                       const QString& title) {
    m_boxOpen = true;
    struct Leave {
        bool& flag;
        ~Leave() { flag = false; }
    } leave{m_boxOpen};
    return f.ui.messageBox->show(text, buttons, icon, title);
}

void Sequencer::launchArpDelete() {
    f.releaseNeighbourEntry();
}
