#include "LanHarness.h"
#include "SimulatorProcess.h"
#include "cli/Batch.h"
#include "setup/Sequencer.h"
#include "setup/SetupCommand.h"
#include "signtest/SignMessages.h"

#include <QTemporaryDir>

#include <csignal>
#include <memory>
#include <numeric>

namespace {
const QString kMask = QStringLiteral("255.255.255.0");

// One adaptor on the segment and its row in the batch file.
struct Adaptor {
    QString mac;
    int last; // the row's address, 10.77.89.<last>
    QStringList misbehave;
    QString signTest;
};

// netrika-cli batch, started in the segment's host namespace.
class BatchCommand {
public:
    BatchCommand(const QString& csv, const QStringList& arguments) {
        QFile f(m_dir.filePath("rows.csv"));
        if (f.open(QIODevice::WriteOnly))
            f.write(csv.toUtf8());
        f.close();
        m_process.start(QStringLiteral(NETRIKA_CLI),
                        QStringList{"batch", f.fileName(), "--report", report()} + arguments);
        m_process.waitForStarted(5000);
    }
    [[nodiscard]] QString report() const { return m_dir.filePath("report.csv"); }
    [[nodiscard]] QStringList reportLines() const {
        QFile f(report());
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts)
                                           : QStringList{};
    }
    int finish(int ms) {
        if (!m_process.waitForFinished(ms))
            m_process.kill();
        m_process.waitForFinished(5000);
        out = QString::fromUtf8(m_process.readAllStandardOutput());
        err = QString::fromUtf8(m_process.readAllStandardError());
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }
    [[nodiscard]] qint64 pid() const { return m_process.processId(); }
    QString out, err;

private:
    QTemporaryDir m_dir;
    QProcess m_process;
};

QString csvOf(const LanHarness& lan, const std::vector<Adaptor>& adaptors, const QString& extra = {}) {
    QString csv = QStringLiteral("mac,ip,mask,gateway,sign_test\n# a comment, then a blank line\n\n");
    for (const Adaptor& a : adaptors)
        csv += QStringList{a.mac, lan.address(a.last), kMask, lan.address(254), a.signTest}.join(',') + '\n';
    return csv + extra;
}

struct Segment {
    LanHarness lan;
    std::vector<std::unique_ptr<SimulatorProcess>> sims;
    explicit Segment(const std::vector<Adaptor>& adaptors)
        : lan(89, int(adaptors.size())) {
        for (int k = 0; lan.ok() && k < int(adaptors.size()); ++k)
            sims.push_back(std::make_unique<SimulatorProcess>(lan.deviceNs(k), lan.deviceInterface(k),
                                                              adaptors[k].mac, adaptors[k].misbehave));
    }
    [[nodiscard]] bool ready() const {
        return std::all_of(sims.begin(), sims.end(), [](const auto& s) { return s->ready(); });
    }
    [[nodiscard]] bool nothingSent() const {
        return std::all_of(sims.begin(), sims.end(), [](const auto& s) {
            return s->summary().value("connections").toArray().isEmpty() &&
                   s->summary().value("datagrams").toArray().isEmpty();
        });
    }
};
} // namespace

// Many adaptors at once: every row runs as its own netrika-cli setup, so one
// adaptor's silence, flood or taken address neither holds up nor breaks the
// others, and every row ends in the table and the report.
class TestBatch : public QObject {
    Q_OBJECT
private slots:
    // Catches two broadcast-family rows that the adaptors could not tell
    // apart running side by side, a place left unused, or the file's order lost.
    void schedule_data() {
        QTest::addColumn<QStringList>("keys"); // the rows' datagram keys; "" for the ARP family
        QTest::addColumn<QList<int>>("running");
        QTest::addColumn<int>("jobs");
        QTest::addColumn<QList<int>>("starts");
        const QStringList keys{"2c3d", "2c3d", "", "2c3e", ""};
        QTest::newRow("ok_same_tail_waits") << keys << QList<int>{} << 16 << QList<int>{0, 2, 3, 4};
        QTest::newRow("ok_same_tail_after_first") << keys << QList<int>{2} << 16 << QList<int>{0, 3, 4};
        QTest::newRow("error_same_tail_running") << keys << QList<int>{0} << 16 << QList<int>{2, 3, 4};
        QTest::newRow("ok_jobs_cap_in_file_order") << keys << QList<int>{} << 2 << QList<int>{0, 2};
        QTest::newRow("ok_no_place_left") << keys << QList<int>{2, 4} << 2 << QList<int>{};
    }
    void schedule() {
        QFETCH(QStringList, keys);
        QFETCH(QList<int>, running);
        QFETCH(int, jobs);
        QFETCH(QList<int>, starts);
        std::vector<BatchRow> rows(keys.size());
        std::vector<int> waiting;
        for (int r = 0; r < int(keys.size()); ++r) {
            rows[r].datagramKey = keys[r];
            if (!running.contains(r))
                waiting.push_back(r);
        }
        const auto got = startable(rows, waiting, std::vector<int>(running.begin(), running.end()), jobs);
        QCOMPARE(QList<int>(got.begin(), got.end()), starts);
    }

