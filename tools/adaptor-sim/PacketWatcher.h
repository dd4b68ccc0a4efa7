#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QSocketNotifier>

#include <memory>

// Watches the IPv4 frames arriving on the adaptor's interface (a packet
// socket, so it sees frames whose address the kernel does not hold) and
// reports the destination of each one sent to the adaptor's own MAC. This is
// how a family 2 adaptor learns the address that a host bound to its MAC in
// its ARP table.
class PacketWatcher : public QObject {
    Q_OBJECT
public:
    explicit PacketWatcher(QObject* parent = nullptr)
        : QObject(parent) {}
    ~PacketWatcher() override;

    bool open(const QString& interfaceName, const QByteArray& mac, QString* error);

signals:
    // An IPv4 packet to a unicast address came to our MAC.
    void addressedToUs(const QHostAddress& destination);

private:
    void readFrames();

    int m_fd = -1;
    QByteArray m_mac;
    std::unique_ptr<QSocketNotifier> m_notifier;
};
