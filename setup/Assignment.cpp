#include "setup/Assignment.h"

#include "net/AssignmentDatagram.h"

namespace {

// Closes until the control reads closed; a control that never does is an
// error rather than a hang.
void closeFully(SocketControl& socket) {
    for (int tries = 0; socket.state() != SocketControl::Closed; ++tries) {
        if (tries == 100)
            throw RunTimeError(RunTimeError::SocketWrongState);
        socket.close();
    }
}

} // namespace

void Assignment::report(const RunTimeError& e, const char* procedure) {
    m_parts.status.showMessage(e.report(QStringLiteral(" (%1, %2,%3)")
                                            .arg(QLatin1String(procedure))
                                            .arg(m_parts.sequencer.phaseNumber())
                                            .arg(m_run.dialogueStep)));
    m_parts.window.endRun(RunOutcome::Failed);
}

void Assignment::abandon() {
    m_awaiting.reset();
}

void Assignment::openMenu(const AdaptorTarget& target, quint32 address, bool reachedAtCurrent) {
    SocketControl& menu = m_parts.setupMenuSocket;
    closeFully(menu);
    menu.setProtocol(SocketControl::Tcp);
    menu.setRemotePort(kMenuPort);
    menu.setRemoteAddress(address);
    menu.connect();
    m_parts.setupMenu.begin(target, reachedAtCurrent);
    m_parts.sequencer.startDialogue(RunStage::SetupMenu);
}

void Assignment::openCommandLine(const AdaptorTarget& target, quint32 address, bool reachedAtCurrent,
                                 const char* procedure) {
    m_parts.progress.enter(RunStage::CommandLine, RunProgress::kCommandLines);
    SocketControl& socket = m_parts.commandLineSocket;
    if (socket.state() != SocketControl::Closed)
        socket.close();
    socket.setRemoteAddress(address);
    socket.setRemotePort(kTelnetPort);
    socket.connect();
    m_parts.transcriptBox.setText(QStringLiteral("Connecting"));
    // The dialogue begins once the attempt has ended (commandLineConnected).
    m_awaiting = Awaiting{target, reachedAtCurrent, procedure};
}

void Assignment::commandLineConnected() {
    if (!m_awaiting || m_parts.commandLineSocket.state() == SocketControl::Connecting)
        return;
    const Awaiting pending = *std::exchange(m_awaiting, std::nullopt);
    try {
        SocketControl& socket = m_parts.commandLineSocket;
        if (socket.state() != SocketControl::Connected)
            throw socket.lastError();
        m_parts.transcriptBox.setText(QStringLiteral("Connected"));
        m_parts.commandLine.begin(pending.target, !pending.reachedAtCurrent);
        m_parts.sequencer.startDialogue(RunStage::CommandLine);
    } catch (const RunTimeError& e) {
        report(e, pending.procedure);
        m_parts.binding.releaseLeftover();
    }
}

void Assignment::readdress(const AdaptorTarget& target, quint32 current) {
    try {
        // From here on the dialogue and the sign test go to the address the
        // adaptor has; it takes on the new one at its next power cycle.
        m_parts.signTest.aimAt(current);
        if (target.family() == AddressRules::kBroadcastFamily)
            openMenu(target, current, true);
        else
            openCommandLine(target, current, true, "Readdress");
    } catch (const RunTimeError& e) {
        report(e, "Readdress");
    }
}

void Assignment::byDatagram(const AdaptorTarget& target) {
    try {
        m_parts.progress.enter(RunStage::Assigning);
        SocketControl& socket = m_parts.datagramSocket;
        closeFully(socket);
        socket.setProtocol(SocketControl::Udp);
        socket.setRemotePort(AssignmentDatagram::kPort);
        socket.setRemoteAddress(AssignmentDatagram::kBroadcast);
        socket.setBroadcastScope(target.ip);
        // The checked target's, never the fields as they stand now.
        const QString datagram =
            AssignmentDatagram::build(target.macOctets[4], target.macOctets[5], target.ip);
        try {
            socket.sendData(datagram);
        } catch (const RunTimeError&) {
            // Not sent: the probe cycle finds the adaptor silent and says so.
        }
        m_parts.sequencer.armProbeCycle(target.ip, RunStage::Waiting, [this, target] {
            try {
                openMenu(target, target.ip, false);
            } catch (const RunTimeError& e) {
                report(e, "SetBroadcastIP");
            }
        });
        socket.close();
    } catch (const RunTimeError& e) {
        report(e, "SetBroadcastIP");
    }
}

void Assignment::byNeighbourEntry(const AdaptorTarget& target) {
    try {
        m_parts.progress.enter(RunStage::Assigning);
        m_parts.binding.bind(target.ip, target.macOctets);
        m_parts.sequencer.armProbeCycle(target.ip, RunStage::Waiting, [this, target] {
            try {
                openCommandLine(target, target.ip, false, "SetIPAddr");
            } catch (const RunTimeError& e) {
                report(e, "SetIPAddr");
                m_parts.binding.releaseLeftover();
            }
        });
    } catch (const RunTimeError& e) {
        report(e, "SetIPAddr");
        m_parts.binding.releaseLeftover();
    }
}
