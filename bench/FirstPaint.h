#pragma once

// Reports on standard output the moment a window is first painted (the wall
// clock, in microseconds), with the process's peak resident memory and CPU
// time by then; and, once the window
// has settled (what it defers past its first frame done), the peak resident
// memory again. Then ends the process.

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <ctime>
#include <sys/resource.h>

class FirstPaint : public QObject {
public:
    static constexpr int kSettleMs = 500;

    explicit FirstPaint(QWidget& window) { window.installEventFilter(this); }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint && !m_seen) {
            m_seen = true;
            // Let the paint finish, then report.
            QTimer::singleShot(0, [] {
                const rusage usage = now();
                const long cpuUs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000L +
                                   usage.ru_utime.tv_usec + usage.ru_stime.tv_usec;
                timespec wall{};
                clock_gettime(CLOCK_REALTIME, &wall);
                std::printf("painted %ld %ld %ld\n", usage.ru_maxrss, cpuUs,
                            wall.tv_sec * 1000000L + wall.tv_nsec / 1000L);
                std::fflush(stdout);
            });
            QTimer::singleShot(kSettleMs, [] {
                std::printf("settled %ld\n", now().ru_maxrss);
                std::fflush(stdout);
                QCoreApplication::exit(0);
            });
        }
        return false;
    }

private:
    static rusage now() {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        return usage;
    }
    bool m_seen = false;
};
