#include "net/PosixSocketControl.h"

#include "net/HostNetworks.h"

#include "net/NetLog.h"

#include "address/AddressRules.h"

#include <QByteArray>
#include <QSocketNotifier>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <map>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>
#include <vector>

// One TCP connection: its descriptor, the two notifiers that watch it and
// what it holds in either direction. A link dropped while one of its own
// handlers runs (a window procedure may close the socket from inside any of
// its events) stays until the event loop is back; otherwise it goes at once.
struct PosixSocketControl::Link : QObject {
    int fd = -1;
    QSocketNotifier* readable = nullptr; // children of the link
    QSocketNotifier* writable = nullptr;
    sockaddr_in peer{};
    QByteArray in;         // received and not yet taken; at most kMaxChunk
    QByteArray out;        // handed to sendData and not yet taken by the kernel
    qsizetype outDone = 0; // how much of out the kernel has taken
    bool connecting = true;
    bool announcing = false;             // an arrival's handler is running
    int busy = 0;                        // this link's handlers under way
    PosixSocketControl* owner = nullptr; // null once dropped: no more events

    ~Link() override { closeDescriptor(); }

    void closeDescriptor() {
        if (readable)
            readable->setEnabled(false);
        if (writable)
            writable->setEnabled(false);
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    [[nodiscard]] bool open() const { return fd >= 0 && !connecting; }
    // Reads on while there is room for more and nobody is being told of the last.
    void resumeReading() {
        if (readable)
            readable->setEnabled(open() && !announcing && in.size() < kMaxChunk);
    }
    // Whatever the kernel takes now, without waiting; false when the
    // connection is broken.
    bool writeSome() {
        while (outDone < out.size()) {
            const ssize_t n =
                ::send(fd, out.constData() + outDone, size_t(out.size() - outDone), MSG_NOSIGNAL);
            if (n >= 0) {
                outDone += n;
                continue;
            }
            if (errno == EINTR)
                continue;
            return errno == EAGAIN || errno == EWOULDBLOCK;
        }
        return true;
    }
    // Runs a handler of this link's with the link counted as busy.
    template <typename F> void handle(F&& f) {
        if (!owner)
            return;
        struct Hold {
            int& busy;
            ~Hold() { --busy; }
        } hold{++busy};
        f(owner);
    }
};

namespace {
// How a failed connection attempt is reported, by the system's error code:
// refused only when the peer refused it, unreachable only when no route or
// neighbour reaches it; anything of this host's own (no local port left, a
// bad argument) is a failure of the socket.
RunTimeError fromErrno(int error) {
    switch (error) {
    case ECONNREFUSED:
        return RunTimeError(RunTimeError::ConnectionRefused);
    case ETIMEDOUT:
    case EHOSTUNREACH:
    case ENETUNREACH:
        return RunTimeError(RunTimeError::HostUnreachable);
    default:
        return RunTimeError(RunTimeError::SocketFailure);
    }
}

sockaddr_in socketAddress(quint32 address, Long port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<quint16>(port));
    a.sin_addr.s_addr = htonl(address);
    return a;
}

// One datagram, out of the given interface when index is not 0.
ssize_t sendDatagramOn(int fd, const QByteArray& bytes, const sockaddr_in& to, unsigned index) {
    iovec data{const_cast<char*>(bytes.constData()), size_t(bytes.size())};
    msghdr message{};
    message.msg_name = const_cast<sockaddr_in*>(&to);
    message.msg_namelen = sizeof to;
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    if (index != 0) {
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr* header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = IPPROTO_IP;
        header->cmsg_type = IP_PKTINFO;
        header->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info{};
        info.ipi_ifindex = int(index);
        std::memcpy(CMSG_DATA(header), &info, sizeof info);
    }
    ssize_t n = 0;
    do
        n = ::sendmsg(fd, &message, 0);
    while (n < 0 && errno == EINTR);
    return n;
}

// The interfaces of the host's that are up, can broadcast, are not the
// loopback and have at least one IPv4 address, by the kernel's number for them.
std::map<unsigned, HostNetwork> broadcastSegments() {
    std::map<unsigned, HostNetwork> segments;
    for (HostNetwork& n : HostNetworks::read())
        if (n.up && n.broadcast && !n.loopback && n.index != 0 && !n.addresses.empty())
            segments.emplace(n.index, std::move(n));
    return segments;
}
} // namespace

PosixSocketControl::PosixSocketControl(Protocol protocol)
    : m_protocol(protocol) {
    m_connectTimer.setSingleShot(true);
    QObject::connect(&m_connectTimer, &QTimer::timeout, &m_connectTimer,
                     [this] { failAttempt(RunTimeError(RunTimeError::ConnectionTimedOut)); });
}

PosixSocketControl::~PosixSocketControl() {
    dropTcp();
    if (m_udp >= 0)
        ::close(m_udp);
}

