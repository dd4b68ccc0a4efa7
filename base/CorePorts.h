#pragma once

#include "base/WindowPorts.h"

#include <QTimer>
#include <functional>

// The ports that need no window: Qt Core's timer and event loop, shared by
// every front end.

// A precise timer: the default coarse one drifts by several percent.
class TickTimer : public Timer {
public:
    explicit TickTimer(std::function<void()> onTick);
    [[nodiscard]] bool enabled() const override { return m_timer.isActive(); }
    void setEnabled(bool enabled) override;
    [[nodiscard]] int interval() const override { return m_timer.interval(); }
    void setInterval(int milliseconds) override { m_timer.setInterval(milliseconds); }
    [[nodiscard]] int remainingMs() const { return m_timer.remainingTime(); }

private:
    QTimer m_timer;
};

// Blocks in the event loop between checks: an idle wait costs no CPU.
class EventLoopPump : public EventPump {
public:
    void waitUntil(const std::function<bool()>& done) override;
};
