#include "net/AssignmentDatagram.h"

#include "address/AddressRules.h"
#include "base/RunTimeError.h"

#include <QRegularExpression>
#include <cmath>

namespace {

QChar hexByte(const QString& text) {
    static const QRegularExpression hex(QStringLiteral("\\A[0-9A-Fa-f]+\\z"));
    const QString t = AddressRules::trimSpaces(text);
    if (!hex.match(t).hasMatch())
        throw RunTimeError(RunTimeError::TypeMismatch);
    bool ok = false;
    const uint v = t.toUInt(&ok, 16);
    if (!ok || v > 255)
        throw RunTimeError(RunTimeError::Overflow);
    return QChar(v);
}

QChar decimalByte(const QString& text) {
    const auto v = AddressRules::numberValue(text);
    if (!v || *v != std::floor(*v))
        throw RunTimeError(RunTimeError::TypeMismatch);
    if (*v < 0 || *v > 255)
        throw RunTimeError(RunTimeError::Overflow);
    return QChar(static_cast<int>(*v));
}

} // namespace

namespace AssignmentDatagram {

QString build(const QString& mac5, const QString& mac6, const std::array<QString, 4>& ip) {
    QString d(3, QChar(0));
    d += QChar(0xFC);
    d += QStringLiteral("NE-TRIKA");
    d += QString(2, QChar(0));
    d += hexByte(mac5);
    d += hexByte(mac6);
    for (const QString& octet : ip)
        d += decimalByte(octet);
    return d;
}

} // namespace AssignmentDatagram
