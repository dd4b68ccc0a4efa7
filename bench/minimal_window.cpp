// The floor to measure against: the smallest Qt window that shows a line of
// text, built and started exactly like the program.
#include "FirstPaint.h"

#include <QApplication>
#include <QLabel>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QWidget window;
    window.setFixedSize(430, 197);
    QLabel label(QStringLiteral("Minimal window"), &window);
    FirstPaint watch(window);
    window.show();
    return QApplication::exec();
}
