// The program's own window as it would start if its four sockets were Qt
// Network's: the same window, with three TCP sockets and a UDP socket made
// before it is shown. Measured beside the real window, the difference is what
// the host's own sockets (net/HostSocketControl) save at every start.
#include "FirstPaint.h"
#include "app/MainWindow.h"
#include "app/StartUp.h"
#include "app/WindowBinding.h"

#include <QApplication>
#include <QTcpSocket>
#include <QUdpSocket>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    prepareApplication();
    MainWindow window;
    WindowBinding binding(window);
    QTcpSocket commandLine, setupMenu, sign;
    QUdpSocket datagram;
    FirstPaint watch(window);
    window.show();
    return QApplication::exec();
}
