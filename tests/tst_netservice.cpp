#include "net/service/MemoryNeighbourHost.h"
#include "net/service/NetService.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <map>
#include <memory>

using namespace service;

namespace {

std::uint32_t ip(const char* dotted) {
    return helper::parseRequest(std::string("echo ") + dotted)->address;
}
Mac mac(std::uint8_t last) {
    return {2, 0, 0, 0, 0, last};
}

// Moves only when waited on.
struct StepClock final : Clock {
    time_point t{};
    time_point now() override { return t; }
    void sleepUntil(time_point until) override { t = std::max(t, until); }
};

// Records when each echo was sent, and by whom.
struct TimedHost final : MemoryNeighbourHost {
    StepClock* clock = nullptr;
    std::vector<Clock::time_point> sent;
    std::string echo(std::uint32_t address, std::uint16_t sequence) override {
        sent.push_back(clock->now());
        return MemoryNeighbourHost::echo(address, sequence);
    }
};

struct Bench {
    TimedHost host;
    StepClock clock;
    QTemporaryDir dir;
    std::vector<std::string> logged;
    std::unique_ptr<NetService> service;
    Bench() {
        host.clock = &clock;
        host.addSegment({3, "seg0", ip("10.0.0.1"), 24});
        restart();
    }
    void restart() {
        service = std::make_unique<NetService>(host, clock, records().toStdString(),
                                               [this](const std::string& l) { logged.push_back(l); });
    }
    [[nodiscard]] QString records() const { return dir.filePath(QStringLiteral("entries")); }
    [[nodiscard]] QStringList recorded() const {
        QFile f(records());
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromLatin1(f.readAll()).split('\n', Qt::SkipEmptyParts);
    }
    static std::string add(Session& s, const char* address, std::uint8_t last) {
        return s.answer("neigh-add " + std::string(address) + " " + helper::macText(mac(last)));
    }
};

} // namespace

// The service's rules, the Linux helper's, against a host kept in memory.
class TestNetService : public QObject {
    Q_OBJECT
private slots:
    // Catches an entry made over someone's, a probe skipped, a refusal that
    // still changes the table, or a record that disagrees with the table.
    void addingAnEntry_data() {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("macLast");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("probed"); // an ARP probe went out
        QTest::newRow("nothing there") << ""
                                       << "10.0.0.50" << 7 << "ok added seg0" << true;
        QTest::newRow("an unresolved entry") << "unresolved"
                                             << "10.0.0.50" << 7 << "ok added seg0" << true;
        QTest::newRow("a reachable entry")
            << "reachable"
            << "10.0.0.50" << 7 << "refused 10.0.0.50 is in use: the host has a reachable entry for it"
            << false;
        QTest::newRow("someone's permanent entry")
            << "permanent"
            << "10.0.0.50" << 7
            << "refused 10.0.0.50 is bound already by an entry that this helper did not make" << false;
        QTest::newRow("a host answers ARP")
            << "answers"
            << "10.0.0.50" << 7 << "refused 10.0.0.50 is in use: 02:00:00:00:00:09 answers ARP for it"
            << true;
        QTest::newRow("behind a gateway")
            << ""
            << "10.9.0.5" << 7
            << "refused 10.9.0.5 is reached only through a gateway, not on a segment of this host" << false;
        QTest::newRow("the host's own address")
            << ""
            << "10.0.0.1" << 7 << "refused 10.0.0.1 is an address of this host itself" << false;
        QTest::newRow("the subnet's broadcast")
            << ""
            << "10.0.0.255" << 7
            << "refused 10.0.0.255 is the network or broadcast address of a subnet of this host" << false;
        QTest::newRow("a multicast MAC")
            << ""
            << "10.0.0.50" << 1 << "refused 10.0.0.50 is a multicast or broadcast MAC" << false;
        QTest::newRow("an unreadable table")
            << "unreadable"
            << "10.0.0.50" << 7 << "failed the neighbour table cannot be read: Access is denied" << false;
        QTest::newRow("a table that refuses the change")
            << "unchangeable"
            << "10.0.0.50" << 7 << "failed Access is denied" << true;
        QTest::newRow("an entry made meanwhile")
            << "meanwhile"
            << "10.0.0.50" << 7 << "refused 10.0.0.50 is bound already by an entry made meanwhile" << true;
    }
    void addingAnEntry() {
        QFETCH(QString, situation);
        QFETCH(QString, address);
        QFETCH(int, macLast);
        QFETCH(QString, answer);
        QFETCH(bool, probed);
        Bench b;
        const std::uint32_t a = ip(address.toLatin1().constData());
        const HostEntry theirs{{}, true, situation == "permanent", situation == "unresolved", mac(9)};
        if (situation == "unresolved" || situation == "reachable" || situation == "permanent")
            b.host.putEntry(3, a, theirs);
        if (situation == "answers")
            b.host.answersArp(a, mac(9));
        if (situation == "unreadable")
            b.host.failReads("Access is denied");
        if (situation == "unchangeable")
            b.host.failChanges("Access is denied");
        if (situation == "meanwhile")
            b.host.beforeChange = [&](std::uint32_t at) {
                b.host.beforeChange = nullptr;
                b.host.putEntry(3, at, {{}, true, true, false, mac(9)});
            };
        const std::uint8_t macByte = macLast == 1 ? 1 : std::uint8_t(macLast);
        Session s(*b.service);
        const std::string sent =
            "neigh-add " + address.toStdString() + " " +
            (macLast == 1 ? std::string("01:00:5e:00:00:01") : helper::macText(mac(macByte)));
        QCOMPARE(QString::fromStdString(s.answer(sent)), answer);
        QCOMPARE(b.host.arpAsked() > 0, probed);
        const HostEntry now = b.host.entry(3, a);
        if (answer.startsWith("ok")) {
            QVERIFY(now.present && now.permanent && now.mac == mac(macByte));
            QCOMPARE(b.recorded(), QStringList{"3 " + address + " " +
                                               QString::fromStdString(helper::macText(mac(macByte)))});
        } else {
            // Whatever stood there stands as it was, and nothing is recorded.
            if (situation == "meanwhile" || situation == "unresolved" || situation == "reachable" ||
                situation == "permanent")
                QVERIFY(now.present && now.mac == mac(9));
            else
                QVERIFY(!now.present);
            QCOMPARE(b.recorded(), QStringList());
            QVERIFY(!b.logged.empty()); // a refusal is said where the service logs
        }
    }