    // Catches the same-tail rule keyed on the wrong family, or on the MAC as
    // written rather than as the adaptor reads it, from the file to the first starts.
    void scheduleFromFile_data() {
        QTest::addColumn<QStringList>("macs"); // one row each, in the order of the file
        QTest::addColumn<QList<int>>("starts");
        QTest::newRow("error_broadcast_family_same_tail")
            << QStringList{"00-20-4a-00-2c-3d", "00-20-4a-11-2c-3d"} << QList<int>{0};
        QTest::newRow("error_broadcast_family_same_tail_other_spelling")
            << QStringList{"00-20-4a-00-2c-3d", "00:20:4A:11:2C:3D"} << QList<int>{0};
        QTest::newRow("ok_arp_family_same_tail")
            << QStringList{"00-80-a3-00-2c-3d", "00-80-a3-11-2c-3d"} << QList<int>{0, 1};
        QTest::newRow("ok_broadcast_family_other_tail")
            << QStringList{"00-20-4a-00-2c-3d", "00-20-4a-00-3d-2c"} << QList<int>{0, 1};
        QTest::newRow("ok_same_tail_across_families")
            << QStringList{"00-80-a3-00-2c-3d", "00-20-4a-00-2c-3d", "00-80-a3-11-2c-3d", "00-20-4a-11-2c-3d"}
            << QList<int>{0, 1, 2};
    }
    void scheduleFromFile() {
        QFETCH(QStringList, macs);
        QFETCH(QList<int>, starts);
        QString text = QStringLiteral("mac,ip,mask,gateway\n");
        for (int r = 0; r < int(macs.size()); ++r)
            text += QStringLiteral("%1,10.1.2.%2,255.255.255.0,10.1.2.254\n").arg(macs[r]).arg(10 + r);
        const BatchFile file = BatchFile::parse(text);
        QVERIFY2(file.problems.isEmpty(), qPrintable(file.problems.join('\n')));
        QCOMPARE(int(file.rows.size()), int(macs.size()));
        std::vector<int> waiting(file.rows.size());
        std::iota(waiting.begin(), waiting.end(), 0);
        const auto got = startable(file.rows, waiting, {}, 16);
        QCOMPARE(QList<int>(got.begin(), got.end()), starts);
    }

