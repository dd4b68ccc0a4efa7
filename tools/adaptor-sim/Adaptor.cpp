#include "Adaptor.h"

#include "AssignmentDatagram.h"
#include "CommandDialogue.h"
#include "MenuDialogue.h"
#include "PacketWatcher.h"
#include "SignReceiver.h"

#include <QNetworkDatagram>

Q_LOGGING_CATEGORY(lcSim, "netrika.sim", QtInfoMsg)

namespace {
constexpr quint16 kMenuPort = 9999;
constexpr quint16 kCommandPort = 23;
constexpr quint16 kSignPort = 3001;
} // namespace

Adaptor::Adaptor(Options options, Misbehaviour misbehaviour, QObject* parent)
    : QObject(parent)
    , m_options(std::move(options))
    , m_misbehaviour(std::move(misbehaviour))
    , m_recorder(m_options.recordDirectory)
    , m_interface(m_options.interfaceName) {
    m_state.family = m_options.family;
    m_state.mac = QString::fromLatin1(m_options.mac.toHex('-'));
    m_state.interfaceName = m_options.interfaceName;
    m_state.misbehave = m_misbehaviour.modes();
}

Adaptor::~Adaptor() = default;

QByteArray Adaptor::macUpper() const {
    return m_options.mac.toHex('-').toUpper();
}

bool Adaptor::start(QString* error) {
    if (!m_recorder.prepare(error) || !m_interface.setMac(m_state.mac, error))
        return false;
    if (m_options.family == 1) {
        if (!m_misbehaviour.refuses(AssignmentDatagram::port)) {
            m_datagrams = new QUdpSocket(this);
            if (!m_datagrams->bind(QHostAddress::AnyIPv4, AssignmentDatagram::port,
                                   QUdpSocket::ShareAddress)) {
                *error = QStringLiteral("UDP %1: %2")
                             .arg(AssignmentDatagram::port)
                             .arg(m_datagrams->errorString());
                return false;
            }
            connect(m_datagrams, &QUdpSocket::readyRead, this, &Adaptor::readDatagrams);
        }
        if (!listen(
                kMenuPort, [this](QTcpSocket* s, int n) { (new MenuDialogue(*this, s, n))->start(); }, error))
            return false;
    } else {
        m_packets = new PacketWatcher(this);
        if (!m_packets->open(m_options.interfaceName, m_options.mac, error))
            return false;
        connect(m_packets, &PacketWatcher::addressedToUs, this, [this](const QHostAddress& destination) {
            if (!m_state.adoptedIp && !m_interface.holds(destination)) {
                adopt(destination, "a packet to its MAC");
                changed();
            }
        });
        if (!listen(
                kCommandPort, [this](QTcpSocket* s, int n) { (new CommandDialogue(*this, s, n))->start(); },
                error))
            return false;
    }
    if (!listen(
            kSignPort, [this](QTcpSocket* s, int n) { (new SignReceiver(*this, s, n))->start(); }, error))
        return false;
    if (m_options.address) {
        adopt(*m_options.address, "its saved configuration");
        if (m_state.adoptedIp != m_options.address->toString()) {
            *error = QStringLiteral("cannot take on %1").arg(m_options.address->toString());
            return false;
        }
    }
    changed();
    return true;
}

void Adaptor::reboot() {
    const QString configured = m_options.family == 1 ? m_state.menu.ip : m_state.command.ip;
    ++m_state.reboots;
    qCInfo(lcSim).noquote() << "reboot; configured address" << configured;
    const QHostAddress address(configured);
    if (!address.isNull() && address != QHostAddress(QHostAddress::AnyIPv4))
        adopt(address, "a reboot");
    changed();
}

bool Adaptor::listen(quint16 port, SessionFactory factory, QString* error) {
    if (m_misbehaviour.refuses(port)) {
        qCInfo(lcSim) << "not listening on TCP" << port;
        return true;
    }
    auto* server = new QTcpServer(this);
    if (!server->listen(QHostAddress::AnyIPv4, port)) {
        *error = QStringLiteral("TCP %1: %2").arg(port).arg(server->errorString());
        return false;
    }
    connect(server, &QTcpServer::newConnection, this, [this, server, port, factory] {
        while (QTcpSocket* socket = server->nextPendingConnection()) {
            const int number = ++m_connections;
            m_state.connections.append({number, port, {}, 0, {}});
            qCInfo(lcSim).noquote() << "connection" << number << "on TCP" << port << "from"
                                    << socket->peerAddress().toString();
            changed();
            factory(socket, number);
        }
    });
    return true;
}

void Adaptor::readDatagrams() {
    while (m_datagrams->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = m_datagrams->receiveDatagram();
        const auto assigned = AssignmentDatagram::assignedAddress(datagram.data(), m_options.mac);
        m_state.datagrams.append(
            {datagram.senderAddress().toString(), datagram.data(), assigned.has_value()});
        qCInfo(lcSim).noquote() << "datagram of" << datagram.data().size() << "bytes from"
                                << datagram.senderAddress().toString() << (assigned ? "accepted" : "ignored");
        if (assigned)
            adopt(*assigned, "the assignment datagram");
        // The datagram and what it did show up in the summary together.
        changed();
    }
}

void Adaptor::adopt(const QHostAddress& address, const char* route) {
    if (m_misbehaviour.silent()) {
        qCInfo(lcSim).noquote() << "silent: not taking on" << address.toString();
        return;
    }
    if (m_state.adoptedIp == address.toString())
        return;
    QString error;
    if (m_state.adoptedIp &&
        !m_interface.removeAddress(QHostAddress(*m_state.adoptedIp), m_options.prefixLength, &error))
        qCWarning(lcSim).noquote() << error;
    if (!m_interface.holds(address) && !m_interface.addAddress(address, m_options.prefixLength, &error)) {
        qCWarning(lcSim).noquote() << error;
        return;
    }
    qCInfo(lcSim).noquote() << "took on" << address.toString() << "from" << route;
    m_state.adoptedIp = address.toString();
    m_state.menu.ip = address.toString();
    m_state.command.ip = address.toString();
}

void Adaptor::changed() {
    m_recorder.writeSummary(m_state.toJson());
}

void Adaptor::received(int number, const QByteArray& bytes) {
    if (ConnectionRecord* c = m_state.connection(number)) {
        c->received += bytes;
        m_recorder.appendReceived(number, c->port, bytes);
        changed();
    }
}

void Adaptor::sent(int number, const QByteArray& bytes) {
    if (ConnectionRecord* c = m_state.connection(number)) {
        c->sentBytes += bytes.size();
        m_recorder.appendSent(number, c->port, bytes);
        changed();
    }
}

void Adaptor::closed(int number, const QString& by) {
    if (ConnectionRecord* c = m_state.connection(number)) {
        c->closedBy = by;
        qCInfo(lcSim).noquote() << "connection" << number << "closed by" << by;
        changed();
    }
}

void Adaptor::signMessage(const SignRecord& message) {
    m_state.signMessages.append(message);
    if (message.text)
        qCInfo(lcSim).noquote() << "the sign shows:" << QString::fromLatin1(*message.text);
    changed();
}