    // Catches one front end removing or taking over another's entry, and an
    // ended front end's entry left behind or removed after someone replaced it.
    void sessionsKeepToTheirOwn() {
        Bench b;
        auto first = std::make_unique<Session>(*b.service);
        Session second(*b.service);
        QCOMPARE(Bench::add(*first, "10.0.0.50", 7), std::string("ok added seg0"));
        QCOMPARE(Bench::add(*first, "10.0.0.51", 7), std::string("ok added seg0"));
        QCOMPARE(Bench::add(second, "10.0.0.50", 8),
                 std::string("refused 10.0.0.50 is bound already by another netrika helper"));
        QCOMPARE(second.answer("neigh-del 10.0.0.50"),
                 std::string("refused 10.0.0.50 is bound by no entry that this helper made"));
        // Its own entry a front end may bind again, to another MAC.
        QCOMPARE(Bench::add(*first, "10.0.0.50", 8), std::string("ok added seg0"));
        QVERIFY(b.host.entry(3, ip("10.0.0.50")).mac == mac(8));
        // Someone puts an entry of their own where the second one was.
        b.host.putEntry(3, ip("10.0.0.51"), {{}, true, true, false, mac(9)});
        QCOMPARE(b.recorded().size(), 2);
        first.reset(); // its connection closes
        QVERIFY(!b.host.entry(3, ip("10.0.0.50")).present);
        QVERIFY(b.host.entry(3, ip("10.0.0.51")).mac == mac(9));
        QCOMPARE(b.recorded(), QStringList());
        QCOMPARE(Bench::add(second, "10.0.0.50", 8), std::string("ok added seg0"));
        QCOMPARE(second.answer("neigh-del 10.0.0.50"), std::string("ok removed"));
        QCOMPARE(b.host.entryCount(), std::size_t(1));
    }

    // Catches entries left behind by a service that ended without removing
    // them (killed, crashed), removed over someone's since, or forgotten
    // when their removal failed.
    void anEndedServicesEntriesAreRemovedAtStart() {
        Bench b;
        // The service ends with its sessions still open: nothing of it runs
        // again until the test's end, when its objects go, the session first.
        std::unique_ptr<NetService> ended;
        const auto lost = std::make_unique<Session>(*b.service);
        QCOMPARE(Bench::add(*lost, "10.0.0.50", 7), std::string("ok added seg0"));
        QCOMPARE(Bench::add(*lost, "10.0.0.51", 7), std::string("ok added seg0"));
        QCOMPARE(Bench::add(*lost, "10.0.0.52", 7), std::string("ok added seg0"));
        ended = std::move(b.service);
        b.host.putEntry(3, ip("10.0.0.52"), {{}, true, true, false, mac(9)});
        QFile garbage(b.records());
        QVERIFY(garbage.open(QIODevice::Append));
        garbage.write("3 10.0.0.53 not-a-mac\n");
        garbage.close();

        b.host.failChanges("Access is denied");
        b.restart();
        b.service->clearRecorded();
        QCOMPARE(b.recorded().size(), 2); // kept for the next start
        b.host.failChanges({});
        b.restart();
        b.service->clearRecorded();
        QVERIFY(!b.host.entry(3, ip("10.0.0.50")).present);
        QVERIFY(!b.host.entry(3, ip("10.0.0.51")).present);
        QVERIFY(b.host.entry(3, ip("10.0.0.52")).mac == mac(9));
        QCOMPARE(b.recorded(), QStringList());
        QVERIFY(std::any_of(b.logged.begin(), b.logged.end(), [](const std::string& l) {
            return l.find("not an entry") != std::string::npos;
        }));
    }

