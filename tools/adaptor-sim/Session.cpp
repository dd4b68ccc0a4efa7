#include "Session.h"

#include "Adaptor.h"

Session::Session(Adaptor& adaptor, QTcpSocket* socket, int number)
    : QObject(&adaptor)
    , m_adaptor(adaptor)
    , m_socket(socket)
    , m_number(number) {
    socket->setParent(this);
    // A question must leave at once and on its own, not wait for more to send.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(socket, &QTcpSocket::readyRead, this, &Session::onReadyRead);
    connect(socket, &QTcpSocket::disconnected, this, &Session::onDisconnected);
}

void Session::write(const QByteArray& bytes) {
    if (m_socket->state() != QAbstractSocket::ConnectedState || bytes.isEmpty())
        return;
    m_socket->write(bytes);
    m_socket->flush();
    m_adaptor.sent(m_number, bytes);
}

void Session::closeConnection() {
    m_closedByUs = true;
    m_socket->disconnectFromHost();
}

void Session::onReadyRead() {
    const QByteArray bytes = m_socket->readAll();
    if (bytes.isEmpty())
        return;
    m_adaptor.received(m_number, bytes);
    onBytes(bytes);
}

void Session::onDisconnected() {
    m_adaptor.closed(m_number, m_closedByUs ? QStringLiteral("adaptor") : QStringLiteral("peer"));
    deleteLater();
}
