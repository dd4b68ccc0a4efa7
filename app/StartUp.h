#pragma once

#include <memory>

class InterruptSignals;
class QWidget;

// What the program sets on its application before it builds the window:
// name, version and the desktop's application id. main() and the start-up
// benchmark both call it, so that the figures are the program's own.
void prepareApplication();

// Ctrl-C in the terminal the window was started from, and the SIGTERM or
// SIGHUP that a desktop session's end sends to every process, close the
// window as its close button does: the window's logic unloads (logging out of
// a running dialogue and removing the neighbour entry) and the application
// leaves its event loop, so that main() returns and the network helper is
// stopped by its owner.
[[nodiscard]] std::unique_ptr<InterruptSignals> closeOnInterrupt(QWidget& window);
