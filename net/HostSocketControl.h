#pragma once

#include "net/SocketCalls.h"
#include "net/SocketControl.h"

#include <QTimer>
#include <memory>
#include <optional>

// The socket control over the host's own sockets: a TCP client, or a UDP
// sender whose datagrams to the limited broadcast address leave by every
// interface that can carry them. Non-blocking descriptors watched by the event
// loop, so the window links nothing beyond Qt Core for four plain sockets.
class HostSocketControl : public SocketControl {
public:
    // How long a connection attempt may take before it counts as failed.
    static constexpr int kConnectTimeoutMs = 10000;
    // The most one arrival hands over; the rest waits in the kernel (and the
    // peer is slowed down) until it has been taken.
    static constexpr qint64 kMaxChunk = 64 * 1024;

    explicit HostSocketControl(Protocol protocol = Tcp);
    ~HostSocketControl() override;
    HostSocketControl(const HostSocketControl&) = delete;
    HostSocketControl& operator=(const HostSocketControl&) = delete;

    void setProtocol(Protocol protocol) override;
    void setRemoteAddress(quint32 address) override { m_address = address; }
    void setRemotePort(Long port) override { m_port = port; }
    [[nodiscard]] int state() const override;
    void connect() override;
    void close() override;
    void sendData(const QString& data) override;
    QString getData() override;
    [[nodiscard]] RunTimeError lastError() const override { return m_lastError; }
    void setBroadcastScope(quint32 address) override { m_scope = address; }

    // For tests: how long a connection attempt may take.
    void setConnectTimeout(int milliseconds) { m_connectTimeoutMs = milliseconds; }

private:
    struct Link;

    [[nodiscard]] std::optional<quint32> remoteAddress() const;
    void sendDatagram(const QByteArray& bytes, quint32 to);
    void failAttempt(RunTimeError error);
    void dropTcp();
    void linkWritable(Link* link);
    void linkReadable(Link* link);
    void finishConnect(Link* link);
    // How a connection attempt stands, by the error of connect or the one it
    // ended with: connected, still under way, or failed.
    void settleAttempt(Link* link, int error);
    void established(Link* link);
    void announceSettled();
    void peerEnded(Link* link, bool discard);

    Protocol m_protocol = Tcp;
    quint32 m_address = 0; // 0.0.0.0: none
    Long m_port = 0;
    std::unique_ptr<Link> m_tcp;
    SocketCalls::Handle m_udp = SocketCalls::kNoSocket;
    QTimer m_connectTimer;
    bool m_failed = false;     // the latest attempt or connection failed
    bool m_peerClosed = false; // the peer ended the connection
    int m_connectTimeoutMs = kConnectTimeoutMs;
    RunTimeError m_lastError{RunTimeError::SocketFailure};
    std::optional<quint32> m_scope;
};
