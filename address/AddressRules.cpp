#include "address/AddressRules.h"

#include <QStringList>

#include <QRegularExpression>

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
    static const QRegularExpression plainDecimal(QStringLiteral("\\A[+-]?(?:[0-9]+(?:\\.[0-9]*)?|\\.[0-9]+)\\z"));
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

bool CheckMacAddress(const MacTexts& fields, QString& mac) {
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

bool CheckIPAddress(const QuadTexts& fields, QString& ip) {
    if (!octetsPass(fields, [](double v) { return v >= 0 && v < 255; }))
        return false;
    ip = joinTrimmed(fields);
    return true;
}

bool CheckGateway(const QuadTexts& gatewayFields, const QuadTexts& maskFields, QString& gateway,
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

bool CheckSubnetMask(const QuadTexts& maskFields) {
    return octetsPass(maskFields, [](double v) { return v >= 0 && v <= 255; });
}

QString DashedMac(const QString& mac) {
    QStringList pairs;
    for (qsizetype i = 0; i + 1 < mac.size(); i += 2)
        pairs << mac.mid(i, 2);
    return pairs.join(QLatin1Char('-'));
}

qint16 MacFamily(const QString& mac) {
    const QString prefix = mac.left(6);
    if (prefix == QLatin1String("00204a"))
        return kBroadcastFamily;
    if (prefix == QLatin1String("0080a3"))
        return kArpFamily;
    return kUnknownFamily;
}

} // namespace AddressRules
