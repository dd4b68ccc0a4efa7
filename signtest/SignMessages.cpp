#include "signtest/SignMessages.h"

namespace {
// Five NULs, SOH, "Z00", STX, the body, EOT.
QString framed(const QString& body) {
    QString frame(5, QChar(0));
    frame += QChar(0x01);
    frame += QStringLiteral("Z00");
    frame += QChar(0x02);
    frame += body;
    frame += QChar(0x04);
    return frame;
}
} // namespace

namespace SignMessages {

QString first() {
    return framed(QStringLiteral("E$AAU0100FF00"));
}

QString second() {
    return framed(QStringLiteral("AA") + QChar(0x1B) + QStringLiteral(" b") +
                  QStringLiteral("IP Test Successful"));
}

} // namespace SignMessages
