// The address rules on arbitrary texts: the number reading, the hex digits,
// the four checks and the MAC family, each against an independent reading.
//
// Input: up to eighteen texts in UTF-8, separated by '|', in the order of the
// entry fields: six MAC octets, four IP, four mask and four gateway octets.
// Missing texts are empty.

#include "FuzzInput.h"
#include "Oracles.h"
#include "address/AddressRules.h"

#include <array>

namespace {

using namespace AddressRules;

// The number reading of one text, and what follows from it.
void checkNumber(const QString& text) {
    const auto value = numberValue(text);
    FUZZ_CHECK(isNumber(text) == value.has_value());
    const Oracle::Number expected = Oracle::readDecimal(text);
    if (expected.outOfRange)
        return; // too many digits for a double: either reading will do
    if (!expected.plain) {
        FUZZ_CHECK(!value.has_value());
        return;
    }
    FUZZ_CHECK(value.has_value());
    FUZZ_CHECK(*value == expected.value);
}

// A bound on every octet, as the checks apply it: the value of each text,
// when every text reads as a number.
template <typename Bound> bool allPass(const QuadTexts& texts, Bound inBounds) {
    for (const QString& t : texts) {
        const Oracle::Number n = Oracle::readDecimal(t);
        if (!n.plain || !inBounds(n.value))
            return false;
    }
    return true;
}

// Some text that the rules may read either way (Oracle::Number::open).
bool anyOpen(const QuadTexts& texts) {
    for (const QString& t : texts) {
        if (Oracle::readDecimal(t).open())
            return true;
    }
    return false;
}

QString joined(const QuadTexts& texts, bool trim) {
    QStringList parts;
    for (const QString& t : texts)
        parts << (trim ? Oracle::trimmed(t) : t);
    return parts.join(QLatin1Char('.'));
}

qsizetype dots(const QuadTexts& texts) {
    qsizetype n = 0;
    for (const QString& t : texts)
        n += Oracle::trimmed(t).count(QLatin1Char('.'));
    return n;
}

void checkMacRule(const MacTexts& fields, const QString& before) {
    QString mac = before;
    const bool ok = AddressRules::checkMac(fields, mac);
    bool lengths = true;
    for (const QString& f : fields)
        lengths = lengths && Oracle::trimmed(f).size() == 2;
    if (!lengths) {
        FUZZ_CHECK(!ok);
        FUZZ_CHECK(mac == before);
        return;
    }
    QString expected = before;
    bool digits = true;
    for (const QString& f : fields) {
        const QString t = Oracle::trimmed(f).toLower();
        digits = digits && Oracle::hexDigit(t.front()) && Oracle::hexDigit(t.back());
        expected += t;
    }
    FUZZ_CHECK(ok == digits);
    if (!ok) {
        FUZZ_CHECK(mac.isEmpty());
        return;
    }
    FUZZ_CHECK(mac == expected);
    FUZZ_CHECK(mac.size() == before.size() + 12);
    for (qsizetype i = before.size(); i < mac.size(); ++i)
        FUZZ_CHECK(Oracle::hexDigit(mac.at(i)));
    const QString prefix = mac.left(6);
    const qint16 family = macFamily(mac);
    FUZZ_CHECK(family == (prefix == QLatin1String("00204a")   ? kBroadcastFamily
                          : prefix == QLatin1String("0080a3") ? kArpFamily
                                                              : kUnknownFamily));
}

void checkIpRule(const QuadTexts& fields) {
    QString ip = QStringLiteral("unchanged");
    const bool ok = AddressRules::checkIp(fields, ip);
    if (!anyOpen(fields))
        FUZZ_CHECK(ok == allPass(fields, [](double v) { return v >= 0 && v < 255; }));
    if (!ok) {
        FUZZ_CHECK(ip == QLatin1String("unchanged"));
        return;
    }
    for (const QString& f : fields) {
        const auto v = numberValue(f);
        FUZZ_CHECK(v && *v >= 0 && *v < 255);
    }
    FUZZ_CHECK(ip == joined(fields, true));
    FUZZ_CHECK(ip.count(QLatin1Char('.')) == 3 + dots(fields));
}

void checkGatewayAndMask(const QuadTexts& gatewayFields, const QuadTexts& maskFields) {
    QString gateway = QStringLiteral("unchanged");
    QString mask;
    Integer hostBits = 8;
    const bool ok = checkGateway(gatewayFields, maskFields, gateway, mask, hostBits);
    if (!anyOpen(gatewayFields))
        FUZZ_CHECK(ok == allPass(gatewayFields, [](double v) { return v < 255; }));
    FUZZ_CHECK(gateway == (ok ? joined(gatewayFields, true) : QStringLiteral("unchanged")));
    if (ok)
        FUZZ_CHECK(gateway.count(QLatin1Char('.')) == 3 + dots(gatewayFields));
    FUZZ_CHECK(mask == joined(maskFields, false));

    // Host bits: the second, third, fourth mask octet that reads as zero
    // decides; a text that is no number stops the search there.
    if (!anyOpen(maskFields)) {
        int expected = 8;
        for (const auto& [index, bits] : {std::pair{1, 24}, std::pair{2, 16}, std::pair{3, 8}}) {
            const Oracle::Number n = Oracle::readDecimal(maskFields[index]);
            if (!n.plain)
                break;
            if (n.value == 0) {
                expected = bits;
                break;
            }
        }
        FUZZ_CHECK(int(hostBits) == expected);
        FUZZ_CHECK(checkMask(maskFields) == allPass(maskFields, [](double v) { return v >= 0 && v <= 255; }));
    }
    FUZZ_CHECK(int(hostBits) == 8 || int(hostBits) == 16 || int(hostBits) == 24);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::array<QString, 18> texts;
    const auto parts = splitInput(data, size, '|');
    for (std::size_t i = 0; i < parts.size() && i < texts.size(); ++i)
        texts[i] = QString::fromUtf8(parts[i]);

    for (const QString& t : texts) {
        checkNumber(t);
        FUZZ_CHECK(trimSpaces(t) == Oracle::trimmed(t));
        for (const QChar c : t)
            FUZZ_CHECK(isHexDigit(c) == Oracle::hexDigit(c));
        // Any text may stand where the checked MAC does.
        const qint16 family = macFamily(t);
        FUZZ_CHECK(family == kUnknownFamily || family == kBroadcastFamily || family == kArpFamily);
        FUZZ_CHECK((family == kBroadcastFamily) == t.startsWith(QLatin1String("00204a")));
        FUZZ_CHECK((family == kArpFamily) == t.startsWith(QLatin1String("0080a3")));
    }

    const MacTexts mac{texts[0], texts[1], texts[2], texts[3], texts[4], texts[5]};
    const QuadTexts ip{texts[6], texts[7], texts[8], texts[9]};
    const QuadTexts mask{texts[10], texts[11], texts[12], texts[13]};
    const QuadTexts gateway{texts[14], texts[15], texts[16], texts[17]};
    checkMacRule(mac, QString());
    checkMacRule(mac, texts[17]); // appends to whatever the member held
    checkIpRule(ip);
    checkGatewayAndMask(gateway, mask);
    return 0;
}