std::optional<quint32> PosixSocketControl::remoteAddress() const {
    if (m_port <= 0 || m_port > 65535 || m_address == 0)
        return std::nullopt;
    return m_address;
}

void PosixSocketControl::setProtocol(Protocol protocol) {
    if (state() != Closed)
        throw RunTimeError(RunTimeError::SocketWrongState);
    m_protocol = protocol;
}

int PosixSocketControl::state() const {
    if (m_protocol == Udp)
        return m_udp >= 0 ? Open : Closed;
    if (!m_tcp)
        return Closed;
    if (m_failed)
        return Error;
    if (m_peerClosed)
        return PeerClosing;
    return m_tcp->connecting ? Connecting : Connected;
}

void PosixSocketControl::connect() {
    if (m_protocol != Tcp || state() != Closed)
        throw RunTimeError(RunTimeError::SocketWrongState);
    const auto address = remoteAddress();
    if (!address)
        throw RunTimeError(RunTimeError::InvalidAddress);

    m_failed = false;
    m_peerClosed = false;
    // What a wait reports if the attempt ends in anything but a connection
    // and no error names the cause: the peer took it and closed it at once.
    m_lastError = RunTimeError(RunTimeError::ConnectionClosed);
    m_tcp = std::make_unique<Link>();
    Link* link = m_tcp.get();
    link->owner = this;
    link->peer = socketAddress(*address, m_port);
    m_connectTimer.start(m_connectTimeoutMs);

    link->fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (link->fd < 0) {
        failAttempt(RunTimeError(RunTimeError::SocketFailure));
        return;
    }
    link->readable = new QSocketNotifier(link->fd, QSocketNotifier::Read, link);
    link->readable->setEnabled(false);
    QObject::connect(link->readable, &QSocketNotifier::activated, link, [link] {
        link->handle([link](PosixSocketControl* owner) { owner->linkReadable(link); });
    });
    // Writable: first the attempt's outcome, then room for what is queued.
    link->writable = new QSocketNotifier(link->fd, QSocketNotifier::Write, link);
    QObject::connect(link->writable, &QSocketNotifier::activated, link, [link] {
        link->handle([link](PosixSocketControl* owner) { owner->linkWritable(link); });
    });

    if (::connect(link->fd, reinterpret_cast<const sockaddr*>(&link->peer), sizeof link->peer) == 0) {
        established(link);
        return;
    }
    if (errno != EINPROGRESS && errno != EINTR)
        failAttempt(fromErrno(errno));
}

