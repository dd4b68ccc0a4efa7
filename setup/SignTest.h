#pragma once

#include "base/WindowPorts.h"
#include "net/SocketControl.h"
#include "setup/RunProgress.h"
#include "setup/RunWindow.h"

#include <QString>

// Puts the test text on the sign: connects to the sign's port at the adaptor's
// address and hands it the two framed messages; the connection is closed once
// they have been sent.
class SignTest {
public:
    static constexpr int kSignPort = 3001;
    // The run's result once the sign has its messages (the status bar is emptied).
    inline static const QString kHandedOver = QStringLiteral("the test messages were handed to the sign");

    SignTest(SocketControl& socket, StatusBar& status, TextBox& transcriptBox, RunProgress& progress,
             RunWindow& window)
        : m_socket(socket)
        , m_status(status)
        , m_transcriptBox(transcriptBox)
        , m_progress(progress)
        , m_window(window) {}

    // Where the sign is found: the new address, or, for an adaptor reached at
    // the address it had and not yet power cycled, that one. 0: nowhere yet,
    // and a test is the invalid-address error.
    void aimAt(quint32 address) { m_address = address; }
    [[nodiscard]] quint32 address() const { return m_address; }
    // Starts the connection to the sign and returns; the messages go once
    // it stands (connected).
    void send();
    // The sign connection's attempt has ended.
    void connected();
    // The socket's send-complete event.
    void messagesSent();
    // The latest test handed the sign its messages.
    [[nodiscard]] bool handedOver() const { return m_handedOver; }

private:
    SocketControl& m_socket;
    StatusBar& m_status;
    TextBox& m_transcriptBox;
    RunProgress& m_progress;
    RunWindow& m_window;
    void fail(const RunTimeError& e);

    quint32 m_address = 0;
    bool m_connecting = false;
    bool m_handedOver = false;
};
