#include "AssignmentDatagram.h"

std::optional<QHostAddress> AssignmentDatagram::assignedAddress(const QByteArray& datagram,
                                                                const QByteArray& mac) {
    static const QByteArray head("\x00\x00\x00\xfc"
                                 "NE-TRIKA"
                                 "\x00\x00",
                                 14);
    if (datagram.size() != 20 || mac.size() != 6 || !datagram.startsWith(head) ||
        datagram.mid(14, 2) != mac.right(2))
        return std::nullopt;
    const auto octet = [&](int i) { return quint32(quint8(datagram.at(i))); };
    return QHostAddress(octet(16) << 24 | octet(17) << 16 | octet(18) << 8 | octet(19));
}
