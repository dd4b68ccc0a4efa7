#include "setup/Assignment.h"

#include "address/AddressRules.h"
#include "net/AssignmentDatagram.h"
#include "setup/Sequencer.h"
#include "setup/SetupController.h"

namespace {

// Closes until the control reads closed; a control that never does is an
// error rather than a hang.
void closeFully(SocketControl& ws) {
    for (int tries = 0; ws.state() != SocketControl::Closed; ++tries) {
        if (tries == 100)
            throw RunTimeError(RunTimeError::SocketWrongState);
        ws.close();
    }
}

} // namespace

void Assignment::armProbe(Long mode) {
    m_controller.progress().enter(RunProgress::Stage::Waiting, Sequencer::kProbesPerCycle);
    m_controller.run.probesSent = 0;
    m_controller.run.phase = RunState::kProbe;
    m_controller.run.probeCycleDone = false;
    m_controller.run.probeCycle = mode;

    m_controller.ports.tickTimer->setEnabled(true);
}

void Assignment::openMenu(const QString& address) {
    m_controller.progress().enter(RunProgress::Stage::Dialogue, RunProgress::kMenuLines);
    SocketControl& menu = *m_controller.ports.setupMenuSocket;
    closeFully(menu);
    menu.setProtocol(SocketControl::Tcp);
    menu.setRemotePort(kMenuPort);
    menu.setRemoteHost(address);
    menu.connect();
    // The dialogue's first step fails until the connection stands, and is tried again.
    m_controller.run.dialogueStep = 0;
    m_controller.run.phase = RunState::kSetupMenu;
    m_controller.run.menuChunkCount = 0;
    m_controller.sequencer().dialogueStarting();
    m_controller.ports.tickTimer->setEnabled(true);
}

void Assignment::openCommandLine(const QString& address) {
    m_controller.progress().enter(RunProgress::Stage::Dialogue, RunProgress::kCommandLines);
    SocketControl& ws = *m_controller.ports.commandLineSocket;
    if (ws.state() != SocketControl::Closed)
        ws.close();
    ws.setRemoteHost(address);
    ws.setRemotePort(QStringLiteral("23").toInt());
    ws.connect();
    m_controller.waitForConnection(ws);
    m_controller.ports.transcriptBox->setText(QStringLiteral("Connected"));
    m_controller.run.counter = 0;
    m_controller.run.phase = RunState::kCommandLine;
    m_controller.run.dialogueStep = 0;
    m_controller.sequencer().dialogueStarting();
    m_controller.ports.tickTimer->setEnabled(true);
}

void Assignment::readdress(const QString& current) {
    try {
        // From here on the dialogue and the sign test go to the address the
        // adaptor has; it takes on the new one at its next power cycle.
        m_controller.reachingAt(current);
        if (AddressRules::macFamily(m_controller.run.mac) == AddressRules::kBroadcastFamily)
            openMenu(current);
        else
            openCommandLine(current);
    } catch (const RunTimeError& e) {
        m_controller.ports.status->setSimpleText(e.report(QStringLiteral(" (Readdress, %1,%2)")
                                                              .arg(m_controller.run.phase)
                                                              .arg(m_controller.run.dialogueStep)));
        m_controller.unlockWindow();
    }
}

void Assignment::assignByDatagram() {
    try {
        m_controller.progress().enter(RunProgress::Stage::Assigning);
        SocketControl& ws = *m_controller.ports.datagramSocket;
        closeFully(ws);
        ws.setProtocol(SocketControl::Udp);
        ws.setRemotePort(AssignmentDatagram::kPort);
        ws.setRemoteHost(AssignmentDatagram::kBroadcast);
        ws.setBroadcastScope(m_controller.run.ip);
        // The fields as they stand now: they stay editable during the pre-check.
        const QString datagram =
            AssignmentDatagram::build(m_controller.field({1, 4}).text(), m_controller.field({1, 5}).text(),
                                      {m_controller.field({2, 0}).text(), m_controller.field({2, 1}).text(),
                                       m_controller.field({2, 2}).text(), m_controller.field({2, 3}).text()});
        try {
            ws.sendData(datagram);
        } catch (const RunTimeError&) {
            // Not sent: the probe cycle finds the adaptor silent and says so.
        }
        armProbe(RunState::kAfterDatagram);
        ws.close();

        m_controller.waitUntil([this] { return m_controller.run.probeCycleDone; });
        if (m_controller.run.probeResult != 0)
            return;

        openMenu(m_controller.run.ip);
    } catch (const RunTimeError& e) {
        m_controller.ports.status->setSimpleText(e.report(QStringLiteral(" (SetBroadcastIP, %1,%2)")
                                                              .arg(m_controller.run.phase)
                                                              .arg(m_controller.run.dialogueStep)));
        m_controller.unlockWindow();
    }
}

void Assignment::assignByNeighbourEntry() {
    try {
        m_controller.progress().enter(RunProgress::Stage::Assigning);
        m_controller.ports.host->launch(QStringLiteral("arp -s ") + m_controller.run.ip + QLatin1Char(' ') +
                                            AddressRules::dashedMac(m_controller.run.mac),
                                        HostCommand::kMinimizedFocus);
        m_controller.neighbourEntryMade();
        armProbe(RunState::kAfterArpBinding);
        m_controller.waitUntil([this] { return m_controller.run.probeCycleDone; });
        if (m_controller.run.probeResult != 0)
            return;

        openCommandLine(m_controller.run.ip);
    } catch (const RunTimeError& e) {
        m_controller.ports.status->setSimpleText(e.report(QStringLiteral(" (SetIPAddr, %1,%2)")
                                                              .arg(m_controller.run.phase)
                                                              .arg(m_controller.run.dialogueStep)));
        m_controller.unlockWindow();
        m_controller.releaseLeftoverEntry();
    }
}
