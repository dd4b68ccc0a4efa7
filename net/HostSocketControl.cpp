#include "net/HostSocketControl.h"

#include "net/HostNetworks.h"

#include "net/NetLog.h"
#include "net/SocketCalls.h"

#include "address/AddressRules.h"

#include <QByteArray>
#include <QSocketNotifier>

#include <map>
#include <utility>
#include <vector>

// One TCP connection: its descriptor, the two notifiers that watch it and
// what it holds in either direction. A link dropped while one of its own
// handlers runs (a window procedure may close the socket from inside any of
// its events) stays until the event loop is back; otherwise it goes at once.
struct HostSocketControl::Link : QObject {
    SocketCalls::Handle fd = SocketCalls::kNoSocket;
    QSocketNotifier* readable = nullptr; // children of the link
    QSocketNotifier* writable = nullptr;
    QSocketNotifier* failed = nullptr; // where a failed attempt shows as an exception
    QByteArray in;         // received and not yet taken; at most kMaxChunk
    QByteArray out;        // handed to sendData and not yet taken by the kernel
    qsizetype outDone = 0; // how much of out the kernel has taken
    bool connecting = true;
    bool announcing = false;             // an arrival's handler is running
    int busy = 0;                        // this link's handlers under way
    HostSocketControl* owner = nullptr; // null once dropped: no more events

    ~Link() override { closeDescriptor(); }

