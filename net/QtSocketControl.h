#pragma once

#include "net/SocketControl.h"

#include <QByteArray>
#include <QTcpSocket>
#include <QTimer>
#include <QUdpSocket>
#include <memory>

// The socket control over Qt's sockets: a TCP client, or a UDP sender whose
// datagrams to the limited broadcast address leave by every interface that
// can carry them.
class QtSocketControl : public SocketControl {
public:
    // How long a connection attempt may take before it counts as failed.
    static constexpr int kConnectTimeoutMs = 10000;
    // The most one arrival hands over; the rest waits in the kernel (and the
    // peer is slowed down) until it has been taken.
    static constexpr qint64 kMaxChunk = 64 * 1024;

    explicit QtSocketControl(Protocol protocol = Tcp);
    ~QtSocketControl() override;

    void setProtocol(Protocol protocol) override;
    void setRemoteHost(const QString& host) override { m_host = host; }
    void setRemotePort(Long port) override { m_port = port; }
    [[nodiscard]] int state() const override;
    void connect() override;
    void close() override;
    void sendData(const QString& data) override;
    QString getData() override;
    [[nodiscard]] RunTimeError lastError() const override { return m_lastError; }
    void setBroadcastScope(const QString& address) override { m_scope = QHostAddress(address); }

    // For tests: how long a connection attempt may take.
    void setConnectTimeout(int milliseconds) { m_connectTimeoutMs = milliseconds; }

private:
    void sendDatagram(const QByteArray& bytes);
    void failAttempt(RunTimeError error);
    void dropTcp();

    Protocol m_protocol = Tcp;
    QString m_host;
    Long m_port = 0;
    std::unique_ptr<QTcpSocket> m_tcp;
    std::unique_ptr<QUdpSocket> m_udp;
    QTimer m_connectTimer;
    bool m_failed = false;     // the latest attempt or connection failed
    bool m_peerClosed = false; // the peer ended the connection
    int m_connectTimeoutMs = kConnectTimeoutMs;
    RunTimeError m_lastError{RunTimeError::SocketFailure};
    QHostAddress m_scope;
};
