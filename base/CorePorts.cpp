#include "base/CorePorts.h"

#include <QCoreApplication>

TickTimer::TickTimer(std::function<void()> onTick) {
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, &m_timer, std::move(onTick));
}

void TickTimer::setEnabled(bool enabled) {
    if (!enabled)
        m_timer.stop();
    else if (!m_timer.isActive()) // a running period is left as it is
        m_timer.start();
}

void EventLoopPump::waitUntil(const std::function<bool()>& done) {
    while (!done())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}
