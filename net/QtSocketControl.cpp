#include "net/QtSocketControl.h"

#include "net/NetLog.h"

#include <QHostAddress>
#include <QNetworkDatagram>
#include <QNetworkInterface>

#include <algorithm>

namespace {
RunTimeError fromSocketError(QAbstractSocket::SocketError error) {
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return RunTimeError(RunTimeError::ConnectionRefused);
    case QAbstractSocket::SocketTimeoutError:
        return RunTimeError(RunTimeError::ConnectionTimedOut);
    case QAbstractSocket::HostNotFoundError:
    case QAbstractSocket::NetworkError:
        return RunTimeError(RunTimeError::HostUnreachable);
    default:
        return RunTimeError(RunTimeError::SocketFailure);
    }
}
} // namespace

QtSocketControl::QtSocketControl(Protocol protocol)
    : m_protocol(protocol) {
    m_connectTimer.setSingleShot(true);
    QObject::connect(&m_connectTimer, &QTimer::timeout, &m_connectTimer,
                     [this] { failAttempt(RunTimeError(RunTimeError::ConnectionTimedOut)); });
}

QtSocketControl::~QtSocketControl() {
    dropTcp();
}

void QtSocketControl::setProtocol(Protocol protocol) {
    if (state() != Closed)
        throw RunTimeError(RunTimeError::SocketWrongState);
    m_protocol = protocol;
}

int QtSocketControl::state() const {
    if (m_protocol == Udp)
        return m_udp ? Open : Closed;
    if (!m_tcp)
        return Closed;
    if (m_failed)
        return Error;
    if (m_peerClosed)
        return PeerClosing;
    switch (m_tcp->state()) {
    case QAbstractSocket::HostLookupState:
    case QAbstractSocket::ConnectingState:
        return Connecting;
    case QAbstractSocket::ConnectedState:
        return Connected;
    case QAbstractSocket::ClosingState:
        return PeerClosing;
    default:
        return Closed;
    }
}

void QtSocketControl::connect() {
    if (m_protocol != Tcp || state() != Closed)
        throw RunTimeError(RunTimeError::SocketWrongState);
    const QHostAddress address(m_host);
    if (address.isNull() || address.protocol() != QAbstractSocket::IPv4Protocol || m_port <= 0 ||
        m_port > 65535)
        throw RunTimeError(RunTimeError::InvalidAddress);

    m_failed = false;
    m_peerClosed = false;
    // What a wait reports if the attempt ends in anything but a connection
    // and no error names the cause: the peer took it and closed it at once.
    m_lastError = RunTimeError(RunTimeError::ConnectionClosed);
    m_tcp = std::make_unique<QTcpSocket>();
    QTcpSocket* s = m_tcp.get();
    s->setReadBufferSize(kMaxChunk);
    QObject::connect(s, &QTcpSocket::connected, s, [this] { m_connectTimer.stop(); });
    QObject::connect(s, &QTcpSocket::readyRead, s, [this, s] {
        if (onDataArrival)
            onDataArrival(static_cast<Long>(s->bytesAvailable()));
    });
    QObject::connect(s, &QTcpSocket::bytesWritten, s, [this, s] {
        if (s->bytesToWrite() == 0 && onSendComplete)
            onSendComplete();
    });
    QObject::connect(s, &QTcpSocket::errorOccurred, s, [this, s](QAbstractSocket::SocketError error) {
        if (error == QAbstractSocket::RemoteHostClosedError)
            return; // reported as the peer's close
        if (s->state() != QAbstractSocket::ConnectedState)
            failAttempt(fromSocketError(error));
    });
    QObject::connect(s, &QTcpSocket::disconnected, s, [this] {
        // Only a close by the peer is an event; our own close is not.
        if (m_failed)
            return;
        m_peerClosed = true;
        if (onClose)
            onClose();
    });
    m_connectTimer.start(m_connectTimeoutMs);
    s->connectToHost(address, static_cast<quint16>(m_port));
}

void QtSocketControl::failAttempt(RunTimeError error) {
    m_connectTimer.stop();
    if (m_failed || !m_tcp)
        return;
    m_failed = true;
    m_lastError = error;
    qCInfo(lcNet) << "connection to" << m_host << m_port << "failed:" << error.description();
    m_tcp->abort();
}

