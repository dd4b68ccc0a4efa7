#pragma once

#include <QString>
#include <array>

// The 20-byte datagram that hands a family-1 adaptor its IP address: a fixed
// header and keyword, the last two octets of the adaptor's MAC, and the four
// octets of the new address. Each character stands for one byte.
namespace AssignmentDatagram {
inline constexpr int kPort = 30718;
inline constexpr quint32 kBroadcast = 0xffffffff; // 255.255.255.255

// From the field texts as they stand: two MAC octets in hex, four IP octets in
// decimal, each trimmed. Throws the type-mismatch error for a text that is not
// such a number, and the overflow error for a value outside 0..255.
[[nodiscard]] QString build(const QString& mac5, const QString& mac6, const std::array<QString, 4>& ip);
} // namespace AssignmentDatagram
