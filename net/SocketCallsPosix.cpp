#include "net/SocketCalls.h"

#include "net/HostNetworks.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace SocketCalls {

namespace {
sockaddr_in socketAddress(quint32 address, quint16 port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(address);
    return a;
}
} // namespace

Handle openStream() {
    return ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
}

Handle openDatagram() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return kNoSocket;
    const int on = 1;
    const sockaddr_in any = socketAddress(INADDR_ANY, 0);
    if (::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0 ||
        ::bind(fd, reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0) {
        ::close(fd);
        return kNoSocket;
    }
    return fd;
}

void close(Handle socket) {
    if (socket >= 0)
        ::close(int(socket));
}

int lastError() {
    return errno;
}

Kind kindOf(int error) {
    switch (error) {
    case 0:
        return Kind::None;
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
        return Kind::WouldBlock;
    case EINPROGRESS:
        return Kind::InProgress;
    case EINTR:
        return Kind::Interrupted;
    case ECONNREFUSED:
        return Kind::Refused;
    case ETIMEDOUT:
    case EHOSTUNREACH:
    case ENETUNREACH:
        return Kind::Unreachable;
    case ECONNRESET:
    case ECONNABORTED:
    case EPIPE:
        return Kind::Reset;
    default:
        return Kind::Other;
    }
}

QString describe(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

int connect(Handle socket, quint32 address, quint16 port) {
    const sockaddr_in peer = socketAddress(address, port);
    return ::connect(int(socket), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0 ? 0 : errno;
}

int pendingError(Handle socket) {
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(int(socket), SOL_SOCKET, SO_ERROR, &error, &size) != 0)
        error = errno;
    return error;
}

void waitForAttempts(const std::vector<Handle>& sockets, int timeoutMs, std::vector<bool>& ended) {
    std::vector<pollfd> polled;
    for (const Handle s : sockets)
        polled.push_back({int(s), POLLOUT, 0});
    ::poll(polled.data(), polled.size(), timeoutMs);
    ended.assign(sockets.size(), false);
    for (std::size_t i = 0; i < polled.size(); ++i)
        ended[i] = polled[i].revents != 0;
}

qint64 send(Handle socket, const char* data, qint64 size, int& error) {
    const ssize_t n = ::send(int(socket), data, size_t(size), MSG_NOSIGNAL);
    error = n < 0 ? errno : 0;
    return n;
}

qint64 receive(Handle socket, char* data, qint64 size, int& error) {
    const ssize_t n = ::recv(int(socket), data, size_t(size), 0);
    error = n < 0 ? errno : 0;
    return n;
}

bool sendDatagram(Handle socket, const QByteArray& bytes, quint32 address, quint16 port, const HostNetwork* via,
                  int& error) {
    const sockaddr_in to = socketAddress(address, port);
    iovec data{const_cast<char*>(bytes.constData()), size_t(bytes.size())};
    msghdr message{};
    message.msg_name = const_cast<sockaddr_in*>(&to);
    message.msg_namelen = sizeof to;
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    // Out of the given interface: the limited broadcast would otherwise
    // follow the routing table and leave by one interface, or none.
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    if (via && via->index != 0) {
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr* header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = IPPROTO_IP;
        header->cmsg_type = IP_PKTINFO;
        header->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info{};
        info.ipi_ifindex = int(via->index);
        std::memcpy(CMSG_DATA(header), &info, sizeof info);
    }
    ssize_t n = 0;
    do
        n = ::sendmsg(int(socket), &message, 0);
    while (n < 0 && errno == EINTR);
    error = n < 0 ? errno : 0;
    return n == bytes.size();
}

} // namespace SocketCalls
