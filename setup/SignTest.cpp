#include "setup/SignTest.h"

#include "signtest/SignMessages.h"

void SignTest::send() {
    m_progress.enter(RunProgress::Stage::SignTest);
    try {
        if (m_socket.state() != SocketControl::Closed)
            m_socket.close();
        m_handedOver = false;
        m_socket.setProtocol(SocketControl::Tcp);
        m_socket.setRemoteAddress(m_address);
        m_socket.setRemotePort(kSignPort);
        m_socket.connect();
        m_window.waitForConnection(m_socket);
        m_transcriptBox.setText(QStringLiteral("Connected"));
        m_socket.sendData(SignMessages::first());
        m_socket.sendData(SignMessages::second());
        m_handedOver = true;
    } catch (const RunTimeError& e) {
        m_status.showMessage(e.report(QStringLiteral(" (SendTest)")));
        m_window.unlockWindow();
    }
}

void SignTest::messagesSent() {
    if (!m_handedOver)
        return;
    m_socket.close();
    m_status.showMessage(QString());
    m_progress.ended(kHandedOver);
}
