// A whole setup run of each adaptor family at the program's own pace, against
// the simulated adaptor in network namespaces of this program's own: prints
// the CPU time the program used, as a share of one core, and the longest
// time its event loop was kept from running. Needs root.
#include "NetnsHarness.h"
#include "SimulatorProcess.h"
#include "app/MainWindow.h"
#include "app/WindowBinding.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <cstdio>
#include <sys/resource.h>

namespace {

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

class AnswerYes : public MessageBox {
public:
    int show(const QString&, Buttons buttons, Icon, const QString&) override {
        return buttons == YesNo ? Yes : Ok;
    }
};

// The event loop's heartbeat: the longest gap between two beats, less the period.
class Heartbeat {
public:
    static constexpr int kPeriodMs = 50;
    Heartbeat() {
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout,
                         [this] { m_longest = std::max(m_longest, m_clock.restart() - kPeriodMs); });
        m_clock.start();
        m_timer.start(kPeriodMs);
    }
    [[nodiscard]] qint64 longestBlockMs() const { return m_longest; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_longest = 0;
};

long peakKb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

bool runFamily(int family, const QStringList& misbehave = {}) {
    const QString mac =
        family == 1 ? QStringLiteral("00-20-4a-1b-2c-3d") : QStringLiteral("00-80-a3-61-63-dd");
    NetnsHarness h(110 + family);
    if (!h.ok()) {
        std::fprintf(stderr, "namespaces: %s\n", qPrintable(h.error()));
        return false;
    }
    h.ipIn(h.deviceNs(), {"addr", "flush", "dev", h.deviceInterface()});
    SimulatorProcess sim(h, mac, misbehave);
    if (!sim.ready() || !h.enterHost()) {
        std::fprintf(stderr, "the simulator did not start\n");
        return false;
    }
    AnswerYes box;
    MainWindow window;
    WindowBinding binding(
        window, WindowServices{.messageBox = &box, .helperProgram = QStringLiteral(NETRIKA_HELPER)});
    window.show();
    const QString prefix = h.hostAddress().section('.', 0, 2);
    const QStringList macOctets = mac.split('-');
    const QStringList ip = (prefix + ".50").split('.');
    const QStringList gateway = (prefix + ".254").split('.');
    for (int i = 0; i < 6; ++i)
        window.entry(i)->setText(macOctets.at(i));
    for (int i = 0; i < 4; ++i) {
        window.entry(6 + i)->setText(ip.at(i));
        window.entry(14 + i)->setText(gateway.at(i));
    }

    bool succeeded = false;
    QEventLoop loop;
    QObject::connect(window.statusBar(), &QStatusBar::messageChanged, [&](const QString& text) {
        if (text.startsWith(QLatin1String("Setup IP address is successful")))
            succeeded = true;
        else if (succeeded && text.isEmpty()) // the sign test is out as well
            loop.quit();
        else if (text.contains(QLatin1String("Failed")) || text.contains(QLatin1String(" - ")))
            loop.quit();
    });
    QTimer::singleShot(300000, &loop, &QEventLoop::quit);

    Heartbeat beat;
    QElapsedTimer wall;
    wall.start();
    const double cpu0 = cpuSeconds();
    const long peak0 = peakKb();
    window.setupButton()->click();
    if (!(succeeded && binding.controller().ports.status->message().isEmpty()))
        loop.exec();
    const double cpu = cpuSeconds() - cpu0;
    const double seconds = double(wall.elapsed()) / 1000.0;
    std::printf(
        "family %d%s: %s, %.1f s, CPU %.3f s = %.2f %% of one core, longest event-loop block %lld ms, "
        "peak memory +%.1f MB\n",
        family, misbehave.isEmpty() ? "" : qPrintable(QStringLiteral(" (") + misbehave.join(' ') + ")"),
        succeeded ? "set up" : "FAILED", seconds, cpu, 100.0 * cpu / seconds, beat.longestBlockMs(),
        double(peakKb() - peak0) / 1024.0);
    std::fflush(stdout);
    return succeeded;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    bool ok = true;
    for (int family : {2, 1})
        ok = runFamily(family) && ok;
    // A device that floods the dialogue with 200 MB of garbage and NUL bytes.
    ok = runFamily(1, {QStringLiteral("flood:200")}) && ok;
    return ok ? 0 : 1;
}