    // Catches a budget that lets more than 20 probes a second out of the
    // machine, a front end past its own 4 a second, or a probe held longer
    // than a second: random front ends at random moments.
    void probesKeepToTheBudget() {
        for (int round = 0; round < 20; ++round) {
            Bench b;
            QRandomGenerator random{quint32(round)};
            std::vector<std::unique_ptr<Session>> sessions;
            for (int i = 0; i < 6; ++i)
                sessions.push_back(std::make_unique<Session>(*b.service));
            std::map<int, std::vector<Clock::time_point>> bySession;
            for (int i = 0; i < 400; ++i) {
                b.clock.t += std::chrono::milliseconds(random.bounded(60));
                const int who = int(random.bounded(6));
                const auto asked = b.clock.t;
                const std::size_t before = b.host.sent.size();
                const std::string answer = sessions[std::size_t(who)]->answer("echo 10.0.0.9");
                QVERIFY(b.clock.t - asked <= kBudgetWait);
                // A front end's pace is kept when it asks; the machine's when sent.
                if (b.host.sent.size() > before)
                    bySession[who].push_back(asked);
                else
                    QCOMPARE(answer, std::string("refused 10.0.0.9 is too many probes: at most 4 a second"));
            }
            const auto& sent = b.host.sent;
            for (std::size_t i = kMachineProbesPerSecond; i < sent.size(); ++i)
                QVERIFY2(sent[i] - sent[i - kMachineProbesPerSecond] >= std::chrono::seconds(1),
                         qPrintable(QStringLiteral("round %1, probe %2").arg(round).arg(i)));
            for (const auto& [who, times] : bySession)
                for (std::size_t i = 0; i < times.size(); ++i)
                    for (std::size_t j = i + 1; j < times.size(); ++j) {
                        const double span = std::chrono::duration<double>(times[j] - times[i]).count();
                        QVERIFY(double(j - i + 1) <= kSessionProbesPerSecond * (1 + span) + 1e-9);
                    }
        }
    }

    // Catches a request line read differently than the Linux helper reads it.
    void requestLines_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("answer");
        QTest::newRow("an echo nobody answers") << QByteArray("echo 10.0.0.9") << "ok silent";
        QTest::newRow("an echo answered")
            << QByteArray("echo 10.0.0.7") << "ok answered 1 4563686f2054686973";
        QTest::newRow("an ARP probe") << QByteArray("arp-probe 10.0.0.9") << "ok silent";
        QTest::newRow("loopback") << QByteArray("echo 127.0.0.1")
                                  << "refused 127.0.0.1 is a loopback address";
        QTest::newRow("a sweep") << QByteArray("arp-sweep seg0 10.0.0.0/24")
                                 << "refused sweeps are not offered by this host's network service";
        QTest::newRow("a removal of nothing")
            << QByteArray("neigh-del 10.0.0.9")
            << "refused 10.0.0.9 is bound by no entry that this helper made";
        QTest::newRow("too long") << QByteArray(65, 'e') << "refused request too long";
        QTest::newRow("no such request") << QByteArray("shell ls") << "refused ";
    }
    void requestLines() {
        QFETCH(QByteArray, line);
        QFETCH(QString, answer);
        Bench b;
        b.host.answersEcho(ip("10.0.0.7"));
        QCOMPARE(b.service->greeting(), std::string("netrika-net-helper 1 can echo arp neigh"));
        Session s(*b.service);
        const QString got = QString::fromStdString(s.answer(line.toStdString()));
        if (answer.endsWith(' '))
            QVERIFY2(got.startsWith(answer), qPrintable(got));
        else
            QCOMPARE(got, answer);
    }
};

QTEST_GUILESS_MAIN(TestNetService)
#include "tst_netservice.moc"
