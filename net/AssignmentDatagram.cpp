#include "net/AssignmentDatagram.h"

namespace AssignmentDatagram {

QString build(quint8 mac5, quint8 mac6, quint32 ip) {
    QString d(3, QChar(0));
    d += QChar(0xFC);
    d += QStringLiteral("NE-TRIKA");
    d += QString(2, QChar(0));
    d += QChar(char16_t(mac5));
    d += QChar(char16_t(mac6));
    for (int shift = 24; shift >= 0; shift -= 8)
        d += QChar(char16_t((ip >> shift) & 0xff));
    return d;
}

} // namespace AssignmentDatagram
