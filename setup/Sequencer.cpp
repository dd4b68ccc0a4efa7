#include "setup/Sequencer.h"

#include "setup/CommandLineDialogue.h"
#include "setup/SetupController.h"
#include "setup/SetupMenuDialogue.h"

void Sequencer::tick() {
    // No tick while one of the tick's own message boxes is open. Only the box
    // is guarded: a sign test that waits for its connection after the closing
    // question must not hold up the ticks of a new run started meanwhile.
    if (m_boxOpen)
        return;
    try {
        switch (m_controller.run.phase) {
        case RunState::kProbe:
            probeStep();
            break;
        case RunState::kStop:
            stopStep();
            break;
        case RunState::kCommandLine: {
            const Position before = position();
            m_controller.commandLine().step();
            watchProgress(before);
            break;
        }
        case RunState::kSetupMenu: {
            // A connection to the menu that failed can never carry the
            // dialogue: say why once and end the run.
            if (m_controller.ports.setupMenuSocket->state() == SocketControl::Error) {
                m_controller.ports.tickTimer->setEnabled(false);
                throw m_controller.ports.setupMenuSocket->lastError();
            }
            const Position before = position();
            m_controller.setupMenu().step();
            watchProgress(before);
            break;
        }
        default:
            break;
        }
    } catch (const RunTimeError& e) {
        // The timer keeps running: the same step is tried again on the next tick.
        m_controller.ports.status->setSimpleText(e.report(QStringLiteral(" (Timer, %1 %2)")
                                                              .arg(m_controller.run.phase)
                                                              .arg(m_controller.run.dialogueStep)));
        // A dialogue's step that failed is tried again, and the run goes on;
        // one that has waited too long for its prompt is where the run ends.
        const bool dialogue = m_controller.run.phase == RunState::kCommandLine ||
                              m_controller.run.phase == RunState::kSetupMenu;
        m_controller.unlockWindow(dialogue && m_controller.ports.tickTimer->enabled() &&
                                  e.number() != RunTimeError::NoAnswer);
    }
}

Sequencer::Position Sequencer::position() const {
    return {m_controller.run.phase, m_controller.run.dialogueStep, int(m_controller.run.counter)};
}

void Sequencer::watchProgress(const Position& before) {
    if (position() != before || !m_controller.ports.tickTimer->enabled()) {
        m_stalledTicks = 0;
        return;
    }
    // A prompt that never comes would otherwise leave the window locked for
    // good: say so once, and let the user start again or leave.
    if (++m_stalledTicks == kStallTicks)
        throw RunTimeError(RunTimeError::NoAnswer);
}

void Sequencer::probeStep() {

    if (!m_controller.ports.probe->start()) {
        showBox(kSocketsNotResponding, MessageBox::OkOnly, MessageBox::NoIcon, QString());
        m_controller.unlockWindow();
        m_controller.run.phase = RunState::kStop;
        m_controller.run.probeResult = -1;
        return;
    }

    EchoReply reply;
    m_controller.run.probeResult = m_controller.ports.probe->ping(m_controller.run.ip, kEchoData, reply);
    // A host that drops echo requests still answers ARP for its address: in
    // the pre-check that answer counts as the echo's would.
    if (m_controller.run.probeResult != 0 && m_controller.run.probeCycle == RunState::kPreCheck &&
        m_controller.ports.probe->arpProbe(m_controller.run.ip) == 0)
        m_controller.run.probeResult = 0;
    try {
        m_controller.run.probesSent += 1;
        m_controller.progress().step(int(m_controller.run.probesSent));
        if (m_controller.run.probeResult == 0) {
            m_controller.run.phase = RunState::kStop;
            if (m_controller.run.probeCycle == RunState::kPreCheck) {
                m_controller.ports.status->setSimpleText(kAddressExists);
                m_controller.unlockWindow();
            }
        } else if (m_controller.run.probesSent == kProbesPerCycle) {
            m_controller.run.phase = RunState::kStop;
            if (m_controller.run.probeCycle != RunState::kPreCheck) {
                m_controller.ports.status->setSimpleText(kSetupFailed);
                m_controller.unlockWindow();
                releaseNeighbourEntry();
            }
        }
    } catch (const RunTimeError&) {
        socketsCleanup();
        throw;
    }
    socketsCleanup();
}

void Sequencer::closing(const std::function<void()>& cleanup) {
    m_controller.ports.tickTimer->setEnabled(false);
    m_controller.ports.status->setSimpleText(kSetupSucceeded);
    m_controller.unlockWindow();
    cleanup();
    if (showBox(kTestQuestion, MessageBox::YesNo, MessageBox::NoIcon, kTestTitle) == MessageBox::Yes)
        m_controller.sendSignTest();
}

void Sequencer::stopStep() {
    m_controller.ports.tickTimer->setEnabled(false);
    m_controller.run.probeCycleDone = true;
}

void Sequencer::socketsCleanup() {
    if (!m_controller.ports.probe->stop())
        showBox(kCleanupFailed, MessageBox::OkOnly, MessageBox::Exclamation, QString());
}

int Sequencer::showBox(const QString& text, MessageBox::Buttons buttons, MessageBox::Icon icon,
                       const QString& title) {
    m_boxOpen = true;
    struct Leave {
        bool& flag;
        ~Leave() { flag = false; }
    } leave{m_boxOpen};
    return m_controller.ports.messageBox->show(text, buttons, icon, title);
}

void Sequencer::releaseNeighbourEntry() {
    m_controller.releaseNeighbourEntry();
}
