#include "app/LauncherProgress.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantMap>

void LauncherProgress::show(double progress, bool visible) {
    // Nothing to hide that was never shown.
    if (!visible && !m_shown)
        return;
    if (!m_looked) {
        m_looked = true;
        // Only a bus the session names: left to itself the bus library may
        // start one of its own.
        m_bus = !qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") &&
                QDBusConnection::sessionBus().isConnected();
    }
    if (!m_bus)
        return;
    QDBusMessage signal = QDBusMessage::createSignal(kPath, kInterface, QStringLiteral("Update"));
    signal << QStringLiteral("application://%1.desktop").arg(m_desktopId)
           << QVariantMap{{QStringLiteral("progress"), progress},
                          {QStringLiteral("progress-visible"), visible}};
    QDBusConnection::sessionBus().send(signal);
    m_shown = visible;
}
