#include "setup/SignTest.h"

#include "signtest/SignMessages.h"

void SignTest::send() {
    m_progress.enter(RunStage::SignTest);
    m_window.signTestBegins();
    try {
        if (m_socket.state() != SocketControl::Closed)
            m_socket.close();
        m_handedOver = false;
        m_socket.setProtocol(SocketControl::Tcp);
        m_socket.setRemoteAddress(m_address);
        m_socket.setRemotePort(kSignPort);
        m_socket.connect();
        m_transcriptBox.setText(QStringLiteral("Connecting"));
        m_connecting = true;
    } catch (const RunTimeError& e) {
        fail(e);
    }
}

void SignTest::connected() {
    if (!m_connecting || m_socket.state() == SocketControl::Connecting)
        return;
    m_connecting = false;
    try {
        if (m_socket.state() != SocketControl::Connected)
            throw m_socket.lastError();
        m_transcriptBox.setText(QStringLiteral("Connected"));
        m_socket.sendData(SignMessages::first());
        m_socket.sendData(SignMessages::second());
        m_handedOver = true;
        // The messages are the socket's now: the window is the user's again
        // while they go out, and the test ends once they have.
        m_window.handBack();
    } catch (const RunTimeError& e) {
        fail(e);
    }
}

void SignTest::fail(const RunTimeError& e) {
    m_connecting = false;
    m_status.showMessage(e.report(QStringLiteral(" (SendTest)")));
    m_window.endRun(RunOutcome::SignTestFailed);
}

void SignTest::messagesSent() {
    if (!m_handedOver)
        return;
    m_socket.close();
    m_status.showMessage(QString());
    m_progress.ended(kHandedOver);
    m_window.endRun(RunOutcome::Assigned);
}
