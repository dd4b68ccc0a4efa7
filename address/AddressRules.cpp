#include "address/AddressRules.h"

#include <algorithm>

#include <QStringList>

#include <QRegularExpression>

#include <bit>

namespace AddressRules {

QString trimSpaces(const QString& text) {
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first) == QLatin1Char(' '))
        ++first;
    while (last > first && text.at(last - 1) == QLatin1Char(' '))
        --last;
    return text.mid(first, last - first);
}

std::optional<double> numberValue(const QString& text) {
    // \A and \z: '$' would also match before a final line feed.
    static const QRegularExpression plainDecimal(
        QStringLiteral("\\A[+-]?(?:[0-9]+(?:\\.[0-9]*)?|\\.[0-9]+)\\z"));
    const QString t = trimSpaces(text);
    if (!plainDecimal.match(t).hasMatch())
        return std::nullopt;
    bool ok = false;
    const double v = t.toDouble(&ok);
    if (!ok)
        return std::nullopt;
    return v;
}

bool isNumber(const QString& text) {
    return numberValue(text).has_value();
}

bool isHexDigit(QChar c) {
    const char16_t u = c.unicode();
    return (u >= u'0' && u <= u'9') || (u >= u'a' && u <= u'f');
}

namespace {

// Every octet is a number whose value passes the bound.
template <typename Bound> bool octetsPass(const QuadTexts& fields, Bound inBounds) {
    for (const QString& f : fields) {
        const auto v = numberValue(f);
        if (!v || !inBounds(*v))
            return false;
    }
    return true;
}

QString joinTrimmed(const QuadTexts& fields) {
    QStringList parts;
    for (const QString& f : fields)
        parts << trimSpaces(f);
    return parts.join(QLatin1Char('.'));
}

// Whether a mask field reads as zero; nothing when it is not a number at all.
std::optional<bool> readsAsZero(const QString& text) {
    const auto v = numberValue(text);
    if (!v)
        return std::nullopt;
    return *v == 0.0;
}

} // namespace

bool checkMac(const MacTexts& fields, QString& mac) {
    for (const QString& f : fields) {
        if (trimSpaces(f).size() != 2)
            return false;
    }
    for (const QString& f : fields) {
        const QString t = trimSpaces(f).toLower();
        if (!isHexDigit(t.front()) || !isHexDigit(t.back())) {
            mac.clear();
            return false;
        }
        mac += t;
    }
    return true;
}

bool checkIp(const QuadTexts& fields, QString& ip) {
    if (!octetsPass(fields, [](double v) { return v >= 0 && v < 255; }))
        return false;
    ip = joinTrimmed(fields);
    return true;
}

bool checkGateway(const QuadTexts& gatewayFields, const QuadTexts& maskFields, QString& gateway,
                  QString& mask, Integer& hostBits) {
    const bool verdict = octetsPass(gatewayFields, [](double v) { return v < 255; });
    if (verdict)
        gateway = joinTrimmed(gatewayFields);

    QStringList untrimmed(maskFields.begin(), maskFields.end());
    mask = untrimmed.join(QLatin1Char('.'));
    // The second, third and fourth mask octets, in that order, decide the host
    // bits; the first is never looked at. A field that is not a number stops
    // the derivation there (the mask check that follows refuses it).
    static constexpr std::array<std::pair<int, int>, 3> rule{{{1, 24}, {2, 16}, {3, 8}}};
    for (const auto& [index, bits] : rule) {
        const auto zero = readsAsZero(maskFields[index]);
        if (!zero)
            break;
        if (*zero) {
            hostBits = bits;
            break;
        }
    }
    return verdict;
}

bool checkMask(const QuadTexts& maskFields) {
    return octetsPass(maskFields, [](double v) { return v >= 0 && v <= 255; });
}

std::optional<quint32> quadValue(const QuadTexts& fields) {
    quint32 address = 0;
    for (const QString& f : fields) {
        const auto v = numberValue(f);
        if (!v || *v < 0 || *v > 255 || *v != double(int(*v)))
            return std::nullopt;
        address = (address << 8) | quint32(*v);
    }
    return address;
}

std::optional<int> prefixLength(quint32 mask) {
    const int length = std::countl_one(mask);
    if (length < 32 && (mask << length) != 0)
        return std::nullopt;
    return length;
}

QString dotted(quint32 address) {
    return QStringLiteral("%1.%2.%3.%4")
        .arg(address >> 24)
        .arg((address >> 16) & 0xff)
        .arg((address >> 8) & 0xff)
        .arg(address & 0xff);
}

namespace {
// The mask's prefix length when it is one an adaptor can be given.
std::optional<int> usablePrefix(quint32 mask) {
    const auto length = prefixLength(mask);
    if (!length || *length < kShortestPrefix || *length > kLongestPrefix)
        return std::nullopt;
    return length;
}

std::optional<int> usablePrefix(const QuadTexts& mask) {
    const auto value = quadValue(mask);
    return value ? usablePrefix(*value) : std::nullopt;
}

QString written(const QuadTexts& fields) {
    return joinTrimmed(fields);
}
} // namespace

std::optional<QString> unassignableKind(quint32 address) {
    const auto in = [address](quint32 network, int length) {
        return (address >> (32 - length)) == (network >> (32 - length));
    };
    if (in(0x00000000, 8))
        return QStringLiteral("in 0.0.0.0/8, \"this network\"");
    if (in(0x7f000000, 8))
        return QStringLiteral("a loopback address");
    if (in(0xa9fe0000, 16))
        return QStringLiteral("a link-local address");
    if (in(0xe0000000, 4))
        return QStringLiteral("a multicast address");
    if (in(0xf0000000, 4))
        return QStringLiteral("a reserved address");
    return std::nullopt;
}

