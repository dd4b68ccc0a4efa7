// The program's own window, started as main.cpp starts it.
#include "FirstPaint.h"
#include "app/MainWindow.h"
#include "app/StartUp.h"
#include "app/WindowBinding.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    prepareApplication();
    MainWindow window;
    WindowBinding binding(window);
    FirstPaint watch(window);
    window.show();
    return QApplication::exec();
}
