// The program's own window, built as main.cpp builds it.
#include "FirstPaint.h"
#include "app/Form1Window.h"
#include "app/WindowBinding.h"
#include "setup/AppInfo.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(AppInfo::kTitle);
    QCoreApplication::setApplicationVersion(AppInfo::versionText());
    Form1Window window;
    WindowBinding binding(window);
    FirstPaint watch(window);
    window.show();
    return QApplication::exec();
}
