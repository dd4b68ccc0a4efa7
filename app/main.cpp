#include "app/Form1Window.h"
#include "app/WindowBinding.h"
#include "setup/AppInfo.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(AppInfo::kTitle);
    QCoreApplication::setApplicationVersion(AppInfo::versionText());
    // The one application id: it names the desktop entry and the software
    // centre's metainfo file, and a Wayland compositor matches the window to
    // that entry, and so to its icon, by it.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.netrika.Netrika"));
    // The window and every message box carry the same icon.
    QApplication::setWindowIcon(Form1Window::applicationIcon());

    Form1Window window;
    WindowBinding binding(window);
    window.show();
    return QApplication::exec();
}
