#pragma once

#include "setup/RunStage.h"

#include <QString>

#include <functional>
#include <vector>

// Where a setup run stands: its stage, which the sequencer's ticks act on, and
// how far it has come, for whoever shows it (the window's progress bar, the
// command line's -v lines and JSON events). The run's procedures tell it what
// they begin; it keeps and passes on what it is told, and never acts itself.
class RunProgress {
public:
    using Stage = RunStage;
    struct Snapshot {
        Stage stage = Stage::Idle;
        int step = 0;  // within the stage, from 1; 0 before its first
        int steps = 0; // 0: the stage has no count
        qint64 elapsedMs = 0;
        qint64 leftMs = -1; // expected from the family's pacing; -1 unknown
        int percent = 0;    // of the whole run; never goes back within a run
        int family = 0;
        QString result; // at Ended: the run's last status text
        bool operator==(const Snapshot&) const = default;
    };
    using Observer = std::function<void(const Snapshot&)>;
    using Clock = std::function<qint64()>;

    // Lines of each family's dialogue, sent a tick apart at the least.
    static constexpr int kMenuLines = 31;
    static constexpr int kCommandLines = 11;

    void observe(Observer observer) { m_observers.push_back(std::move(observer)); }
    void setClock(Clock clock) { m_clock = std::move(clock); }

    // The checks passed: a run of this family (1, 2, or 0 unknown) begins,
    // paced by ticks of tickMs.
    void started(int family, int tickMs);
    void enter(Stage stage, int steps = 0);
    void step(int k);
    void ended(const QString& result);

    [[nodiscard]] const Snapshot& now() const { return m_now; }
    [[nodiscard]] Stage stage() const { return m_now.stage; }
    [[nodiscard]] bool running() const { return m_now.stage != Stage::Idle && m_now.stage != Stage::Ended; }
    // "waiting for the adaptor to answer, probe 2 of 3".
    [[nodiscard]] static QString describe(const Snapshot& snapshot);
    [[nodiscard]] static QString stageName(Stage stage);
    // "checking", "sign_test" ...: the stage as machine output names it.
    [[nodiscard]] static QString stageKey(Stage stage);

private:
    void publish();
    // Ticks expected from the start of this stage to the end of the run.
    [[nodiscard]] int ticksFrom(Stage stage) const;

    Snapshot m_now;
    int m_tickMs = 3000;
    int m_totalTicks = 1;
    Clock m_clock;
    qint64 m_startMs = 0;
    std::vector<Observer> m_observers;
};
