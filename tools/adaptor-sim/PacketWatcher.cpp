#include "PacketWatcher.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

PacketWatcher::~PacketWatcher() {
    m_notifier.reset();
    if (m_fd >= 0)
        ::close(m_fd);
}

bool PacketWatcher::open(const QString& interfaceName, const QByteArray& mac, QString* error) {
    m_mac = mac;
    const unsigned index = ::if_nametoindex(interfaceName.toLocal8Bit().constData());
    if (index == 0) {
        *error = QStringLiteral("no interface %1").arg(interfaceName);
        return false;
    }
    m_fd = ::socket(AF_PACKET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, htons(ETH_P_IP));
    sockaddr_ll where{};
    where.sll_family = AF_PACKET;
    where.sll_protocol = htons(ETH_P_IP);
    where.sll_ifindex = int(index);
    if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0) {
        *error = QStringLiteral("packet socket on %1: %2 (needs CAP_NET_RAW)")
                     .arg(interfaceName, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &PacketWatcher::readFrames);
    return true;
}

void PacketWatcher::readFrames() {
    unsigned char frame[2048];
    for (;;) {
        sockaddr_ll from{};
        socklen_t fromLength = sizeof from;
        const ssize_t n =
            ::recvfrom(m_fd, frame, sizeof frame, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n < 0)
            return;
        if (from.sll_pkttype == PACKET_OUTGOING)
            continue;
        // Ethernet header (14 bytes), then an IPv4 header of at least 20 bytes.
        if (n < 34 || std::memcmp(frame, m_mac.constData(), 6) != 0 || (frame[14] >> 4) != 4)
            continue;
        quint32 destination = 0;
        std::memcpy(&destination, frame + 30, 4);
        const QHostAddress address(ntohl(destination));
        if (address.isBroadcast() || address.isMulticast() || address.isNull() ||
            address == QHostAddress(QHostAddress::AnyIPv4))
            continue;
        emit addressedToUs(address);
    }
}
