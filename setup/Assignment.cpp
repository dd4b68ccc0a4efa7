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

void Assignment::armProbe(quint32 address, Long kind) {
    m_parts.progress.enter(RunProgress::Stage::Waiting, Sequencer::kProbesPerCycle);
    m_run.probesSent = 0;
    m_parts.sequencer.armProbeCycle(address, kind);
}

void Assignment::report(const RunTimeError& e, const char* procedure) {
    m_parts.status.showMessage(e.report(QStringLiteral(" (%1, %2,%3)")
                                            .arg(QLatin1String(procedure))
                                            .arg(m_run.phase)
                                            .arg(m_run.dialogueStep)));
    m_parts.window.unlockWindow();
}

void Assignment::openMenu(const AdaptorTarget& target, quint32 address, bool reachedAtCurrent) {
    m_parts.progress.enter(RunProgress::Stage::Dialogue, RunProgress::kMenuLines);
    SocketControl& menu = m_parts.setupMenuSocket;
    closeFully(menu);
    menu.setProtocol(SocketControl::Tcp);
    menu.setRemotePort(kMenuPort);
    menu.setRemoteAddress(address);
    menu.connect();
    m_parts.setupMenu.begin(target, reachedAtCurrent);
    m_parts.sequencer.startDialogue(RunState::kSetupMenu);
}

void Assignment::openCommandLine(const AdaptorTarget& target, quint32 address, bool reachedAtCurrent) {
    m_parts.progress.enter(RunProgress::Stage::Dialogue, RunProgress::kCommandLines);
    SocketControl& socket = m_parts.commandLineSocket;
    if (socket.state() != SocketControl::Closed)
        socket.close();
    socket.setRemoteAddress(address);
    socket.setRemotePort(kTelnetPort);
    socket.connect();
    m_parts.window.waitForConnection(socket);
    m_parts.transcriptBox.setText(QStringLiteral("Connected"));
    m_parts.commandLine.begin(target, !reachedAtCurrent);
    m_parts.sequencer.startDialogue(RunState::kCommandLine);
}

void Assignment::readdress(const AdaptorTarget& target, quint32 current) {
    try {
        // From here on the dialogue and the sign test go to the address the
        // adaptor has; it takes on the new one at its next power cycle.
        m_parts.signTest.aimAt(current);
        if (target.family() == AddressRules::kBroadcastFamily)
            openMenu(target, current, true);
        else
            openCommandLine(target, current, true);
    } catch (const RunTimeError& e) {
        report(e, "Readdress");
    }
}

void Assignment::byDatagram(const AdaptorTarget& target) {
    try {
        m_parts.progress.enter(RunProgress::Stage::Assigning);
        SocketControl& socket = m_parts.datagramSocket;
        closeFully(socket);
        socket.setProtocol(SocketControl::Udp);
        socket.setRemotePort(AssignmentDatagram::kPort);
        socket.setRemoteAddress(AssignmentDatagram::kBroadcast);
        socket.setBroadcastScope(target.ip);
        // The fields as they stand now: they stay editable during the pre-check.
        const EntryFields& fields = m_parts.fields;
        const QString datagram =
            AssignmentDatagram::build(fields.field({1, 4}).text(), fields.field({1, 5}).text(),
                                      {fields.field({2, 0}).text(), fields.field({2, 1}).text(),
                                       fields.field({2, 2}).text(), fields.field({2, 3}).text()});
        try {
            socket.sendData(datagram);
        } catch (const RunTimeError&) {
            // Not sent: the probe cycle finds the adaptor silent and says so.
        }
        armProbe(target.ip, RunState::kAfterDatagram);
        socket.close();

        m_parts.window.waitUntil([this] { return m_run.probeCycleDone; });
        if (m_run.probeResult != 0)
            return;

        openMenu(target, target.ip, false);
    } catch (const RunTimeError& e) {
        report(e, "SetBroadcastIP");
    }
}

void Assignment::byNeighbourEntry(const AdaptorTarget& target) {
    try {
        m_parts.progress.enter(RunProgress::Stage::Assigning);
        m_parts.binding.bind(target.ip, target.macOctets);
        armProbe(target.ip, RunState::kAfterArpBinding);
        m_parts.window.waitUntil([this] { return m_run.probeCycleDone; });
        if (m_run.probeResult != 0)
            return;

        openCommandLine(target, target.ip, false);
    } catch (const RunTimeError& e) {
        report(e, "SetIPAddr");
        m_parts.binding.releaseLeftover();
    }
}
