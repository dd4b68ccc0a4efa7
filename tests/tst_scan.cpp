#include "FinishProcess.h"
#include "LanHarness.h"
#include "SimulatorProcess.h"
#include "setup/AdaptorScan.h"
#include "setup/ScanFinder.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <csignal>
#include <linux/if_ether.h>
#include <map>
#include <memory>
#include <netpacket/packet.h>
#include <sys/socket.h>
#include <thread>
#include <vector>

namespace {
constexpr int kSubnet = 91;
const QString kS1 = QStringLiteral("10.77.91.0/24"); // the scanning host's subnet
const QString kS2 = QStringLiteral("10.61.91.0/24"); // on the cable, but no subnet of the host
const QString kS2Prefix = QStringLiteral("10.61.91.");

// The ARP requests with sender address 0.0.0.0 that one MAC sends, as seen by
// a packet socket made in another namespace of the segment: wire time (ns) and
// target address.
class SweepCounter {
public:
    SweepCounter(int fd, QByteArray sender)
        : m_fd(fd)
        , m_sender(std::move(sender))
        , m_thread([this] { run(); }) {}
    ~SweepCounter() {
        stop();
        ::close(m_fd);
    }
    std::vector<std::pair<qint64, quint32>> frames() {
        stop();
        return m_frames;
    }
    // Frames from this sender whose sender address was not 0.0.0.0.
    [[nodiscard]] int addressed() const { return m_addressed; }

private:
    void stop() {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    void run() {
        timeval limit{0, 100000};
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        unsigned char f[2048];
        while (!m_stop) {
            const ssize_t n = ::recv(m_fd, f, sizeof f, 0);
            if (n < 42 || (f[12] << 8 | f[13]) != ETH_P_ARP || f[21] != 1 ||
                QByteArray(reinterpret_cast<const char*>(f + 22), 6) != m_sender)
                continue;
            timespec t{};
            ::clock_gettime(CLOCK_MONOTONIC, &t);
            if (!std::all_of(f + 28, f + 32, [](unsigned char b) { return b == 0; })) {
                ++m_addressed;
                continue;
            }
            quint32 target = 0;
            std::memcpy(&target, f + 38, 4);
            m_frames.push_back({qint64(t.tv_sec) * 1000000000 + t.tv_nsec, ntohl(target)});
        }
    }
    int m_fd;
    QByteArray m_sender;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_addressed{0};
    std::vector<std::pair<qint64, quint32>> m_frames;
    std::thread m_thread;
};

struct Outcome {
    int status = -1;
    QStringList adaptors; // "mac family address ports", sorted
    QByteArray out, err;
    qint64 ms = 0;
};

} // namespace

// netrika-cli scan on one bridged segment in namespaces: six simulated
// adaptors of both families (two addressed in the host's subnet, two in
// another subnet, two with no address) and two hosts that are no adaptors.
class TestScan : public QObject {
    Q_OBJECT
    std::unique_ptr<LanHarness> lan;
    std::vector<std::unique_ptr<SimulatorProcess>> adaptors;
    QByteArray bridgeMac;