void PosixSocketControl::finishConnect(Link* link) {
    // Writable once the attempt has ended; the socket's pending error tells how.
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(link->fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
        error = errno;
    switch (error) {
    case 0:
        established(link);
        return;
    case EINPROGRESS:
    case EINTR:
        return; // still under way
    case ECONNRESET:
    case ECONNABORTED:
    case EPIPE:
        // Connected, and ended by the peer before this side looked.
        established(link);
        peerEnded(link, false);
        return;
    default:
        failAttempt(fromErrno(error));
    }
}

void PosixSocketControl::established(Link* link) {
    m_connectTimer.stop();
    link->connecting = false;
    link->writable->setEnabled(false);
    link->resumeReading();
    announceSettled();
}

// From the event loop, never from inside connect(): whoever started the
// attempt has returned before it hears how it went.
void PosixSocketControl::announceSettled() {
    QMetaObject::invokeMethod(
        &m_connectTimer,
        [this] {
            if (onConnect && state() != Connecting)
                onConnect();
        },
        Qt::QueuedConnection);
}

void PosixSocketControl::failAttempt(RunTimeError error) {
    m_connectTimer.stop();
    if (m_failed || !m_tcp)
        return;
    m_failed = true;
    m_lastError = error;
    qCInfo(lcNet) << "connection to" << AddressRules::dotted(m_address) << m_port
                  << "failed:" << error.description();
    m_tcp->closeDescriptor();
    m_tcp->connecting = false;
    m_tcp->in.clear();
    m_tcp->out.clear();
    m_tcp->outDone = 0;
    announceSettled();
}

void PosixSocketControl::linkReadable(Link* link) {
    const qsizetype had = link->in.size();
    const qsizetype room = kMaxChunk - had;
    if (!link->open() || room <= 0) {
        link->resumeReading();
        return;
    }
    link->in.resize(had + room);
    ssize_t n = 0;
    do
        n = ::recv(link->fd, link->in.data() + had, size_t(room), 0);
    while (n < 0 && errno == EINTR);
    const int error = errno;
    link->in.resize(had + std::max<qsizetype>(n, 0));
    if (n < 0 && (error == EAGAIN || error == EWOULDBLOCK))
        return;
    if (n <= 0) {
        // The peer's close, or a reset: either way the peer has ended it.
        peerEnded(link, false);
        return;
    }
    // While the arrival's handler runs, further data waits in the kernel.
    link->announcing = true;
    link->resumeReading();
    if (onDataArrival)
        onDataArrival(static_cast<Long>(link->in.size()));
    link->announcing = false;
    link->resumeReading();
}

void PosixSocketControl::linkWritable(Link* link) {
    if (link->connecting) {
        finishConnect(link);
        return;
    }
    if (!link->open() || link->out.isEmpty()) {
        link->writable->setEnabled(false); // nothing queued: no send-complete either
        return;
    }
    if (!link->writeSome()) {
        peerEnded(link, true);
        return;
    }
    if (link->outDone < link->out.size())
        return; // the rest when the kernel has room again
    link->out.clear();
    link->outDone = 0;
    link->writable->setEnabled(false);
    if (onSendComplete)
        onSendComplete();
}

void PosixSocketControl::peerEnded(Link* link, bool discard) {
    link->closeDescriptor();
    link->out.clear();
    link->outDone = 0;
    if (discard)
        link->in.clear(); // a broken connection keeps nothing
    if (m_failed)
        return;
    m_peerClosed = true;
    if (onClose)
        onClose();
}

void PosixSocketControl::dropTcp() {
    m_connectTimer.stop();
    if (!m_tcp)
        return;
    Link* link = m_tcp.release();
    // Detach first: a close from this side raises no event.
    link->owner = nullptr;
    if (link->open())
        (void)link->writeSome(); // whatever was just sent (a logout) goes out before the close
    link->closeDescriptor();
    // A socket may be closed from inside one of its own events.
    if (link->busy > 0)
        link->deleteLater();
    else
        delete link;
}

void PosixSocketControl::close() {
    dropTcp();
    if (m_udp >= 0)
        ::close(std::exchange(m_udp, -1));
    m_failed = false;
    m_peerClosed = false;
}

void PosixSocketControl::sendData(const QString& data) {
    const QByteArray bytes = data.toLatin1();
    if (m_protocol == Udp) {
        const auto to = remoteAddress();
        if (!to)
            throw RunTimeError(RunTimeError::InvalidAddress);
        sendDatagram(bytes, *to);
        return;
    }
    if (state() != Connected)
        throw RunTimeError(RunTimeError::SocketWrongState);
    if (bytes.isEmpty())
        return;
    // Written from the event loop, as the kernel takes it; the send-complete
    // event follows once all of it has gone.
    m_tcp->out += bytes;
    m_tcp->writable->setEnabled(true);
}

void PosixSocketControl::sendDatagram(const QByteArray& bytes, quint32 to) {
    if (m_udp < 0) {
        const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0)
            throw RunTimeError(RunTimeError::SocketFailure);
        const int on = 1;
        const sockaddr_in any = socketAddress(INADDR_ANY, 0);
        if (::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0 ||
            ::bind(fd, reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0) {
            ::close(fd);
            throw RunTimeError(RunTimeError::SocketFailure);
        }
        m_udp = fd;
    }

    const sockaddr_in destination = socketAddress(to, m_port);
    if (to != INADDR_BROADCAST) {
        if (sendDatagramOn(m_udp, bytes, destination, 0) != bytes.size())
            throw RunTimeError(RunTimeError::SocketFailure);
        return;
    }
    // The limited broadcast follows the routing table on Linux: with no default
    // route it would fail, and with several interfaces leave by one only. It
    // goes out of each segment whose subnet holds the address being assigned:
    // the datagram names the adaptor by two MAC octets only, so a stranger's
    // adaptor on another network (Wi-Fi, a VPN) could take it too. Where no
    // segment has that subnet, the adaptor may sit on any: every one gets it.
    const std::map<unsigned, HostNetwork> candidates = broadcastSegments();
    std::vector<unsigned> inScope;
    for (const auto& [index, segment] : candidates) {
        for (const auto& [address, prefixLength] : segment.addresses) {
            if (m_scope && HostNetworks::inSubnet(*m_scope, address, prefixLength)) {
                inScope.push_back(index);
                break;
            }
        }
    }
    std::vector<unsigned> targets = inScope;
    if (targets.empty()) {
        for (const auto& entry : candidates)
            targets.push_back(entry.first);
    }
    int sent = 0;
    for (const unsigned index : targets) {
        if (sendDatagramOn(m_udp, bytes, destination, index) == bytes.size()) {
            ++sent;
        } else {
            const QString why = QString::fromLocal8Bit(std::strerror(errno));
            qCWarning(lcNet) << "broadcast not sent on" << candidates.at(index).name << ":" << why;
        }
    }
    if (sent == 0) {
        qCWarning(lcNet)
            << "broadcast not sent: no interface that is up and can broadcast has an IPv4 address";
        throw RunTimeError(RunTimeError::HostUnreachable);
    }
}

QString PosixSocketControl::getData() {
    if (m_protocol != Tcp || !m_tcp)
        throw RunTimeError(RunTimeError::SocketWrongState);
    // Never more than one chunk is held, so this is all of it.
    const QByteArray taken = std::exchange(m_tcp->in, QByteArray());
    m_tcp->resumeReading();
    return QString::fromLatin1(taken);
}
