#include "net/SocketCalls.h"

#include "net/HostNetworks.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

namespace SocketCalls {

namespace {
sockaddr_in socketAddress(quint32 address, quint16 port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(address);
    return a;
}

// Winsock, started once for the program's life with the first socket.
bool started() {
    static const bool ok = [] {
        WSADATA data{};
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return ok;
}

// Not inherited by the programs this one starts, and non-blocking.
Handle prepared(SOCKET s) {
    if (s == INVALID_SOCKET)
        return kNoSocket;
    u_long on = 1;
    if (!::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0) ||
        ::ioctlsocket(s, FIONBIO, &on) != 0) {
        ::closesocket(s);
        return kNoSocket;
    }
    return Handle(s);
}
} // namespace

Handle openStream() {
    if (!started())
        return kNoSocket;
    return prepared(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
}

Handle openDatagram() {
    if (!started())
        return kNoSocket;
    const Handle s = prepared(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    if (s == kNoSocket)
        return s;
    const BOOL on = TRUE;
    const sockaddr_in any = socketAddress(INADDR_ANY, 0);
    if (::setsockopt(SOCKET(s), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on) != 0 ||
        ::bind(SOCKET(s), reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0) {
        ::closesocket(SOCKET(s));
        return kNoSocket;
    }
    return s;
}

void close(Handle socket) {
    if (socket != kNoSocket)
        ::closesocket(SOCKET(socket));
}

int lastError() {
    return ::WSAGetLastError();
}

Kind kindOf(int error) {
    switch (error) {
    case 0:
        return Kind::None;
    case WSAEWOULDBLOCK:
        return Kind::WouldBlock;
    case WSAEINPROGRESS:
    case WSAEALREADY:
        return Kind::InProgress;
    case WSAEINTR:
        return Kind::Interrupted;
    case WSAECONNREFUSED:
        return Kind::Refused;
    case WSAETIMEDOUT:
    case WSAEHOSTUNREACH:
    case WSAENETUNREACH:
        return Kind::Unreachable;
    case WSAECONNRESET:
    case WSAECONNABORTED:
    case WSAESHUTDOWN:
        return Kind::Reset;
    default:
        return Kind::Other;
    }
}

QString describe(int error) {
    wchar_t* text = nullptr;
    const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                         FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, DWORD(error), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    QString said = n ? QString::fromWCharArray(text, int(n)).trimmed() : QStringLiteral("error %1").arg(error);
    ::LocalFree(text);
    return said;
}

int connect(Handle socket, quint32 address, quint16 port) {
    const sockaddr_in peer = socketAddress(address, port);
    if (::connect(SOCKET(socket), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0)
        return 0;
    // A non-blocking connect under way says "would block" on Windows.
    const int error = ::WSAGetLastError();
    return error == WSAEWOULDBLOCK ? WSAEINPROGRESS : error;
}

int pendingError(Handle socket) {
    int error = 0;
    int size = sizeof error;
    if (::getsockopt(SOCKET(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0)
        error = ::WSAGetLastError();
    return error;
}

void waitForAttempts(const std::vector<Handle>& sockets, int timeoutMs, std::vector<bool>& ended) {
    // select(): an attempt that failed shows in the exceptions, one that
    // connected as writable. A set holds at most FD_SETSIZE sockets.
    ended.assign(sockets.size(), false);
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    for (std::size_t i = 0; i < sockets.size() && i < FD_SETSIZE; ++i) {
        FD_SET(SOCKET(sockets[i]), &writable);
        FD_SET(SOCKET(sockets[i]), &failed);
    }
    timeval wait{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    if (sockets.empty()) {
        ::Sleep(DWORD(timeoutMs));
        return;
    }
    if (::select(0, nullptr, &writable, &failed, &wait) <= 0)
        return;
    for (std::size_t i = 0; i < sockets.size(); ++i)
        ended[i] = FD_ISSET(SOCKET(sockets[i]), &writable) || FD_ISSET(SOCKET(sockets[i]), &failed);
}

qint64 send(Handle socket, const char* data, qint64 size, int& error) {
    const int n = ::send(SOCKET(socket), data, int(qMin<qint64>(size, 1 << 30)), 0);
    error = n == SOCKET_ERROR ? ::WSAGetLastError() : 0;
    return n == SOCKET_ERROR ? -1 : n;
}

qint64 receive(Handle socket, char* data, qint64 size, int& error) {
    const int n = ::recv(SOCKET(socket), data, int(qMin<qint64>(size, 1 << 30)), 0);
    error = n == SOCKET_ERROR ? ::WSAGetLastError() : 0;
    return n == SOCKET_ERROR ? -1 : n;
}

bool sendDatagram(Handle socket, const QByteArray& bytes, quint32 address, quint16 port, const HostNetwork* via,
                  int& error) {
    const sockaddr_in to = socketAddress(address, port);
    SOCKET out = SOCKET(socket);
    SOCKET own = INVALID_SOCKET;
    // Windows sends the limited broadcast out of the interface of the
    // address a socket is bound to: one socket of its own, bound there.
    if (via && !via->addresses.empty()) {
        own = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        const BOOL on = TRUE;
        const sockaddr_in from = socketAddress(via->addresses.front().first, 0);
        if (own == INVALID_SOCKET ||
            ::setsockopt(own, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on) != 0 ||
            ::bind(own, reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0) {
            error = ::WSAGetLastError();
            if (own != INVALID_SOCKET)
                ::closesocket(own);
            return false;
        }
        out = own;
    }
    const int n =
        ::sendto(out, bytes.constData(), int(bytes.size()), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    error = n == SOCKET_ERROR ? ::WSAGetLastError() : 0;
    if (own != INVALID_SOCKET)
        ::closesocket(own);
    return n == bytes.size();
}

} // namespace SocketCalls
