#include "setup/SignTest.h"

#include "setup/Form1.h"
#include "signtest/SignMessages.h"

void SignTest::SendTest() {
    SocketControl& ws = *f.ui.wsTest;
    f.progress().enter(RunProgress::Stage::SignTest);
    try {
        if (ws.state() != SocketControl::Closed)
            ws.close();
        f.m.mTestSent = kFalse;
        ws.setProtocol(SocketControl::Tcp);
        ws.setRemoteHost(f.adaptorAddress());
        ws.setRemotePort(kSignPort);
        ws.connect();
        f.waitForConnection(ws);
        f.ui.Text5->setText(QStringLiteral("Connected"));
        ws.sendData(SignMessages::first());
        ws.sendData(SignMessages::second());
        f.m.mTestSent = kTrue;
    } catch (const RunTimeError& e) {
        f.ui.status->setSimpleText(e.report(QStringLiteral(" (SendTest)")));
        f.unlockWindow();
    }
}

void SignTest::SendComplete() {
    if (f.m.mTestSent == kFalse)
        return;
    f.ui.wsTest->close();
    f.ui.status->setSimpleText(QString());
    f.progress().ended(kHandedOver);
}