    Outcome scan(const QStringList& args, int timeoutMs = 60000) {
        Outcome o;
        QProcess p;
        QElapsedTimer clock;
        clock.start();
        p.start(QStringLiteral(NETRIKA_CLI), QStringList{"scan"} + args);
        if (!p.waitForFinished(timeoutMs))
            p.kill();
        p.waitForFinished();
        o.ms = clock.elapsed();
        o.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        o.out = p.readAllStandardOutput();
        o.err = p.readAllStandardError();
        for (const QByteArray& line : o.out.split('\n')) {
            const QJsonObject e = QJsonDocument::fromJson(line).object();
            if (e.value("event").toString() != QLatin1String("adaptor"))
                continue;
            QStringList ports;
            for (const QJsonValue& v : e.value("open_ports").toArray())
                ports << QString::number(v.toInt());
            o.adaptors << QStringLiteral("%1 %2 %3 %4")
                              .arg(e.value("mac").toString())
                              .arg(e.value("family").toInt())
                              .arg(e.value("address").toString(), e.value("ports_tried").toBool()
                                                                      ? "[" + ports.join(',') + "]"
                                                                      : QStringLiteral("not-tried"));
        }
        o.adaptors.sort();
        return o;
    }

private slots:
    void initTestCase() {
        lan = std::make_unique<LanHarness>(kSubnet, 8);
        if (!lan->ok())
            return;
        const struct {
            const char* mac;
            const char* address;
        } plan[] = {{"00-20-4a-5c-00-01", "10.77.91.21/24"}, {"00-80-a3-5c-00-02", "10.77.91.22/24"},
                    {"00-20-4a-5c-00-03", "10.61.91.23/24"}, {"00-80-a3-5c-00-04", "10.61.91.24/24"},
                    {"00-20-4a-5c-00-05", nullptr},          {"00-80-a3-5c-00-06", nullptr}};
        for (int k = 0; k < 6; ++k) {
            const QStringList extra =
                plan[k].address ? QStringList{"--address", plan[k].address} : QStringList{};
            adaptors.push_back(std::make_unique<SimulatorProcess>(lan->deviceNs(k), lan->deviceInterface(k),
                                                                  plan[k].mac, QStringList{},
                                                                  SimulatorProcess::TestsGroup, extra));
            QVERIFY2(adaptors.back()->ready(), plan[k].mac);
        }
        for (int k : {6, 7}) {
            const QString dev = lan->deviceInterface(k);
            QVERIFY(!lan->ip({"-n", lan->deviceNs(k), "link", "set", "dev", dev, "address",
                              QStringLiteral("02:00:5c:00:00:0%1").arg(k + 1)})
                         .isNull());
            QVERIFY(!lan->ip({"-n", lan->deviceNs(k), "addr", "add",
                              QStringLiteral("10.77.91.3%1/24").arg(k - 5), "dev", dev})
                         .isNull());
        }
        const QString link = QString::fromLatin1(
            lan->ip({"-n", lan->hostNs(), "-o", "link", "show", "nkbr" + QString::number(::getpid())}));
        bridgeMac = QByteArray::fromHex(QRegularExpression(QStringLiteral("link/ether (\\S+)"))
                                            .match(link)
                                            .captured(1)
                                            .remove(':')
                                            .toLatin1());
        QVERIFY(lan->enterHost());
    }
    void init() { NETNS_REQUIRE(*lan); }
    void cleanupTestCase() {
        adaptors.clear();
        lan.reset();
    }