    // Catches a batch file that sends anything although one of its lines is
    // wrong, or a wrong line that is not named with its reason.
    void invalidFileSendsNothing_data() {
        QTest::addColumn<QString>("extra"); // lines after a good row for the adaptor on the segment
        QTest::addColumn<QString>("problem");
        QTest::newRow("error_beyond_the_field")
            << "00-80-a3-00-00-02,10.77.89.300,255.255.255.0,10.77.89.254,no\n"
            << "line 5: ip \"10.77.89.300\": each octet one to three digits, 0 to 254";
        QTest::newRow("error_sign_test_word") << "00-80-a3-00-00-02,10.77.89.12,255.255.255.0,10.77.89.254,maybe\n"
                                              << "line 5: sign_test \"maybe\": yes or no";
        QTest::newRow("error_repeated_mac") << "00:80:A3:00:00:01,10.77.89.12,255.255.255.0,10.77.89.254,no\n"
                                            << "line 5: mac \"00:80:A3:00:00:01\": on line 4 already";
        QTest::newRow("error_repeated_ip")
            << "00-80-a3-00-00-02,010.77.89.011,255.255.255.0,10.77.89.254,no\n"
            << "line 5: ip \"010.77.89.011\": on line 4 already";
        QTest::newRow("error_missing_column") << "00-80-a3-00-00-02,10.77.89.12,255.255.255.0\n"
                                              << "line 5: gateway \"\": missing";
        QTest::newRow("error_unknown_family")
            << "00-11-22-00-00-02,10.77.89.12,255.255.255.0,10.77.89.254,no\n"
            << "line 5: mac \"00-11-22-00-00-02\": " + SetupCommand::kFamilyMessage;
    }
    void invalidFileSendsNothing() {
        QFETCH(QString, extra);
        QFETCH(QString, problem);
        const std::vector<Adaptor> adaptors{{"00-80-a3-00-00-01", 11, {}, "yes"}};
        Segment s(adaptors);
        NETNS_REQUIRE(s.lan);
        QVERIFY2(s.ready(), "the simulator did not start");
        QVERIFY(s.lan.enterHost());
        BatchCommand batch(csvOf(s.lan, adaptors, extra), {"--tick-ms", "150"});
        QCOMPARE(batch.finish(30000), 2);
        QVERIFY2(batch.err.contains(problem), qPrintable(batch.err));
        QVERIFY(batch.out.isEmpty());
        QVERIFY(!QFile::exists(batch.report()));
        QTest::qWait(1000); // a datagram or connection would have been recorded by now
        QVERIFY(s.nothingSent());
    }

    // Catches a row held up or broken by another's silence, flood or taken
    // address, a family sent the other family's bytes, a result or status
    // reported wrongly, or an entry left on the host.
    void sixAdaptorsAtOnce() {
        const std::vector<Adaptor> adaptors{
            {"00-80-a3-00-00-01", 11, {}, "yes"},         // command line, then the sign
            {"00-80-a3-00-00-02", 12, {}, "no"},          // command line
            {"00-20-4a-00-00-03", 13, {}, "yes"},         // setup menu, then the sign
            {"00-20-4a-00-00-04", 14, {"flood:5"}, "no"}, // setup menu through a flood
            {"00-80-a3-00-00-05", 15, {"silent"}, "no"},  // never takes its address
            {"00-20-4a-00-00-06", 77, {}, "no"},          // its address answers already
        };
        Segment s(adaptors);
        NETNS_REQUIRE(s.lan);
        QVERIFY2(s.ready(), "a simulator did not start");
        QVERIFY(!s.lan
                     .ip({"-n", s.lan.deviceNs(4), "addr", "add", s.lan.address(77) + "/24", "dev",
                          s.lan.deviceInterface(4)})
                     .isNull());
        QVERIFY(s.lan.enterHost());
        BatchCommand batch(csvOf(s.lan, adaptors), {"--tick-ms", "150"});
        QCOMPARE(batch.finish(240000), 1);

        // All six ran side by side: each row's first line came before any row ended.
        const QStringList lines = batch.out.split('\n');
        const auto firstEnd = std::find_if(lines.begin(), lines.end(), [](const QString& l) {
            return l.contains(QRegularExpression("  (succeeded|failed) after "));
        });
        for (const Adaptor& a : adaptors) {
            const auto first =
                lines.indexOf(QRegularExpression("^" + a.mac + " +0\\.0  Setup is in process.*"));
            QVERIFY2(first >= 0 && first < firstEnd - lines.begin(), qPrintable(batch.out));
        }

        const QStringList expected{
            "mac,ip,result,seconds,status",
            "00-80-a3-00-00-01,10.77.89.11,succeeded,S,\"" + Sequencer::kSetupSucceeded + '"',
            "00-80-a3-00-00-02,10.77.89.12,succeeded,S,\"" + Sequencer::kSetupSucceeded + '"',
            "00-20-4a-00-00-03,10.77.89.13,succeeded,S,\"" + Sequencer::kSetupSucceeded + '"',
            "00-20-4a-00-00-04,10.77.89.14,succeeded,S,\"" + Sequencer::kSetupSucceeded + '"',
            "00-80-a3-00-00-05,10.77.89.15,failed,S," + Sequencer::kSetupFailed,
            "00-20-4a-00-00-06,10.77.89.77,failed,S," + Sequencer::kAddressExists,
        };
        QStringList report = batch.reportLines();
        report.replaceInStrings(QRegularExpression(",\\d+\\.\\d,"), ",S,");
        QCOMPARE(report, expected);
        for (const Adaptor& a : adaptors)
            QVERIFY2(batch.out.contains(QRegularExpression("\n" + a.mac + " .*  (succeeded|failed) ")),
                     qPrintable(batch.out));

        // A row's last bytes leave as its run ends: each adaptor records them a
        // moment after the batch has ended.
        const QString gateway = s.lan.address(254);
        for (int k : {0, 1})
            QTRY_COMPARE(s.sims[k]->received(23),
                         SimulatorProcess::commandLineBytes(s.lan.address(11 + k), gateway));
        for (int k : {2, 3})
            QTRY_COMPARE(s.sims[k]->received(9999), SimulatorProcess::setupMenuBytes(gateway));
        for (int k : {0, 2}) {
            QTRY_COMPARE(s.sims[k]->summary().value("signText").toString(),
                         QStringLiteral("IP Test Successful"));
            QCOMPARE(s.sims[k]->received(3001), (SignMessages::first() + SignMessages::second()).toLatin1());
        }
        for (int k : {0, 1, 2, 3})
            QCOMPARE(s.sims[k]->config().value("ip").toString(), s.lan.address(adaptors[k].last));
        // Only now, with the other adaptors' last bytes in: a sign message sent
        // wrongly would have been recorded as soon.
        for (int k : {1, 3})
            QVERIFY(s.sims[k]->received(3001).isEmpty());
        QVERIFY(s.sims[5]->summary().value("connections").toArray().isEmpty());
        QVERIFY(s.sims[5]->summary().value("adoptedIp").isNull());
        QCOMPARE(s.lan.ip({"-n", s.lan.hostNs(), "-4", "neigh", "show", "nud", "permanent"}), QByteArray(""));
    }

