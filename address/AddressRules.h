#pragma once

#include "base/RunTypes.h"

#include <QString>
#include <array>
#include <optional>

// The rules that decide whether the typed addresses may be used, as pure
// functions over the field texts. The checks answer false on any failure and
// show nothing themselves; the Setup command owns every message.
namespace AddressRules {

using MacTexts = std::array<QString, 6>;
using QuadTexts = std::array<QString, 4>;

// MAC families: the route by which an adaptor is given its address.
inline constexpr qint16 kUnknownFamily = 0;
inline constexpr qint16 kBroadcastFamily = 1; // 00-20-4a
inline constexpr qint16 kArpFamily = 2;       // 00-80-a3

// Removes leading and trailing space characters, and nothing else.
[[nodiscard]] QString trimSpaces(const QString& text);
// The whole text (spaces allowed at either end) is a plain decimal number with
// an optional sign and fraction. The empty text is not a number.
[[nodiscard]] bool isNumber(const QString& text);
// The value of a text that is a number; nothing otherwise.
[[nodiscard]] std::optional<double> numberValue(const QString& text);
// "0" to "9" or "a" to "f" (lower case only).
[[nodiscard]] bool isHexDigit(QChar c);

// Appends the six octets to mac (twelve lowercase hex digits) and answers true;
// a wrong digit empties mac, a wrong length leaves it as it was.
bool checkMac(const MacTexts& fields, QString& mac);
// Every octet 0 <= v < 255; fills ip with the trimmed octets joined by ".".
bool checkIp(const QuadTexts& fields, QString& ip);
// Every gateway octet v < 255, with no lower bound; fills gateway. Whatever the
// verdict, derives mask (untrimmed) and hostBits from the mask fields.
bool checkGateway(const QuadTexts& gatewayFields, const QuadTexts& maskFields, QString& gateway,
                  QString& mask, Integer& hostBits);
// Every mask octet 0 <= v <= 255.
[[nodiscard]] bool checkMask(const QuadTexts& maskFields);
// What would misconfigure the adaptor although every octet passes its check:
// the subnet's own addresses as the adaptor's, a mask with holes, a gateway
// the adaptor cannot reach. Asked after the four checks have passed.
struct SenseRefusal {
    enum class Field { Ip, Mask, Gateway };
    Field field = Field::Ip;
    // What is wrong, with the values: "gateway 10.77.60.254 is not on 10.77.50.0/24".
    QString text;
};
// The address of four octet texts (plain decimal, optionally signed, blanks
// at either end), each a whole number from 0 to 255; nothing otherwise.
[[nodiscard]] std::optional<quint32> quadValue(const QuadTexts& fields);
// The prefix length of a contiguous mask; nothing for a mask with holes.
[[nodiscard]] std::optional<int> prefixLength(quint32 mask);
// Dotted decimal, as the status texts write an address: 10.77.50.0.
[[nodiscard]] QString dotted(quint32 address);
// The one reader of an address written as text, wherever it comes from: four
// decimal octets of one to three ASCII digits, 0 to 255, joined by single dots,
// with nothing before, between or after. "010" is ten; hexadecimal, octal,
// shortened and signed forms are no address here.
[[nodiscard]] std::optional<quint32> readDotted(QStringView text);
inline constexpr int kShortestPrefix = 8;
inline constexpr int kLongestPrefix = 30;
// The kind of address that no device on a segment can hold ("a loopback
// address", "a multicast address", ...), or nothing for an ordinary one.
[[nodiscard]] std::optional<QString> unassignableKind(quint32 address);
// The mask is contiguous, /8 to /30; the IP is an ordinary unicast address
// (not "this network" 0.0.0.0/8, loopback, link-local, multicast or
// reserved) and neither the network nor the broadcast address of its subnet;
// a gateway other than 0.0.0.0 lies in the IP's subnet and is not the IP.
// Checked in that order, over the values as numbers (host byte order).
[[nodiscard]] std::optional<SenseRefusal> senseCheck(quint32 ip, quint32 mask, quint32 gateway);
// The same over field texts; a value that does not read as an address is
// refused too.
[[nodiscard]] std::optional<SenseRefusal> senseCheck(const QuadTexts& ip, const QuadTexts& mask,
                                                     const QuadTexts& gateway);
// The host bits the adaptor's setup menu is told: 32 less the prefix length
// (24, 16 and 8 for the masks of /8, /16 and /24); nothing for a mask that
// senseCheck refuses.
[[nodiscard]] std::optional<Integer> hostBitsOf(const QuadTexts& mask);

using MacOctets = std::array<quint8, 6>;
// The six octets of a MAC written as twelve hexadecimal digits, either case.
[[nodiscard]] std::optional<MacOctets> macOctets(const QString& mac);

// 1 for 00204a..., 2 for 0080a3..., 0 otherwise; exact and case-sensitive.
[[nodiscard]] qint16 macFamily(const QString& mac);
// The MAC's pairs joined by '-', as the host's command and the status texts
// write it: 0080a36163dd is 00-80-a3-61-63-dd.
[[nodiscard]] QString dashedMac(const QString& mac);

} // namespace AddressRules