void QtSocketControl::dropTcp() {
    m_connectTimer.stop();
    if (!m_tcp)
        return;
    // Detach first: a close from this side raises no event.
    QObject::disconnect(m_tcp.get(), nullptr, nullptr, nullptr);
    if (m_tcp->state() == QAbstractSocket::ConnectedState)
        m_tcp->flush(); // whatever was just sent (a logout) goes out before the close
    m_tcp->abort();
    // A socket may be closed from inside one of its own signals.
    m_tcp.release()->deleteLater();
}

void QtSocketControl::close() {
    dropTcp();
    m_udp.reset();
    m_failed = false;
    m_peerClosed = false;
}

void QtSocketControl::sendData(const QString& data) {
    const QByteArray bytes = data.toLatin1();
    if (m_protocol == Udp) {
        sendDatagram(bytes);
        return;
    }
    if (state() != Connected)
        throw RunTimeError(RunTimeError::SocketWrongState);
    if (m_tcp->write(bytes) != bytes.size())
        throw RunTimeError(RunTimeError::SocketFailure);
}

void QtSocketControl::sendDatagram(const QByteArray& bytes) {
    const QHostAddress to(m_host);
    if (to.isNull() || to.protocol() != QAbstractSocket::IPv4Protocol || m_port <= 0 || m_port > 65535)
        throw RunTimeError(RunTimeError::InvalidAddress);
    if (!m_udp) {
        m_udp = std::make_unique<QUdpSocket>();
        if (!m_udp->bind(QHostAddress::AnyIPv4, 0)) {
            m_udp.reset();
            throw RunTimeError(RunTimeError::SocketFailure);
        }
    }

    if (to != QHostAddress(QHostAddress::Broadcast)) {
        if (m_udp->writeDatagram(bytes, to, static_cast<quint16>(m_port)) != bytes.size())
            throw RunTimeError(RunTimeError::SocketFailure);
        return;
    }
    // The limited broadcast follows the routing table on Linux: with no default
    // route it would fail, and with several interfaces leave by one only. It
    // goes out of each segment whose subnet holds the address being assigned:
    // the datagram names the adaptor by two MAC octets only, so a stranger's
    // adaptor on another network (Wi-Fi, a VPN) could take it too. Where no
    // segment has that subnet, the adaptor may sit on any: every one gets it.
    QList<QNetworkInterface> candidates;
    QList<QNetworkInterface> inScope;
    for (const QNetworkInterface& nic : QNetworkInterface::allInterfaces()) {
        const auto flags = nic.flags();
        if (!(flags & QNetworkInterface::IsUp) || !(flags & QNetworkInterface::CanBroadcast) ||
            (flags & QNetworkInterface::IsLoopBack))
            continue;
        const auto entries = nic.addressEntries();
        const auto isIPv4 = [](const QNetworkAddressEntry& e) {
            return e.ip().protocol() == QAbstractSocket::IPv4Protocol;
        };
        if (!std::any_of(entries.begin(), entries.end(), isIPv4))
            continue;
        candidates << nic;
        if (std::any_of(entries.begin(), entries.end(), [&](const QNetworkAddressEntry& e) {
                return isIPv4(e) && !m_scope.isNull() && m_scope.isInSubnet(e.ip(), e.prefixLength());
            }))
            inScope << nic;
    }
    int sent = 0;
    for (const QNetworkInterface& nic : inScope.isEmpty() ? candidates : inScope) {
        QNetworkDatagram datagram(bytes, to, static_cast<quint16>(m_port));
        datagram.setInterfaceIndex(static_cast<uint>(nic.index()));
        if (m_udp->writeDatagram(datagram) == bytes.size())
            ++sent;
        else
            qCWarning(lcNet) << "broadcast not sent on" << nic.name() << ":" << m_udp->errorString();
    }
    if (sent == 0) {
        qCWarning(lcNet)
            << "broadcast not sent: no interface that is up and can broadcast has an IPv4 address";
        throw RunTimeError(RunTimeError::HostUnreachable);
    }
}

QString QtSocketControl::getData() {
    if (m_protocol != Tcp || !m_tcp)
        throw RunTimeError(RunTimeError::SocketWrongState);
    return QString::fromLatin1(m_tcp->read(kMaxChunk));
}
