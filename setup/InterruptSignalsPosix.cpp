#include "setup/InterruptSignals.h"

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

namespace {
// The socket pair's writing end while an InterruptSignals is in place, else -1.
volatile std::sig_atomic_t writeEnd = -1;

void onSignal(int) {
    // Only what is safe in a signal handler: one non-blocking write. A full
    // pair means bytes are waiting already, and one is enough.
    const int saved = errno;
    const char byte = 1;
    (void)!::send(writeEnd, &byte, 1, MSG_DONTWAIT | MSG_NOSIGNAL);
    errno = saved;
}
} // namespace

InterruptSignals::InterruptSignals(std::function<void()> onInterrupt)
    : m_onInterrupt(std::move(onInterrupt)) {
    if (writeEnd >= 0)
        return;
    // Close-on-exec: a batch's rows, each a program of its own, must not
    // inherit the pair and wake this one.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, m_pair.data()) != 0) {
        m_pair = {-1, -1};
        return;
    }
    m_notifier = std::make_unique<QSocketNotifier>(m_pair[0], QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(),
                     [this] { takeBytes(); });
    writeEnd = m_pair[1];
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        struct sigaction current {};
        if (::sigaction(kSignals[i], nullptr, &current) != 0 || current.sa_handler == SIG_IGN)
            continue;
        struct sigaction action {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        // Calls under way go on: the close comes through the event loop anyway.
        action.sa_flags = SA_RESTART;
        m_taken[i] = ::sigaction(kSignals[i], &action, &m_previous[i]) == 0;
    }
}

InterruptSignals::~InterruptSignals() {
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        if (m_taken[i])
            ::sigaction(kSignals[i], &m_previous[i], nullptr);
    }
    if (m_notifier)
        writeEnd = -1;
    m_notifier.reset();
    for (int fd : m_pair) {
        if (fd >= 0)
            ::close(fd);
    }
}

void InterruptSignals::takeBytes() {
    // Several signals before the loop came round (SIGTERM and SIGHUP together
    // at a session's end) are one close.
    char bytes[64];
    while (::read(m_pair[0], bytes, sizeof bytes) > 0) {
    }
    m_onInterrupt();
}
