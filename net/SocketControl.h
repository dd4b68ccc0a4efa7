#pragma once

#include "base/RunTypes.h"

#include <QString>
#include <functional>

// A TCP client or UDP sender with the members and events the window's
// procedures rely on. Text goes out and comes in as one byte per character
// (codes 0 to 255). A member used in a state that forbids it throws
// RunTimeError. Events are raised on the window's event thread.
class SocketControl {
public:
    enum Protocol { Tcp = 0, Udp = 1 };
    enum State {
        Closed = 0,
        Open = 1,       // UDP socket bound and ready to send
        Connecting = 6, // TCP connection attempt under way
        Connected = 7,
        PeerClosing = 8, // the peer has closed its side
        Error = 9,       // the connection attempt failed or the connection broke
    };

    virtual ~SocketControl() = default;

    virtual void setProtocol(Protocol protocol) = 0;
    // The peer's IPv4 address, in host byte order: 10.77.50.2 is 0x0a4d3202.
    // 0.0.0.0 names no peer: connecting or sending is the invalid-address error.
    virtual void setRemoteAddress(quint32 address) = 0;
    virtual void setRemotePort(Long port) = 0;
    [[nodiscard]] virtual int state() const = 0;
    // Starts a connection attempt and returns at once.
    virtual void connect() = 0;
    // Ends the connection at once; harmless when already closed.
    virtual void close() = 0;
    virtual void sendData(const QString& data) = 0;
    // Every byte received and not yet taken.
    virtual QString getData() = 0;
    // Why the latest connection attempt failed, for the error line of a waiting procedure.
    [[nodiscard]] virtual RunTimeError lastError() const = 0;
    // Where a datagram to the broadcast address may go: the segments whose
    // subnet holds this address. Never set: every segment.
    virtual void setBroadcastScope(quint32 address) { Q_UNUSED(address) }

    // A connection attempt has ended, connected or failed (state() tells
    // which); raised from the event loop, never from inside connect().
    std::function<void()> onConnect;
    std::function<void(Long bytesTotal)> onDataArrival;
    std::function<void()> onClose;
    std::function<void()> onSendComplete;
};
