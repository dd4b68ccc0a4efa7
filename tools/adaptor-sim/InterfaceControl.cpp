#include "InterfaceControl.h"

#include <QNetworkInterface>
#include <QProcess>

bool InterfaceControl::setMac(const QString& dashedMac, QString* error) {
    QString colons = dashedMac;
    colons.replace(QLatin1Char('-'), QLatin1Char(':'));
    if (ip({"link", "set", "dev", m_interface, "address", colons}, error))
        return true;
    // Some interfaces take a new address only while down.
    return ip({"link", "set", "dev", m_interface, "down"}, error) &&
           ip({"link", "set", "dev", m_interface, "address", colons}, error) &&
           ip({"link", "set", "dev", m_interface, "up"}, error);
}

bool InterfaceControl::addAddress(const QHostAddress& address, int prefixLength, QString* error) {
    return ip({"addr", "add", QStringLiteral("%1/%2").arg(address.toString()).arg(prefixLength), "dev",
               m_interface},
              error);
}

bool InterfaceControl::removeAddress(const QHostAddress& address, int prefixLength, QString* error) {
    return ip({"addr", "del", QStringLiteral("%1/%2").arg(address.toString()).arg(prefixLength), "dev",
               m_interface},
              error);
}

bool InterfaceControl::holds(const QHostAddress& address) const {
    const QNetworkInterface iface = QNetworkInterface::interfaceFromName(m_interface);
    for (const QNetworkAddressEntry& entry : iface.addressEntries()) {
        if (entry.ip().isEqual(address, QHostAddress::ConvertV4MappedToIPv4))
            return true;
    }
    return false;
}

bool InterfaceControl::ip(const QStringList& args, QString* error) {
    QProcess p;
    p.start(QStringLiteral("ip"), args);
    if (p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
        return true;
    *error =
        QStringLiteral("ip %1: %2")
            .arg(args.join(QLatin1Char(' ')), QString::fromLocal8Bit(p.readAllStandardError()).trimmed());
    return false;
}
