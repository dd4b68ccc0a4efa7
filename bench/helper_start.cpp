// How long the network helper takes to start (to its greeting) with its
// folder empty and with 300,000 files in it, as a member of the group can
// leave there: the median of several starts of each. Needs root; it runs in a
// network namespace of its own, where the helper sends nothing anyway.
//
//   bench_helper_start [files]     (default 300000)
#include "net/NetHelper.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <sched.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kStarts = 7;

double medianStartMs() {
    std::vector<double> times;
    for (int i = 0; i < kStarts; ++i) {
        NetHelper helper(QStringLiteral(NETRIKA_HELPER_HOOKED));
        QElapsedTimer clock;
        clock.start();
        if (!helper.start())
            return -1;
        times.push_back(double(clock.nsecsElapsed()) / 1e6);
        helper.stop();
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const long files = argc > 1 ? std::stol(argv[1]) : 300000;
    if (::geteuid() != 0 || ::unshare(CLONE_NEWNET) != 0) {
        std::puts("  (needs root for a network namespace of its own: sudo bench/run.sh 1 helper)");
        return 0;
    }
    const std::string folder = NETRIKA_HELPER_HOOKED_RUN;
    ::mkdir(folder.c_str(), 03770);
    struct stat ns {};
    ::stat("/proc/self/ns/net", &ns);
    // Named as this network's records would be, so that each costs what a
    // record can cost.
    const auto name = [&](long i) {
        return folder + "/" + std::to_string(ns.st_ino) + "." + std::to_string(i) + ".1.lock";
    };
    const double empty = medianStartMs();
    for (long i = 0; i < files; ++i) {
        const int fd = ::open(name(i).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        if (fd >= 0)
            ::close(fd);
    }
    const double full = medianStartMs();
    for (long i = 0; i < files; ++i)
        ::unlink(name(i).c_str());
    std::printf("Helper start to its greeting (median of %d):\n", kStarts);
    std::printf("  folder as it is     %8.1f ms\n", empty);
    std::printf("  with %ld files %8.1f ms  (goal: under 200 ms)\n", files, full);
    return 0;
}
