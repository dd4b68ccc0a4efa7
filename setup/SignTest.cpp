#include "setup/SignTest.h"

#include "setup/SetupController.h"
#include "signtest/SignMessages.h"

void SignTest::send() {
    SocketControl& ws = *m_controller.ports.signSocket;
    m_controller.progress().enter(RunProgress::Stage::SignTest);
    try {
        if (ws.state() != SocketControl::Closed)
            ws.close();
        m_controller.run.signMessagesHandedOver = false;
        ws.setProtocol(SocketControl::Tcp);
        ws.setRemoteHost(m_controller.adaptorAddress());
        ws.setRemotePort(kSignPort);
        ws.connect();
        m_controller.waitForConnection(ws);
        m_controller.ports.transcriptBox->setText(QStringLiteral("Connected"));
        ws.sendData(SignMessages::first());
        ws.sendData(SignMessages::second());
        m_controller.run.signMessagesHandedOver = true;
    } catch (const RunTimeError& e) {
        m_controller.ports.status->setSimpleText(e.report(QStringLiteral(" (SendTest)")));
        m_controller.unlockWindow();
    }
}

void SignTest::messagesSent() {
    if (!m_controller.run.signMessagesHandedOver)
        return;
    m_controller.ports.signSocket->close();
    m_controller.ports.status->setSimpleText(QString());
    m_controller.progress().ended(kHandedOver);
}
