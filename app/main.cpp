#include "app/MainWindow.h"
#include "app/StartUp.h"
#include "app/WindowBinding.h"
#include "setup/InterruptSignals.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    prepareApplication();
    MainWindow window;
    WindowBinding binding(window);
    // A desktop session's end needs nothing more. An X11 session manager first
    // asks for the application's data (commitDataRequest, which Qt answers with
    // nothing: the user may still cancel the logout, and the dialogue goes on),
    // then tells it to end, which Qt turns into a Quit event that closes every
    // window as its close button does. Without such a manager (Wayland, a
    // service stopped, a terminal closed) the end comes as a signal.
    const auto interrupts = closeOnInterrupt(window);
    window.show();
    return QApplication::exec();
}
