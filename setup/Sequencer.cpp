#include "setup/Sequencer.h"

void Sequencer::tick() {
    // No tick while one of the tick's own message boxes is open. Only the box
    // is guarded: a sign test that waits for its connection after the closing
    // question must not hold up the ticks of a new run started meanwhile.
    if (m_boxOpen)
        return;
    try {
        switch (m_run.phase) {
        case RunState::kProbe:
            probeStep();
            break;
        case RunState::kStop:
            stopStep();
            break;
        case RunState::kCommandLine: {
            const Position before = position();
            if (m_parts.commandLine.step())
                closing([this] { m_parts.commandLine.finish(); });
            watchProgress(before);
            break;
        }
        case RunState::kSetupMenu: {
            // A connection to the menu that failed can never carry the
            // dialogue: say why once and end the run.
            if (m_parts.setupMenuSocket.state() == SocketControl::Error) {
                m_parts.timer.setEnabled(false);
                throw m_parts.setupMenuSocket.lastError();
            }
            const Position before = position();
            if (m_parts.setupMenu.step())
                closing([this] { m_parts.setupMenu.finish(); });
            watchProgress(before);
            break;
        }
        default:
            break;
        }
    } catch (const RunTimeError& e) {
        // The timer keeps running: the same step is tried again on the next tick.
        m_parts.status.showMessage(
            e.report(QStringLiteral(" (Timer, %1 %2)").arg(m_run.phase).arg(m_run.dialogueStep)));
        // A dialogue's step that failed is tried again, and the run goes on;
        // one that has waited too long for its prompt is where the run ends.
        const bool dialogue = m_run.phase == RunState::kCommandLine || m_run.phase == RunState::kSetupMenu;
        m_parts.window.unlockWindow(dialogue && m_parts.timer.enabled() &&
                                    e.number() != RunTimeError::NoAnswer);
    }
}

void Sequencer::armProbeCycle(quint32 address, Long kind) {
    m_probeAddress = address;
    m_run.phase = RunState::kProbe;
    m_run.probeCycle = kind;
    m_run.probeCycleDone = false;
    m_parts.timer.setEnabled(true);
}

void Sequencer::startDialogue(Long phase) {
    m_run.phase = phase;
    m_stalledTicks = 0;
    m_parts.timer.setEnabled(true);
}

Sequencer::Position Sequencer::position() const {
    return {m_run.phase, m_run.dialogueStep, int(m_run.counter)};
}

void Sequencer::watchProgress(const Position& before) {
    if (position() != before || !m_parts.timer.enabled()) {
        m_stalledTicks = 0;
        return;
    }
    // A prompt that never comes would otherwise leave the window locked for
    // good: say so once, and let the user start again or leave.
    if (++m_stalledTicks == kStallTicks)
        throw RunTimeError(RunTimeError::NoAnswer);
}

void Sequencer::probeStep() {
    if (!m_parts.probe.start()) {
        showBox(kSocketsNotResponding, MessageBox::OkOnly, MessageBox::NoIcon, QString());
        m_parts.window.unlockWindow();
        m_run.phase = RunState::kStop;
        m_run.probeResult = -1;
        return;
    }

    EchoReply reply;
    m_run.probeResult = m_parts.probe.ping(m_probeAddress, kEchoData, reply);
    // A host that drops echo requests still answers ARP for its address: in
    // the pre-check that answer counts as the echo's would.
    if (m_run.probeResult != 0 && m_run.probeCycle == RunState::kPreCheck &&
        m_parts.probe.arpProbe(m_probeAddress) == 0)
        m_run.probeResult = 0;
    try {
        m_run.probesSent += 1;
        m_parts.progress.step(int(m_run.probesSent));
        if (m_run.probeResult == 0) {
            m_run.phase = RunState::kStop;
            if (m_run.probeCycle == RunState::kPreCheck) {
                m_parts.status.showMessage(kAddressExists);
                m_parts.window.unlockWindow();
            }
        } else if (m_run.probesSent == kProbesPerCycle) {
            m_run.phase = RunState::kStop;
            if (m_run.probeCycle != RunState::kPreCheck) {
                m_parts.status.showMessage(kSetupFailed);
                m_parts.window.unlockWindow();
                // The route's entry, if it made one, is of no more use.
                m_parts.binding.release(m_probeAddress);
            }
        }
    } catch (const RunTimeError&) {
        socketsCleanup();
        throw;
    }
    socketsCleanup();
}

void Sequencer::closing(const std::function<void()>& cleanup) {
    m_parts.timer.setEnabled(false);
    m_parts.status.showMessage(kSetupSucceeded);
    m_parts.window.unlockWindow();
    cleanup();
    if (showBox(kTestQuestion, MessageBox::YesNo, MessageBox::NoIcon, kTestTitle) == MessageBox::Yes)
        m_parts.signTest.send();
}

void Sequencer::stopStep() {
    m_parts.timer.setEnabled(false);
    m_run.probeCycleDone = true;
}

void Sequencer::socketsCleanup() {
    if (!m_parts.probe.stop())
        showBox(kCleanupFailed, MessageBox::OkOnly, MessageBox::Exclamation, QString());
}

int Sequencer::showBox(const QString& text, MessageBox::Buttons buttons, MessageBox::Icon icon,
                       const QString& title) {
    m_boxOpen = true;
    struct Leave {
        bool& flag;
        ~Leave() { flag = false; }
    } leave{m_boxOpen};
    return m_parts.messageBox.show(text, buttons, icon, title);
}