    // Catches a scan that misses an addressed adaptor (in or out of the
    // host's subnets), reports one with no address or a host of another
    // maker, gets a family or port wrong, tries ports it cannot reach, or
    // answers the wrong exit status.
    void scanFinds_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("adaptors");
        const QString a1 = "00-20-4a-5c-00-01 1 10.77.91.21 [9999,3001]";
        const QString a2 = "00-80-a3-5c-00-02 2 10.77.91.22 [23,3001]";
        const QString a3 = "00-20-4a-5c-00-03 1 10.61.91.23 not-tried";
        const QString a4 = "00-80-a3-5c-00-04 2 10.61.91.24 not-tried";
        const QString h1 = "02-00-5c-00-00-07 0 10.77.91.31 []";
        const QString h2 = "02-00-5c-00-00-08 0 10.77.91.32 []";
        QTest::newRow("ok_host_subnet_and_other_range")
            << QStringList{"--json", "--range", kS1, "--range", kS2} << 0 << QStringList{a1, a2, a3, a4};
        QTest::newRow("ok_default_ranges") << QStringList{"--json"} << 0 << QStringList{a1, a2};
        QTest::newRow("ok_all") << QStringList{"--json", "--all"} << 0 << QStringList{a1, a2, h1, h2};
        QTest::newRow("error_nobody_in_range")
            << QStringList{"--json", "--range", "10.62.91.0/24"} << 1 << QStringList{};
        QTest::newRow("error_range_too_large")
            << QStringList{"--range", "10.62.0.0/19"} << 2 << QStringList{};
        QTest::newRow("error_unknown_interface")
            << QStringList{"--interface", "nosuch0"} << 2 << QStringList{};

    }
    void scanFinds() {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QStringList, adaptors);
        const Outcome o = scan(args);
        QVERIFY2(o.status == status, o.out + o.err);
        adaptors.sort();
        QCOMPARE(o.adaptors, adaptors);
        // Each told as the sweep heard it, well before the sweep's end.
        QMap<QString, double> heardAt;
        double end = -1;
        for (const QByteArray& line : o.out.split('\n')) {
            const QJsonObject e = QJsonDocument::fromJson(line).object();
            if (e.value("event") == "heard")
                heardAt.insert(e.value("mac").toString(), e.value("time").toDouble());
            if (e.value("event") == "end")
                end = e.value("time").toDouble();
        }
        for (const QString& a : std::as_const(adaptors)) {
            const QString mac = a.section(' ', 0, 0);
            QVERIFY2(heardAt.contains(mac), o.out);
            QVERIFY2(heardAt.value(mac) + 1.0 < end, o.out);
        }
        if (status == 1)
            QVERIFY2(o.err.contains("cannot answer ARP"), o.err);

    }

    // Catches a bridge's port, which is up, refused as if it were not: the
    // bridge that carries its traffic is named instead. Run as ip netns exec
    // runs it, so that /sys tells this namespace's links.
    void bridgePortNamesItsBridge() {
        const QString port = "nkl0h" + QString::number(::getpid());
        QProcess p;
        p.start(QStringLiteral("ip"),
                {"netns", "exec", lan->hostNs(), QStringLiteral(NETRIKA_CLI), "scan", "--interface", port});
        QString out, err;
        QCOMPARE(finishProcess(p, 20000, out, err), 2);
        QVERIFY2(err.contains(QStringLiteral("--interface %1: a port of the bridge nkbr%2, which carries its "
                                             "traffic: sweep with --interface nkbr%2")
                                  .arg(port)
                                  .arg(::getpid())),
                 qPrintable(err));
    }

    // Catches a sweep that floods the cable, asks an address once only or
    // not at all, or tells neighbours the host's address: counted on the
    // wire, at most 200 frames in any second (a send may come a few ms after
    // its turn, so any 201 must span 0.9 s), each host address of the range
    // twice, sender address 0.0.0.0. Prints the /24's time as a benchmark.
    void sweepOnTheWire() {
        QVERIFY(NetnsHarness::enterNamespace(lan->deviceNs(6)));
        const int fd = ::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(ETH_P_ALL));
        QVERIFY(lan->enterHost());
        QVERIFY(fd >= 0);
        SweepCounter counter(fd, bridgeMac);
        const Outcome o = scan({"--range", kS2, "--interface", "nkbr" + QString::number(::getpid())});
        QTest::qWait(200);
        const auto frames = counter.frames();
        QVERIFY2(o.status == 0, o.out + o.err);
        // The table spells a MAC as the JSON and the window do, and the range swept is told first.
        QVERIFY2(o.out.contains("00-80-a3-5c-00-04") && o.out.contains("not tried"), o.out);
        QVERIFY2(o.err.startsWith(("netrika-cli: sweeping nkbr" + QString::number(::getpid()) + " " + kS2).toUtf8()), o.err);
        std::map<quint32, int> asked;
        for (const auto& f : frames)
            ++asked[f.second];
        QCOMPARE(int(asked.size()), 254);
        QCOMPARE(asked.begin()->first, QHostAddress(kS2Prefix + "1").toIPv4Address());
        QCOMPARE(asked.rbegin()->first, QHostAddress(kS2Prefix + "254").toIPv4Address());
        QVERIFY(std::all_of(asked.begin(), asked.end(), [](const auto& a) { return a.second == 2; }));
        QCOMPARE(counter.addressed(), 0);
        for (std::size_t i = 0; i + 200 < frames.size(); ++i)
            QVERIFY2(frames[i + 200].first - frames[i].first >= 900000000,
                     qPrintable(QStringLiteral("201 frames within %1 ms")
                                    .arg((frames[i + 200].first - frames[i].first) / 1000000)));
        qInfo("benchmark: a /24 swept, each address asked twice: %lld ms for the whole scan, %lld ms on the "
              "wire",
              o.ms, (frames.back().first - frames.front().first) / 1000000);
    }

    // Catches a scan that Ctrl-C does not end cleanly: a /20 (about 41 s of
    // frames) ends within a few seconds with status 130, its helper gone.
    void interruptEndsTheScan() {
        QProcess p;
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(QStringLiteral(NETRIKA_CLI), {"scan", "--range", "10.62.80.0/20"});
        QVERIFY(p.waitForStarted());
        QTest::qWait(1500);
        QCOMPARE(p.state(), QProcess::Running);
        QVERIFY(p.processId() > 0);
        QElapsedTimer clock;
        clock.start();
        ::kill(pid_t(p.processId()), SIGINT);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 130);
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
        // The host's one sweep is free again: a new one is not refused.
        const Outcome o = scan({"--range", "10.62.91.0/30"});
        QVERIFY2(o.status == 1 && !o.err.contains("another sweep"), o.out + o.err);
    }

    // Catches a finder that blocks its caller's event loop while the helper
    // sweeps (the window would freeze for seconds), calls back from its own
    // thread or from within start, or does not end soon when cancelled.
    void finderKeepsTheEventLoop_data() {
        QTest::addColumn<bool>("cancel");
        QTest::newRow("ok_to_the_end") << false;
        QTest::newRow("ok_cancelled") << true;
    }
    void finderKeepsTheEventLoop() {
        QFETCH(bool, cancel);
        ScanFinder finder{QStringLiteral(NETRIKA_HELPER)};
        QList<FoundAdaptor> found;
        std::optional<ScanEnd> end;
        bool starting = true;
        bool wrongThread = false;
        bool duringStart = false;
        QElapsedTimer clock;
        qint64 longestGap = 0;
        qint64 last = 0;
        QTimer ticks;
        ticks.setInterval(10);
        QObject::connect(&ticks, &QTimer::timeout, [&] {
            longestGap = std::max(longestGap, clock.elapsed() - last);
            last = clock.elapsed();
        });
        clock.start();
        ticks.start();
        finder.start(
            {QString(), {kS1}, false},
            [&](const FoundAdaptor& a) {
                wrongThread |= QThread::currentThread() != thread();
                duringStart |= starting;
                found << a;
            },
            [&](const ScanEnd& e) {
                wrongThread |= QThread::currentThread() != thread();
                duringStart |= starting;
                end = e;
            });
        starting = false;
        if (cancel) {
            QTest::qWait(500);
            clock.restart();
            finder.cancel();
            QTRY_VERIFY_WITH_TIMEOUT(end.has_value(), 3000);
            QVERIFY(end->cancelled);
            QVERIFY(found.isEmpty());
            qInfo("cancelled search ended after %lld ms", clock.elapsed());
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(end.has_value(), 20000);
        QVERIFY(!wrongThread && !duringStart);
        QVERIFY2(end->error.isEmpty(), qPrintable(end->error));
        QCOMPARE(end->swept, QStringList{"nkbr" + QString::number(::getpid()) + " 10.77.91.0/24"});
        QCOMPARE(found.size(), 2);
        QCOMPARE(found[0].family + found[1].family, 3);
        QVERIFY(found[0].onHostSubnet && found[0].openPorts.contains(3001));
        // The sweep takes seconds; the caller's timer must have kept ticking.
        QVERIFY2(longestGap < 500, qPrintable(QString::number(longestGap)));
    }

    // Catches ranges planned wrongly: a wide host subnet not narrowed to the
    // /22 around the host, an explicit range sent to the wrong interface or
    // accepted where the interface is not clear, a range not aligned.
    void plan_data() {
        QTest::addColumn<QString>("interfaceName");
        QTest::addColumn<QStringList>("ranges");
        QTest::addColumn<QStringList>("planned"); // or the start of the error
        QTest::newRow("ok_wide_subnet_narrowed")
            << "" << QStringList{} << QStringList{"eth0 10.20.4.0/22", "eth1 192.168.7.0/24"};
        QTest::newRow("ok_interface_only") << "eth1" << QStringList{} << QStringList{"eth1 192.168.7.0/24"};
        QTest::newRow("ok_range_on_its_subnet")
            << "" << QStringList{"192.168.7.77/25"} << QStringList{"eth1 192.168.7.0/25"};
        QTest::newRow("ok_range_named_interface")
            << "eth0" << QStringList{"10.61.1.0/24"} << QStringList{"eth0 10.61.1.0/24"};
        QTest::newRow("error_range_unclear_interface")
            << "" << QStringList{"10.61.1.0/24"} << QStringList{"--range 10.61.1.0/24: 2 Ethernet"};
        QTest::newRow("error_range_19")
            << "eth0" << QStringList{"10.61.0.0/19"} << QStringList{"--range 10.61.0.0/19: more than a /20"};
        QTest::newRow("error_range_31")
            << "eth0" << QStringList{"10.61.0.0/31"} << QStringList{"--range 10.61.0.0/31: a range of /30"};
        QTest::newRow("error_range_text")
            << "eth0" << QStringList{"10.61.0/24"} << QStringList{"--range 10.61.0/24: not a range"};
        QTest::newRow("error_range_multicast") << "eth0" << QStringList{"224.0.0.0/24"}
                                               << QStringList{"--range 224.0.0.0/24: holds a multicast"};
        QTest::newRow("error_interface_unknown")
            << "wlan9" << QStringList{} << QStringList{"--interface wlan9: no Ethernet"};
    }
    void plan() {
        QFETCH(QString, interfaceName);
        QFETCH(QStringList, ranges);
        QFETCH(QStringList, planned);
        const QList<HostInterface> host{{"eth0", {{QHostAddress("10.20.5.9").toIPv4Address(), 16}}},
                                        {"eth1",
                                         {{QHostAddress("192.168.7.3").toIPv4Address(), 24},
                                          {QHostAddress("192.168.9.1").toIPv4Address(), 32}}}};
        const AdaptorScan::Plan p = AdaptorScan::plan({interfaceName, ranges, false}, host);
        if (planned.first().startsWith("--")) {
            QVERIFY2(p.error.startsWith(planned.first()), qPrintable(p.error));
            QVERIFY(p.ranges.isEmpty());
            return;
        }
        QVERIFY2(p.error.isEmpty(), qPrintable(p.error));
        QStringList got;
        for (const ScanRange& r : p.ranges)
            got << r.text();
        QCOMPARE(got, planned);
    }
};

QTEST_GUILESS_MAIN(TestScan)
#include "tst_scan.moc"
