#include "setup/RunProgress.h"

#include <algorithm>

namespace {
// Probes a cycle sends before it gives up.
constexpr int kProbes = 3;

int dialogueLines(int family) {
    return family == 1 ? RunProgress::kMenuLines : RunProgress::kCommandLines;
}
} // namespace

void RunProgress::started(int family, int tickMs) {
    m_now = Snapshot{};
    m_now.family = family;
    m_tickMs = tickMs;
    m_startMs = m_clock ? m_clock() : 0;
    m_totalTicks = ticksFrom(Stage::Checking);
}

// A smooth run: three silent probes, the adaptor answering the first probe at
// its new address, one tick a line of its dialogue and one to close it.
int RunProgress::ticksFrom(Stage stage) const {
    switch (stage) {
    case Stage::Idle:
    case Stage::Identifying:
    case Stage::Checking:
        return kProbes + 1 + dialogueLines(m_now.family) + 1;
    case Stage::Assigning:
    case Stage::Waiting:
        return 1 + dialogueLines(m_now.family) + 1;
    case Stage::CommandLine:
        return kCommandLines + 1;
    case Stage::SetupMenu:
        return kMenuLines + 1;
    case Stage::SignTest:
    case Stage::Ended:
        return 0;
    }
    return 0;
}

void RunProgress::enter(Stage stage, int steps) {
    m_now.stage = stage;
    m_now.step = 0;
    m_now.steps = steps;
    publish();
}

void RunProgress::step(int k) {
    m_now.step = k;
    publish();
}

void RunProgress::ended(const QString& result) {
    m_now.stage = Stage::Ended;
    m_now.step = 0;
    m_now.steps = 0;
    m_now.result = result;
    publish();
}

void RunProgress::publish() {
    const qint64 now = m_clock ? m_clock() : 0;
    m_now.elapsedMs = now - m_startMs;
    // Probes of the check and lines of the dialogue each take a tick.
    const int within = m_now.stage == Stage::Checking || isDialogue(m_now.stage) ? m_now.step : 0;
    const int left = std::max(0, ticksFrom(m_now.stage) - within);
    m_now.leftMs = m_now.stage == Stage::Ended ? 0 : qint64(left) * m_tickMs;
    const int done = m_totalTicks - left;
    const int percent =
        m_now.stage == Stage::Ended ? 100 : std::clamp(100 * done / std::max(1, m_totalTicks), 0, 99);
    m_now.percent = std::max(m_now.percent, percent);
    for (const Observer& observer : m_observers)
        observer(m_now);
}

QString RunProgress::stageName(Stage stage) {
    switch (stage) {
    case Stage::Idle:
        return QStringLiteral("idle");
    case Stage::Identifying:
        return QStringLiteral("asking who answers at the adaptor's address");
    case Stage::Checking:
        return QStringLiteral("checking that the address is free");
    case Stage::Assigning:
        return QStringLiteral("giving the adaptor its address");
    case Stage::Waiting:
        return QStringLiteral("waiting for the adaptor to answer");
    case Stage::CommandLine:
    case Stage::SetupMenu:
        return QStringLiteral("the adaptor's dialogue");
    case Stage::SignTest:
        return QStringLiteral("the sign test");
    case Stage::Ended:
        return QStringLiteral("ended");
    }
    return {};
}

QString RunProgress::stageKey(Stage stage) {
    switch (stage) {
    case Stage::Idle:
        return QStringLiteral("idle");
    case Stage::Identifying:
        return QStringLiteral("identifying");
    case Stage::Checking:
        return QStringLiteral("checking");
    case Stage::Assigning:
        return QStringLiteral("assigning");
    case Stage::Waiting:
        return QStringLiteral("waiting");
    case Stage::CommandLine:
    case Stage::SetupMenu:
        return QStringLiteral("dialogue");
    case Stage::SignTest:
        return QStringLiteral("sign_test");
    case Stage::Ended:
        return QStringLiteral("ended");
    }
    return {};
}

QString RunProgress::describe(const Snapshot& s) {
    QString text = stageName(s.stage);
    if (s.stage == Stage::Checking || s.stage == Stage::Waiting) {
        if (s.steps > 0)
            text += QStringLiteral(", probe %1 of %2").arg(std::max(1, s.step)).arg(s.steps);
    } else if (isDialogue(s.stage) && s.steps > 0) {
        text += QStringLiteral(", %1 of %2 lines sent").arg(s.step).arg(s.steps);
    } else if (s.stage == Stage::Ended && !s.result.isEmpty()) {
        text += QStringLiteral(": ") + s.result;
    }
    return text;
}
