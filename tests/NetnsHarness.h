#pragma once

// Two network namespaces of the test's own, joined by a veth pair: "host",
// where the program under test runs, and "device", where a peer (the kernel's
// own echo replies, a listener, a simulated adaptor) answers. Nothing here
// ever sends a packet from the namespace the test started in.
//
// The calling thread can enter either namespace; sockets keep the namespace
// they were created in, so one test can hold a listener in "device" while
// the program talks to it from "host".

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QTest>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

class NetnsHarness {
public:
    // Host side 10.77.<subnet>.1/24, device side 10.77.<subnet>.2/24; no default route anywhere.
    explicit NetnsHarness(int subnet = 77)
        : m_tag(QString::number(::getpid()))
        , m_host(QStringLiteral("nk-h-") + m_tag)
        , m_device(QStringLiteral("nk-d-") + m_tag)
        , m_hostIf(QStringLiteral("nkh") + m_tag)
        , m_deviceIf(QStringLiteral("nkd") + m_tag)
        , m_prefix(QStringLiteral("10.77.%1.").arg(subnet)) {
        m_root = ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
        sweepStale();
        m_ok = m_root >= 0 && setUp();
        if (!m_ok)
            tearDown();
    }
    ~NetnsHarness() {
        if (m_root >= 0) {
            ::setns(m_root, CLONE_NEWNET);
            ::close(m_root);
        }
        tearDown();
    }
    NetnsHarness(const NetnsHarness&) = delete;
    NetnsHarness& operator=(const NetnsHarness&) = delete;

    [[nodiscard]] bool ok() const { return m_ok; }
    [[nodiscard]] const QString& error() const { return m_error; }
    [[nodiscard]] QString hostAddress() const { return m_prefix + QStringLiteral("1"); }
    [[nodiscard]] QString deviceAddress() const { return m_prefix + QStringLiteral("2"); }
    // An address on the segment that nothing answers.
    [[nodiscard]] QString silentAddress() const { return m_prefix + QStringLiteral("99"); }
    [[nodiscard]] const QString& hostNs() const { return m_host; }
    [[nodiscard]] const QString& deviceNs() const { return m_device; }
    [[nodiscard]] const QString& hostInterface() const { return m_hostIf; }
    [[nodiscard]] const QString& deviceInterface() const { return m_deviceIf; }

    // The calling thread enters a namespace; false with error() set on failure.
    bool enterHost() { return enter(m_host); }
    bool enterDevice() { return enter(m_device); }

    // Runs the ip tool; answers its standard output, or a null array on failure.
    QByteArray ip(const QStringList& args) { return runIp(args, m_error); }
    // The same for any harness: on failure, a null array and why in error.
    static QByteArray runIp(const QStringList& args, QString& error) {
        QProcess p;
        p.start(QStringLiteral("ip"), args);
        if (!p.waitForFinished(10000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
            error = QStringLiteral("ip %1: %2")
                        .arg(args.join(QLatin1Char(' ')),
                             QString::fromLocal8Bit(p.readAllStandardError()).trimmed());
            return {};
        }
        QByteArray out = p.readAllStandardOutput();
        return out.isNull() ? QByteArray("") : out;
    }
    // The calling thread enters the named namespace.
    static bool enterNamespace(const QString& ns) {
        const QByteArray path = QStringLiteral("/run/netns/%1").arg(ns).toLocal8Bit();
        const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
        const bool entered = fd >= 0 && ::setns(fd, CLONE_NEWNET) == 0;
        if (fd >= 0)
            ::close(fd);
        return entered;
    }
    // The same, inside one of the two namespaces.
    QByteArray ipIn(const QString& ns, const QStringList& args) { return ip(QStringList{"-n", ns} + args); }

    // A test process that was killed (a time-out, a crash) leaves its
    // namespaces behind: remove those whose process is gone.
    static void sweepStale() {
        static const QRegularExpression ours(
            QStringLiteral("^nk-(h|d|ph|pd|fc|(s\\d+)?lh|(s\\d+)?l\\d+)-(?<pid>\\d+)$"));
        for (const QString& ns : QDir(QStringLiteral("/run/netns")).entryList(QDir::Files)) {
            const auto m = ours.match(ns);
            if (!m.hasMatch() || QFile::exists(QStringLiteral("/proc/") + m.captured(QStringLiteral("pid"))))
                continue;
            QProcess p;
            p.start(QStringLiteral("ip"), {"netns", "del", ns});
            p.waitForFinished(10000);
        }
    }

private:
    bool setUp() {
        const auto run = [this](const QStringList& args) { return !ip(args).isNull(); };
        return run({"netns", "add", m_host}) && run({"netns", "add", m_device}) &&
               run({"link", "add", m_hostIf, "netns", m_host, "type", "veth", "peer", "name", m_deviceIf,
                    "netns", m_device}) &&
               run({"-n", m_host, "link", "set", "lo", "up"}) &&
               run({"-n", m_device, "link", "set", "lo", "up"}) &&
               run({"-n", m_host, "addr", "add", hostAddress() + "/24", "brd", "+", "dev", m_hostIf}) &&
               run({"-n", m_device, "addr", "add", deviceAddress() + "/24", "brd", "+", "dev", m_deviceIf}) &&
               run({"-n", m_host, "link", "set", m_hostIf, "up"}) &&
               run({"-n", m_device, "link", "set", m_deviceIf, "up"});
    }
    void tearDown() {
        const QString keep = m_error;
        for (const QString& ns : {m_host, m_device}) {
            QProcess p;
            p.start(QStringLiteral("ip"), {"netns", "del", ns});
            p.waitForFinished(10000);
        }
        m_error = keep;
    }
    bool enter(const QString& ns) {
        const bool entered = enterNamespace(ns);
        if (!entered)
            m_error = QStringLiteral("cannot enter namespace %1").arg(ns);
        return entered;
    }

    QString m_tag, m_host, m_device, m_hostIf, m_deviceIf, m_prefix;
    int m_root = -1;
    bool m_ok = false;
    QString m_error;
};

// A test that needs namespaces fails under CI and is skipped elsewhere when
// they cannot be made (not root, no iproute2).
#define NETNS_REQUIRE(harness)                                                                               \
    do {                                                                                                     \
        if (!(harness).ok()) {                                                                               \
            if (qEnvironmentVariable("CI") == QLatin1String("true"))                                         \
                QFAIL(qPrintable(QStringLiteral("network namespaces are needed: ") + (harness).error()));    \
            QSKIP(qPrintable(QStringLiteral("network namespaces unavailable: ") + (harness).error()));       \
        }                                                                                                    \
    } while (false)
