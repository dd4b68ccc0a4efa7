#pragma once

#include <QString>

// The 20-byte datagram that hands a family-1 adaptor its IP address: a fixed
// header and keyword, the last two octets of the adaptor's MAC, and the four
// octets of the new address. Each character stands for one byte.
namespace AssignmentDatagram {
inline constexpr int kPort = 30718;
inline constexpr quint32 kBroadcast = 0xffffffff; // 255.255.255.255

// From the checked target: the MAC's last two octets and the address (host
// byte order), first octet first.
[[nodiscard]] QString build(quint8 mac5, quint8 mac6, quint32 ip);
} // namespace AssignmentDatagram
