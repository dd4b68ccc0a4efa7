// Ten simulated adaptors of both families in one `netrika-cli batch`, beside
// one `netrika-cli setup` of each family on the same segment: prints the wall
// time of each, the ratio of the batch to the slowest single run, the CPU time
// and the peak memory of the whole process tree (front end, children,
// helpers). Needs root for its network namespaces.
//
//   bench_batch_run [tick-ms]     (default 3000, the program's own pace)
#include "LanHarness.h"
#include "SimulatorProcess.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>
#include <memory>
#include <sys/resource.h>

namespace {

double childCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Memory of a process and all its descendants, in kB: the resident set
// summed over the processes (which counts the Qt libraries once for each),
// and their private memory alone (what the runs themselves add).
struct Memory {
    long rssKb = 0, privateKb = 0;
};
Memory treeMemory(qint64 pid) {
    Memory m;
    QFile rollup(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
    if (rollup.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : rollup.readAll().split('\n')) {
            const long kb = line.mid(line.indexOf(':') + 1).trimmed().split(' ').value(0).toLong();
            if (line.startsWith("Rss:"))
                m.rssKb += kb;
            else if (line.startsWith("Private_"))
                m.privateKb += kb;
        }
    }
    QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(pid));
    if (children.open(QIODevice::ReadOnly)) {
        for (const QByteArray& child : children.readAll().split(' ')) {
            if (child.trimmed().isEmpty())
                continue;
            const Memory c = treeMemory(child.trimmed().toLongLong());
            m.rssKb += c.rssKb;
            m.privateKb += c.privateKb;
        }
    }
    return m;
}

struct Figures {
    double wall = 0, cpu = 0;
    long peakRssKb = 0, peakPrivateKb = 0;
    int exitCode = -1;
};

// Runs netrika-cli with these arguments, sampling the tree's memory.
Figures measure(const QStringList& arguments) {
    Figures f;
    const double cpuBefore = childCpuSeconds();
    QElapsedTimer clock;
    clock.start();
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.setStandardOutputFile(QProcess::nullDevice());
    p.start(QStringLiteral(NETRIKA_CLI), arguments);
    p.waitForStarted();
    while (!p.waitForFinished(50)) {
        const Memory m = treeMemory(p.processId());
        f.peakRssKb = std::max(f.peakRssKb, m.rssKb);
        f.peakPrivateKb = std::max(f.peakPrivateKb, m.privateKb);
    }
    f.wall = double(clock.elapsed()) / 1000.0;
    f.cpu = childCpuSeconds() - cpuBefore;
    f.exitCode = p.exitCode();
    return f;
}

void print(const char* what, const Figures& f) {
    std::printf("  %-34s %7.1f s wall  %6.2f s CPU  peak RSS sum %6.1f MB, private %6.1f MB  exit %d\n", what,
                f.wall, f.cpu, double(f.peakRssKb) / 1024.0, double(f.peakPrivateKb) / 1024.0, f.exitCode);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QString tick = app.arguments().value(1, QStringLiteral("3000"));
    constexpr int kBatch = 10;
    // Two adaptors for the single runs, then the batch's ten: odd ones of the
    // broadcast family, even ones of the ARP family.
    LanHarness lan(90, kBatch + 2);
    if (!lan.ok()) {
        std::fprintf(stderr, "network namespaces: %s\n", qPrintable(lan.error()));
        return 1;
    }
    const auto macOf = [](int k) {
        return QStringLiteral("%1-00-00-%2")
            .arg(k % 2 ? "00-20-4a" : "00-80-a3")
            .arg(k + 1, 2, 10, QChar('0'));
    };
    std::vector<std::unique_ptr<SimulatorProcess>> sims;
    for (int k = 0; k < kBatch + 2; ++k) {
        sims.push_back(std::make_unique<SimulatorProcess>(lan.deviceNs(k), lan.deviceInterface(k), macOf(k)));
        if (!sims.back()->ready())
            return 1;
    }
    if (!lan.enterHost())
        return 1;
    const auto setupArguments = [&](int k) {
        return QStringList{
            "setup",         "--mac",     macOf(k),         "--ip",        lan.address(10 + k), "--mask",
            "255.255.255.0", "--gateway", lan.address(254), "--sign-test", "--tick-ms",         tick};
    };
    std::printf("netrika-cli at a %s ms tick, against the simulator:\n", qPrintable(tick));
    const Figures arp = measure(setupArguments(0));
    print("one 00-80-a3 run (setup)", arp);
    const Figures broadcast = measure(setupArguments(1));
    print("one 00-20-4a run (setup)", broadcast);

    QTemporaryDir dir;
    QFile csv(dir.filePath(QStringLiteral("ten.csv")));
    if (!csv.open(QIODevice::WriteOnly))
        return 1;
    csv.write("mac,ip,mask,gateway,sign_test\n");
    for (int k = 2; k < kBatch + 2; ++k)
        csv.write(QStringList{macOf(k), lan.address(10 + k), "255.255.255.0", lan.address(254), "yes"}
                      .join(',')
                      .toLatin1() +
                  '\n');
    csv.close();
    const Figures batch = measure({"batch", csv.fileName(), "--tick-ms", tick});
    print("ten runs, both families (batch)", batch);
    const double slowest = std::max(arp.wall, broadcast.wall);
    std::printf("  batch wall / slowest single run: %.2f x\n", batch.wall / slowest);
    return 0;
}
