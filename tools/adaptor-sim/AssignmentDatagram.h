#pragma once

#include <QByteArray>
#include <QHostAddress>

#include <optional>

// The 20-byte UDP datagram (port 30718) that gives a family 1 adaptor its IP
// address: 00 00 00 FC, the 8 keyword bytes, 00 00, the last two octets of
// the adaptor's MAC, and the four octets of the address to take on.
namespace AssignmentDatagram {

inline constexpr quint16 port = 30718;

// The address the datagram assigns, when it is meant for the adaptor whose
// six MAC octets these are; nothing for any other datagram.
[[nodiscard]] std::optional<QHostAddress> assignedAddress(const QByteArray& datagram, const QByteArray& mac);

} // namespace AssignmentDatagram
