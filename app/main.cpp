#include "app/Form1Window.h"
#include "app/WindowBinding.h"
#include "setup/AppInfo.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(AppInfo::kTitle);
    QCoreApplication::setApplicationVersion(AppInfo::versionText());
    QGuiApplication::setDesktopFileName(QStringLiteral("netrika"));

    Form1Window window;
    WindowBinding binding(window);
    window.show();
    return QApplication::exec();
}