std::optional<SenseRefusal> senseCheck(quint32 ip, quint32 mask, quint32 gateway) {
    using Field = SenseRefusal::Field;
    const auto length = usablePrefix(mask);
    if (!length)
        return SenseRefusal{Field::Mask, QStringLiteral("%1 is not a contiguous mask from /%2 to /%3")
                                             .arg(dotted(mask))
                                             .arg(kShortestPrefix)
                                             .arg(kLongestPrefix)};
    // Addresses that no device on a segment can hold: the sign would take
    // one and never be reached there.
    if (const auto kind = unassignableKind(ip))
        return SenseRefusal{Field::Ip,
                            QStringLiteral("%1 is %2: no sign can hold it").arg(dotted(ip), *kind)};
    const quint32 network = ip & mask;
    const QString subnet = QStringLiteral("%1/%2").arg(dotted(network)).arg(*length);
    // The subnet's own two addresses: neither can be a device's.
    const auto ownAddress = [&](quint32 a) -> QString {
        if (a == network)
            return QStringLiteral("the network address of ") + subnet;
        if (a == (network | ~mask))
            return QStringLiteral("the broadcast address of ") + subnet;
        return {};
    };
    if (const QString own = ownAddress(ip); !own.isEmpty())
        return SenseRefusal{Field::Ip, QStringLiteral("%1 is %2").arg(dotted(ip), own)};
    // 0.0.0.0: no gateway at all.
    if (gateway == 0)
        return std::nullopt;
    if ((gateway & mask) != network)
        return SenseRefusal{Field::Gateway,
                            QStringLiteral("gateway %1 is not on %2").arg(dotted(gateway), subnet)};
    if (const QString own = ownAddress(gateway); !own.isEmpty())
        return SenseRefusal{Field::Gateway, QStringLiteral("gateway %1 is %2").arg(dotted(gateway), own)};
    if (gateway == ip)
        return SenseRefusal{Field::Gateway,
                            QStringLiteral("gateway %1 is the adaptor's own address").arg(dotted(gateway))};
    return std::nullopt;
}

std::optional<SenseRefusal> senseCheck(const QuadTexts& ipFields, const QuadTexts& maskFields,
                                       const QuadTexts& gatewayFields) {
    using Field = SenseRefusal::Field;
    const auto mask = quadValue(maskFields);
    if (!usablePrefix(maskFields))
        return SenseRefusal{Field::Mask, QStringLiteral("%1 is not a contiguous mask from /%2 to /%3")
                                             .arg(written(maskFields))
                                             .arg(kShortestPrefix)
                                             .arg(kLongestPrefix)};
    const auto ip = quadValue(ipFields);
    if (!ip)
        return SenseRefusal{Field::Ip, QStringLiteral("%1 is not an address").arg(written(ipFields))};
    // A gateway octet below zero passes its field's check, but is on no network.
    const auto gateway = quadValue(gatewayFields);
    if (!gateway)
        return SenseRefusal{Field::Gateway, QStringLiteral("gateway %1 is not on %2/%3")
                                                .arg(written(gatewayFields), dotted(*ip & *mask))
                                                .arg(*prefixLength(*mask))};
    return senseCheck(*ip, *mask, *gateway);
}

std::optional<Integer> hostBitsOf(const QuadTexts& mask) {
    const auto length = usablePrefix(mask);
    if (!length)
        return std::nullopt;
    return Integer(32 - *length);
}

std::optional<quint32> readDotted(QStringView text) {
    quint32 address = 0;
    int parts = 0;
    for (QStringView part : text.tokenize(u'.')) {
        if (++parts > 4 || part.isEmpty() || part.size() > 3)
            return std::nullopt;
        quint32 value = 0;
        for (const QChar c : part) {
            if (c < u'0' || c > u'9')
                return std::nullopt;
            value = value * 10 + (c.unicode() - u'0');
        }
        if (value > 255)
            return std::nullopt;
        address = address << 8 | value;
    }
    if (parts != 4)
        return std::nullopt;
    return address;
}

std::optional<MacOctets> macOctets(const QString& mac) {
    if (mac.size() != 12)
        return std::nullopt;
    MacOctets octets{};
    for (int i = 0; i < 6; ++i) {
        bool ok = false;
        const QStringView pair = QStringView(mac).mid(i * 2, 2);
        if (!std::all_of(pair.begin(), pair.end(), [](QChar c) { return isHexDigit(c.toLower()); }))
            return std::nullopt;
        octets[std::size_t(i)] = quint8(pair.toUInt(&ok, 16));
    }
    return octets;
}

QString dashedMac(const QString& mac) {
    QStringList pairs;
    for (qsizetype i = 0; i + 1 < mac.size(); i += 2)
        pairs << mac.mid(i, 2);
    return pairs.join(QLatin1Char('-'));
}

qint16 macFamily(const QString& mac) {
    const QString prefix = mac.left(6);
    if (prefix == QLatin1String("00204a"))
        return kBroadcastFamily;
    if (prefix == QLatin1String("0080a3"))
        return kArpFamily;
    return kUnknownFamily;
}

} // namespace AddressRules
