#pragma once

#include <QString>
#include <QtGlobal>

#include <vector>

struct HostNetwork;

// The few calls the socket control makes on the host's own sockets, one
// version for POSIX hosts and one over Winsock. Sockets are non-blocking and
// not inherited by children; errors are the system's own codes, sorted into
// the kinds the socket control acts on.
namespace SocketCalls {

using Handle = qintptr; // a descriptor, or a SOCKET on Windows
inline constexpr Handle kNoSocket = -1;

enum class Kind {
    None,        // no error
    WouldBlock,  // nothing now: try again when the event loop says so
    InProgress,  // a connection attempt under way
    Interrupted, // a signal came first: try again at once
    Refused,     // the peer refused the connection
    Unreachable, // no route or neighbour reaches the peer, or it timed out
    Reset,       // the peer ended the connection
    Other,       // anything of this host's own
};

// Where a failed connection attempt shows: as writable with a pending error
// (POSIX), or also as an exception (Winsock's select()).
inline constexpr bool kFailedConnectIsException =
#ifdef Q_OS_WIN
    true;
#else
    false;
#endif

// kNoSocket when none can be made (on Windows, Winsock is started with the first).
[[nodiscard]] Handle openStream();
// A datagram socket bound to any port, allowed to broadcast.
[[nodiscard]] Handle openDatagram();
void close(Handle socket);

// The error code of the last call on this thread, and its kind.
[[nodiscard]] int lastError();
[[nodiscard]] Kind kindOf(int error);
[[nodiscard]] QString describe(int error);

// 0 when connected at once, else the error code (InProgress while under way).
[[nodiscard]] int connect(Handle socket, quint32 address, quint16 port);
// The error a connection attempt ended with, 0 when it connected.
[[nodiscard]] int pendingError(Handle socket);
// Waits at most timeoutMs for any of these connection attempts to end, and
// marks those that did (connected or failed: pendingError tells which).
void waitForAttempts(const std::vector<Handle>& sockets, int timeoutMs, std::vector<bool>& ended);
// Bytes taken or received, or -1 with the error in error. A receive of 0 is
// the peer's close.
qint64 send(Handle socket, const char* data, qint64 size, int& error);
qint64 receive(Handle socket, char* data, qint64 size, int& error);
// One datagram to an address; to the limited broadcast address, out of the
// given interface only when one is given. True when all of it went.
bool sendDatagram(Handle socket, const QByteArray& bytes, quint32 address, quint16 port,
                  const HostNetwork* via, int& error);

} // namespace SocketCalls
