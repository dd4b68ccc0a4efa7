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
bool CheckMacAddress(const MacTexts& fields, QString& mac);
// Every octet 0 <= v < 255; fills ip with the trimmed octets joined by ".".
bool CheckIPAddress(const QuadTexts& fields, QString& ip);
// Every gateway octet v < 255, with no lower bound; fills gateway. Whatever the
// verdict, derives mask (untrimmed) and hostBits from the mask fields.
bool CheckGateway(const QuadTexts& gatewayFields, const QuadTexts& maskFields, QString& gateway,
                  QString& mask, Integer& hostBits);
// Every mask octet 0 <= v <= 255.
[[nodiscard]] bool CheckSubnetMask(const QuadTexts& maskFields);
// 1 for 00204a..., 2 for 0080a3..., 0 otherwise; exact and case-sensitive.
[[nodiscard]] qint16 MacFamily(const QString& mac);
// The MAC's pairs joined by '-', as the host's command and the status texts
// write it: 0080a36163dd is 00-80-a3-61-63-dd.
[[nodiscard]] QString DashedMac(const QString& mac);

} // namespace AddressRules
