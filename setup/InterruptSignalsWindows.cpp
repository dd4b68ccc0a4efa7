#include "setup/InterruptSignals.h"

#include <QCoreApplication>
#include <QPointer>

#include <atomic>
#include <windows.h>

namespace {
// The one InterruptSignals in place, else null; read on the system's thread.
std::atomic<InterruptSignals*> current{nullptr};
std::function<void()>* currentHandler = nullptr;
// Set once the object goes: the program is ending, its clean-up done.
HANDLE gone = nullptr;

// How long a closed console, a sign-out or a shutdown is held back for the
// run's clean-up (the system itself waits about five seconds).
constexpr DWORD kHoldMs = 4500;

BOOL WINAPI onControl(DWORD event) {
    if (!current.load() || !QCoreApplication::instance())
        return FALSE;
    // To the event loop's thread: the handler runs there as any other does.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [] {
            if (current.load() && currentHandler)
                (*currentHandler)();
        },
        Qt::QueuedConnection);
    switch (event) {
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        // The program ends when this returns: wait for the clean-up first.
        if (gone)
            ::WaitForSingleObject(gone, kHoldMs);
        return TRUE;
    default:
        return TRUE;
    }
}
} // namespace

InterruptSignals::InterruptSignals(std::function<void()> onInterrupt)
    : m_onInterrupt(std::move(onInterrupt)) {
    InterruptSignals* none = nullptr;
    if (!current.compare_exchange_strong(none, this))
        return;
    currentHandler = &m_onInterrupt;
    if (!gone)
        gone = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    else
        ::ResetEvent(gone);
    m_installed = ::SetConsoleCtrlHandler(onControl, TRUE) != 0;
    if (!m_installed) {
        currentHandler = nullptr;
        current.store(nullptr);
    }
}

InterruptSignals::~InterruptSignals() {
    if (!m_installed)
        return;
    ::SetConsoleCtrlHandler(onControl, FALSE);
    current.store(nullptr);
    currentHandler = nullptr;
    if (gone)
        ::SetEvent(gone);
}
