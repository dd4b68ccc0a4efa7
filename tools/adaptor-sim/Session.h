#pragma once

#include <QByteArray>
#include <QObject>
#include <QTcpSocket>

class Adaptor;

// One TCP connection to the adaptor. Every byte received is recorded before
// anything else looks at it, and so is every byte sent.
class Session : public QObject {
    Q_OBJECT
public:
    Session(Adaptor& adaptor, QTcpSocket* socket, int number);

    // Called once the session is wired up; the adaptor speaks first here, if at all.
    virtual void start() {}

protected:
    virtual void onBytes(const QByteArray& bytes) = 0;
    void write(const QByteArray& bytes);
    // The adaptor ends the connection, after whatever is still queued.
    void closeConnection();

    Adaptor& m_adaptor;
    QTcpSocket* m_socket;
    const int m_number;

private:
    void onReadyRead();
    void onDisconnected();

    bool m_closedByUs = false;
};
