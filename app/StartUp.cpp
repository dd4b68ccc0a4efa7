#include "app/StartUp.h"

#include "setup/AppInfo.h"
#include "setup/InterruptSignals.h"

#include <QGuiApplication>
#include <QWidget>

void prepareApplication() {
    QCoreApplication::setApplicationName(AppInfo::kTitle);
    QCoreApplication::setApplicationVersion(AppInfo::versionText());
    // The one application id: it names the desktop entry and the software
    // centre's metainfo file, and a Wayland compositor matches the window to
    // that entry, and so to its icon, by it.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.netrika.Netrika"));
}

std::unique_ptr<InterruptSignals> closeOnInterrupt(QWidget& window) {
    return std::make_unique<InterruptSignals>([&window] { window.close(); });
}