    // Catches an interrupt that leaves a dialogue open, an entry on the host,
    // a child behind, or no report.
    void interruptMidBatch() {
        const std::vector<Adaptor> adaptors{
            {"00-80-a3-00-00-01", 11, {"slow"}, "no"},                 // each prompt 4 s late
            {"00-20-4a-00-00-03", 13, {"no-prompt:Baudrate ("}, "no"}, // stops in the channel menu
        };
        Segment s(adaptors);
        NETNS_REQUIRE(s.lan);
        QVERIFY2(s.ready(), "a simulator did not start");
        QVERIFY(s.lan.enterHost());
        // Two places, so the third row is still waiting when the interrupt comes.
        BatchCommand batch(
            csvOf(s.lan, adaptors, "00-80-a3-00-00-09,10.77.89.19,255.255.255.0,10.77.89.254,no\n"),
            {"--tick-ms", "1000", "--jobs", "2"});
        QTRY_VERIFY_WITH_TIMEOUT(s.sims[0]->received(23).contains("hello\n") &&
                                     s.sims[1]->received(9999).endsWith("8\r\n\r\n1\r\n"),
                                 60000);
        ::kill(pid_t(batch.pid()), SIGINT);
        QCOMPARE(batch.finish(30000), 130);
        // Each child's logout leaves as it ends: recorded a moment after the batch has ended.
        QTRY_VERIFY(s.sims[0]->received(23).endsWith("logout\n"));
        QVERIFY(!s.sims[0]->received(23).contains("Logout\n"));
        QTRY_VERIFY(s.sims[1]->received(9999).endsWith("1\r\nlogout\n"));
        QCOMPARE(s.lan.ip({"-n", s.lan.hostNs(), "-4", "neigh", "show", "nud", "permanent"}), QByteArray(""));
        const QStringList report = batch.reportLines();
        QCOMPARE(report.size(), 4);
        for (const QString& row : report.mid(1))
            QVERIFY2(row.contains(",interrupted,"), qPrintable(row));
        QProcess children;
        children.start("pgrep", {"-f", "setup --mac 00-(80-a3|20-4a)-00-00-0"});
        children.waitForFinished(5000);
        QCOMPARE(children.readAllStandardOutput(), QByteArray());
    }
};

QTEST_GUILESS_MAIN(TestBatch)
#include "tst_batch.moc"
