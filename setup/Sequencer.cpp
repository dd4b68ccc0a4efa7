#include "setup/Sequencer.h"

void Sequencer::tick() {
    // No tick while one of the tick's own message boxes is open. Only the box
    // is guarded: a sign test that waits for its connection after the closing
    // question must not hold up the ticks of a new run started meanwhile.
    if (m_boxOpen)
        return;
    const RunStage stage = m_parts.progress.stage();
    try {
        if (m_run.cycleOver) {
            stopStep();
            return;
        }
        switch (stage) {
        case RunStage::Checking:
        case RunStage::Waiting:
            probeStep();
            break;
        case RunStage::CommandLine: {
            const Position before = position();
            if (m_parts.commandLine.step())
                closing([this] { m_parts.commandLine.finish(); });
            watchProgress(before);
            break;
        }
        case RunStage::SetupMenu: {
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
        // A step that ended the run is told where the run stood when it began.
        const RunStage now = m_parts.progress.stage() == RunStage::Ended ? stage : m_parts.progress.stage();
        m_parts.status.showMessage(
            e.report(QStringLiteral(" (Timer, %1 %2)").arg(phaseNumber(now)).arg(m_run.dialogueStep)));
        // A dialogue's step that failed is tried again, and the run goes on;
        // one that has waited too long for its prompt is where the run ends.
        const bool dialogue = isDialogue(now) && !m_run.cycleOver;
        if (e.number() == RunTimeError::NoAnswer)
            m_parts.window.endRun(RunOutcome::Stalled);
        else if (dialogue && m_parts.timer.enabled())
            m_parts.window.handBack();
        else
            m_parts.window.endRun(RunOutcome::Failed);
    }
}

void Sequencer::armProbeCycle(quint32 address, RunStage cycle, std::function<void()> goOn) {
    m_parts.progress.enter(cycle, kProbesPerCycle);
    m_probeAddress = address;
    m_goOn = std::move(goOn);
    m_run.probesSent = 0;
    m_run.cycleOver = false;
    m_run.probeCycleDone = false;
    m_parts.timer.setEnabled(true);
}

void Sequencer::startDialogue(RunStage dialogue) {
    // The command line's stage began with its connection attempt; the setup
    // menu's begins here, in the call that connects it.
    if (m_parts.progress.stage() != dialogue)
        m_parts.progress.enter(dialogue, dialogue == RunStage::SetupMenu ? RunProgress::kMenuLines
                                                                         : RunProgress::kCommandLines);
    m_goOn = nullptr;
    m_run.cycleOver = false;
    m_stalledTicks = 0;
    m_parts.timer.setEnabled(true);
}

Long Sequencer::phaseNumber(RunStage stage) const {
    if (m_run.cycleOver)
        return 2;
    switch (stage) {
    case RunStage::CommandLine:
        return 1;
    case RunStage::SetupMenu:
        return 3;
    default:
        return 0;
    }
}

void Sequencer::abandon() {
    m_goOn = nullptr;
}

Sequencer::Position Sequencer::position() const {
    return {m_parts.progress.stage(), m_run.cycleOver, m_run.dialogueStep, int(m_run.counter)};
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
    const bool preCheck = m_parts.progress.stage() == RunStage::Checking;
    if (!m_parts.probe.start()) {
        showBox(kSocketsNotResponding, MessageBox::OkOnly, MessageBox::NoIcon, QString());
        m_run.probeResult = -1;
        if (preCheck) {
            // No probe counted: the pre-check is asked again on the next tick,
            // with its box, until probes can be made; meanwhile the window is
            // the user's, to start again or leave.
            m_parts.window.handBack();
            return;
        }
        // The route has given the address away and cannot see the adaptor
        // take it: say so, not that the setup is still in process.
        m_run.cycleOver = true;
        m_goOn = nullptr;
        m_parts.status.showMessage(kNotCheckedAfter);
        m_parts.binding.releaseLeftover();
        m_parts.window.endRun(RunOutcome::NotChecked);
        return;
    }

    try {
        const ProbeVerdict verdict = probeOnce();
        if (verdict == ProbeVerdict::NotAsked) {
            notChecked(preCheck);
        } else {
            m_run.probesSent += 1;
            m_parts.progress.step(int(m_run.probesSent));
            if (verdict == ProbeVerdict::Answered) {
                m_run.cycleOver = true;
                if (preCheck) {
                    m_goOn = nullptr;
                    m_parts.status.showMessage(kAddressExists);
                    m_parts.window.endRun(RunOutcome::AddressTaken);
                }
            } else if (m_run.probesSent == kProbesPerCycle) {
                m_run.cycleOver = true;
                if (!preCheck) {
                    m_goOn = nullptr;
                    m_parts.status.showMessage(kSetupFailed);
                    m_parts.window.endRun(RunOutcome::NoAnswer);
                    // The route's entry, if it made one, is of no more use.
                    m_parts.binding.release(m_probeAddress);
                }
            }
        }
    } catch (const RunTimeError&) {
        socketsCleanup();
        throw;
    }
    socketsCleanup();
}

ProbeVerdict Sequencer::probeOnce() {
    const auto ask = [](const std::function<Long()>& probe) {
        Long status = probe();
        for (int retry = 0; retry < kNotAskedRetries && verdictOf(status) == ProbeVerdict::NotAsked; ++retry)
            status = probe();
        return status;
    };
    const quint32 address = m_probeAddress;
    EchoReply reply;
    m_run.probeResult = ask([&] { return m_parts.probe.ping(address, kEchoData, reply); });
    ProbeVerdict verdict = verdictOf(m_run.probeResult);
    // A host that drops echo requests still answers ARP for its address: in
    // the pre-check that answer counts as the echo's would. Where this host
    // cannot ask ARP, the echo's silence stands.
    if (verdict == ProbeVerdict::Silent && m_parts.progress.stage() == RunStage::Checking) {
        const Long arp = ask([&] { return m_parts.probe.arpProbe(address); });
        if (arp == ProbeStatus::Answered) {
            m_run.probeResult = 0;
            verdict = ProbeVerdict::Answered;
        } else if (arp != ProbeStatus::NoArpHere && verdictOf(arp) == ProbeVerdict::NotAsked) {
            verdict = ProbeVerdict::NotAsked;
        }
    }
    return verdict;
}

void Sequencer::notChecked(bool preCheck) {
    m_run.cycleOver = true;
    m_goOn = nullptr;
    if (preCheck) {
        m_parts.status.showMessage(kNotChecked);
    } else {
        m_parts.status.showMessage(kNotCheckedAfter);
        m_parts.binding.releaseLeftover();
    }
    m_parts.window.endRun(RunOutcome::NotChecked);
}

void Sequencer::closing(const std::function<void()>& cleanup) {
    m_parts.timer.setEnabled(false);
    m_parts.status.showMessage(kSetupSucceeded);
    m_parts.window.endRun(RunOutcome::Assigned);
    cleanup();
    // The question waits in the event loop, not in this tick: the run's
    // sign test is its answer.
    m_parts.messageBox.ask(kTestQuestion, MessageBox::YesNo, MessageBox::NoIcon, kTestTitle,
                           [this](int answer) {
                               if (answer == MessageBox::Yes)
                                   m_parts.signTest.send();
                           });
}

void Sequencer::stopStep() {
    m_parts.timer.setEnabled(false);
    m_run.probeCycleDone = true;
    if (auto goOn = std::exchange(m_goOn, nullptr))
        goOn();
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
