#include "setup/Assignment.h"

#include "address/AddressRules.h"
#include "net/AssignmentDatagram.h"
#include "setup/Form1.h"
#include "setup/Sequencer.h"

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
    f.progress().enter(RunProgress::Stage::Waiting, Sequencer::kProbesPerCycle);
    f.m.mPingCount = 0;
    f.m.mTimerState = RunState::kProbe;
    f.m.mProbeDone = kFalse;
    f.m.mProbeMode = mode;

    f.ui.Timer1->setEnabled(true);
}

void Assignment::openMenu(const QString& address) {
    f.progress().enter(RunProgress::Stage::Dialogue, RunProgress::kMenuLines);
    SocketControl& menu = *f.ui.wsMenuTelnet;
    closeFully(menu);
    menu.setProtocol(SocketControl::Tcp);
    menu.setRemotePort(kMenuPort);
    menu.setRemoteHost(address);
    menu.connect();
    // The dialogue's first step fails until the connection stands, and is tried again.
    f.m.mState = 0;
    f.m.mTimerState = RunState::kSetupMenu;
    f.m.mMenuCount = 0;
    f.sequencer().dialogueStarting();
    f.ui.Timer1->setEnabled(true);
}

void Assignment::openCommandLine(const QString& address) {
    f.progress().enter(RunProgress::Stage::Dialogue, RunProgress::kCommandLines);
    SocketControl& ws = *f.ui.wsClient;
    if (ws.state() != SocketControl::Closed)
        ws.close();
    ws.setRemoteHost(address);
    ws.setRemotePort(QStringLiteral("23").toInt());
    ws.connect();
    f.waitForConnection(ws);
    f.ui.Text5->setText(QStringLiteral("Connected"));
    f.m.mCounter = 0;
    f.m.mTimerState = RunState::kCommandLine;
    f.m.mState = 0;
    f.sequencer().dialogueStarting();
    f.ui.Timer1->setEnabled(true);
}

void Assignment::Readdress(const QString& current) {
    try {
        // From here on the dialogue and the sign test go to the address the
        // adaptor has; it takes on the new one at its next power cycle.
        f.reachingAt(current);
        if (AddressRules::MacFamily(f.m.mMacAddress) == AddressRules::kBroadcastFamily)
            openMenu(current);
        else
            openCommandLine(current);
    } catch (const RunTimeError& e) {
        f.ui.status->setSimpleText(
            e.report(QStringLiteral(" (Readdress, %1,%2)").arg(f.m.mTimerState).arg(f.m.mState)));
        f.unlockWindow();
    }
}

void Assignment::SetBroadcastIP() {
    try {
        f.progress().enter(RunProgress::Stage::Assigning);
        SocketControl& ws = *f.ui.wsBroadcast;
        closeFully(ws);
        ws.setProtocol(SocketControl::Udp);
        ws.setRemotePort(AssignmentDatagram::kPort);
        ws.setRemoteHost(AssignmentDatagram::kBroadcast);
        ws.setBroadcastScope(f.m.mIPAddress);
        // The fields as they stand now: they stay editable during the pre-check.
        const QString datagram = AssignmentDatagram::build(
            f.field({1, 4}).text(), f.field({1, 5}).text(),
            {f.field({2, 0}).text(), f.field({2, 1}).text(), f.field({2, 2}).text(), f.field({2, 3}).text()});
        try {
            ws.sendData(datagram);
        } catch (const RunTimeError&) {
            // Not sent: the probe cycle finds the adaptor silent and says so.
        }
        armProbe(RunState::kAfterDatagram);
        ws.close();

        f.waitUntil([this] { return f.m.mProbeDone != kFalse; });
        if (f.m.mPingResult != 0)
            return;

        openMenu(f.m.mIPAddress);
    } catch (const RunTimeError& e) {
        f.ui.status->setSimpleText(
            e.report(QStringLiteral(" (SetBroadcastIP, %1,%2)").arg(f.m.mTimerState).arg(f.m.mState)));
        f.unlockWindow();
    }
}

void Assignment::SetIPAddr() {
    try {
        f.progress().enter(RunProgress::Stage::Assigning);
        f.ui.host->launch(QStringLiteral("arp -s ") + f.m.mIPAddress + QLatin1Char(' ') +
                              AddressRules::DashedMac(f.m.mMacAddress),
                          HostCommand::kMinimizedFocus);
        f.neighbourEntryMade();
        armProbe(RunState::kAfterArpBinding);
        f.waitUntil([this] { return f.m.mProbeDone != kFalse; });
        if (f.m.mPingResult != 0)
            return;

        openCommandLine(f.m.mIPAddress);
    } catch (const RunTimeError& e) {
        f.ui.status->setSimpleText(
            e.report(QStringLiteral(" (SetIPAddr, %1,%2)").arg(f.m.mTimerState).arg(f.m.mState)));
        f.unlockWindow();
        f.releaseLeftoverEntry();
    }
}