    void closeDescriptor() {
        if (readable)
            readable->setEnabled(false);
        if (writable)
            writable->setEnabled(false);
        if (failed)
            failed->setEnabled(false);
        SocketCalls::close(std::exchange(fd, SocketCalls::kNoSocket));
    }
    [[nodiscard]] bool open() const { return fd != SocketCalls::kNoSocket && !connecting; }
    // Reads on while there is room for more and nobody is being told of the last.
    void resumeReading() {
        if (readable)
            readable->setEnabled(open() && !announcing && in.size() < kMaxChunk);
    }
    // Whatever the kernel takes now, without waiting; false when the
    // connection is broken.
    bool writeSome() {
        while (outDone < out.size()) {
            int error = 0;
            const qint64 n = SocketCalls::send(fd, out.constData() + outDone, out.size() - outDone, error);
            if (n >= 0) {
                outDone += n;
                continue;
            }
            const SocketCalls::Kind kind = SocketCalls::kindOf(error);
            if (kind == SocketCalls::Kind::Interrupted)
                continue;
            return kind == SocketCalls::Kind::WouldBlock;
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
constexpr quint32 kLimitedBroadcast = 0xffffffffu;

// How a failed connection attempt is reported, by the kind of the system's
// error: refused only when the peer refused it, unreachable only when no
// route or neighbour reaches it; anything of this host's own (no local port
// left, a bad argument) is a failure of the socket.
RunTimeError fromError(int error) {
    switch (SocketCalls::kindOf(error)) {
    case SocketCalls::Kind::Refused:
        return RunTimeError(RunTimeError::ConnectionRefused);
    case SocketCalls::Kind::Unreachable:
        return RunTimeError(RunTimeError::HostUnreachable);
    default:
        return RunTimeError(RunTimeError::SocketFailure);
    }
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

HostSocketControl::HostSocketControl(Protocol protocol)
    : m_protocol(protocol) {
    m_connectTimer.setSingleShot(true);
    QObject::connect(&m_connectTimer, &QTimer::timeout, &m_connectTimer,
                     [this] { failAttempt(RunTimeError(RunTimeError::ConnectionTimedOut)); });
}

HostSocketControl::~HostSocketControl() {
    dropTcp();
    SocketCalls::close(m_udp);
}

std::optional<quint32> HostSocketControl::remoteAddress() const {
    if (m_port <= 0 || m_port > 65535 || m_address == 0)
        return std::nullopt;
    return m_address;
}

void HostSocketControl::setProtocol(Protocol protocol) {
    if (state() != Closed)
        throw RunTimeError(RunTimeError::SocketWrongState);
    m_protocol = protocol;
}

int HostSocketControl::state() const {
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

void HostSocketControl::connect() {
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
    m_connectTimer.start(m_connectTimeoutMs);

    link->fd = SocketCalls::openStream();
    if (link->fd == SocketCalls::kNoSocket) {
        failAttempt(RunTimeError(RunTimeError::SocketFailure));
        return;
    }
    link->readable = new QSocketNotifier(link->fd, QSocketNotifier::Read, link);
    link->readable->setEnabled(false);
    QObject::connect(link->readable, &QSocketNotifier::activated, link, [link] {
        link->handle([link](HostSocketControl* owner) { owner->linkReadable(link); });
    });
    // Writable: first the attempt's outcome, then room for what is queued.
    link->writable = new QSocketNotifier(link->fd, QSocketNotifier::Write, link);
    QObject::connect(link->writable, &QSocketNotifier::activated, link, [link] {
        link->handle([link](HostSocketControl* owner) { owner->linkWritable(link); });
    });
    if (SocketCalls::kFailedConnectIsException) {
        link->failed = new QSocketNotifier(link->fd, QSocketNotifier::Exception, link);
        QObject::connect(link->failed, &QSocketNotifier::activated, link, [link] {
            link->handle([link](HostSocketControl* owner) {
                if (link->connecting)
                    owner->finishConnect(link);
            });
        });
    }

    settleAttempt(link, SocketCalls::connect(link->fd, *address, quint16(m_port)));
}

void HostSocketControl::finishConnect(Link* link) {
    // Writable once the attempt has ended; the socket's pending error tells how.
    settleAttempt(link, SocketCalls::pendingError(link->fd));
}

void HostSocketControl::settleAttempt(Link* link, int error) {
    switch (SocketCalls::kindOf(error)) {
    case SocketCalls::Kind::None:
        established(link);
        return;
    case SocketCalls::Kind::InProgress:
    case SocketCalls::Kind::Interrupted:
    case SocketCalls::Kind::WouldBlock:
        return; // still under way
    case SocketCalls::Kind::Reset:
        // Connected, and ended by the peer before this side looked.
        established(link);
        peerEnded(link, false);
        return;
    default:
        failAttempt(fromError(error));
    }
}

void HostSocketControl::established(Link* link) {
    m_connectTimer.stop();
    link->connecting = false;
    link->writable->setEnabled(false);
    if (link->failed)
        link->failed->setEnabled(false);
    link->resumeReading();
    announceSettled();
}

// From the event loop, never from inside connect(): whoever started the
// attempt has returned before it hears how it went.
void HostSocketControl::announceSettled() {
    QMetaObject::invokeMethod(
        &m_connectTimer,
        [this] {
            if (onConnect && state() != Connecting)
                onConnect();
        },
        Qt::QueuedConnection);
}

void HostSocketControl::failAttempt(RunTimeError error) {
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

void HostSocketControl::linkReadable(Link* link) {
    const qsizetype had = link->in.size();
    const qsizetype room = kMaxChunk - had;
    if (!link->open() || room <= 0) {
        link->resumeReading();
        return;
    }
    link->in.resize(had + room);
    qint64 n = 0;
    int error = 0;
    do
        n = SocketCalls::receive(link->fd, link->in.data() + had, room, error);
    while (n < 0 && SocketCalls::kindOf(error) == SocketCalls::Kind::Interrupted);
    link->in.resize(had + std::max<qsizetype>(n, 0));
    if (n < 0 && SocketCalls::kindOf(error) == SocketCalls::Kind::WouldBlock)
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

void HostSocketControl::linkWritable(Link* link) {
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

void HostSocketControl::peerEnded(Link* link, bool discard) {
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

void HostSocketControl::dropTcp() {
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

void HostSocketControl::close() {
    dropTcp();
    SocketCalls::close(std::exchange(m_udp, SocketCalls::kNoSocket));
    m_failed = false;
    m_peerClosed = false;
}

void HostSocketControl::sendData(const QString& data) {
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

void HostSocketControl::sendDatagram(const QByteArray& bytes, quint32 to) {
    if (m_udp == SocketCalls::kNoSocket) {
        m_udp = SocketCalls::openDatagram();
        if (m_udp == SocketCalls::kNoSocket)
            throw RunTimeError(RunTimeError::SocketFailure);
    }

    const quint16 port = quint16(m_port);
    int error = 0;
    if (to != kLimitedBroadcast) {
        if (!SocketCalls::sendDatagram(m_udp, bytes, to, port, nullptr, error))
            throw RunTimeError(RunTimeError::SocketFailure);
        return;
    }
    // The limited broadcast follows the routing table: with no default route
    // it would fail, and with several interfaces leave by one only. It
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
        const HostNetwork& segment = candidates.at(index);
        if (SocketCalls::sendDatagram(m_udp, bytes, to, port, &segment, error))
            ++sent;
        else
            qCWarning(lcNet) << "broadcast not sent on" << segment.name << ":" << SocketCalls::describe(error);
    }
    if (sent == 0) {
        qCWarning(lcNet)
            << "broadcast not sent: no interface that is up and can broadcast has an IPv4 address";
        throw RunTimeError(RunTimeError::HostUnreachable);
    }
}

QString HostSocketControl::getData() {
    if (m_protocol != Tcp || !m_tcp)
        throw RunTimeError(RunTimeError::SocketWrongState);
    // Never more than one chunk is held, so this is all of it.
    const QByteArray taken = std::exchange(m_tcp->in, QByteArray());
    m_tcp->resumeReading();
    return QString::fromLatin1(taken);
}
