#include "FinishProcess.h"
#include "LanHarness.h"
#include "SimulatorProcess.h"
#include "TranscriptReading.h"
#include "cli/BatchRun.h"
#include "net/helper/ProbeBudget.h"
#include "setup/Sequencer.h"
#include "setup/SetupCommand.h"
#include "signtest/SignMessages.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <QScopeGuard>

#include <algorithm>
#include <array>
#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

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
    int finish(int ms) { return finishProcess(m_process, ms, out, err); }
    [[nodiscard]] qint64 pid() const { return m_process.processId(); }
    // The report read back as the batch file it is: each row's MAC -> its
    // result, status and reason word, and its columns.
    [[nodiscard]] QMap<QString, QStringList> reportRows(QStringList* columns = nullptr) const {
        QFile f(report());
        const BatchFile read = BatchFile::parse(f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray());
        if (columns)
            *columns = read.columns;
        QMap<QString, QStringList> rows;
        const auto result = read.columns.indexOf(QStringLiteral("result"));
        const auto status = read.columns.indexOf(QStringLiteral("status"));
        const auto reason = read.columns.indexOf(QStringLiteral("reason"));
        for (const BatchRow& r : read.rows)
            rows.insert(r.mac, {r.cells.value(result), r.cells.value(status), r.cells.value(reason)});
        return rows;
    }
    [[nodiscard]] QString dir() const { return m_dir.path(); }
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
    // Catches a batch file that sends anything although one of its lines is
    // wrong, or a wrong line that is not named with its reason.
    void invalidFileSendsNothing_data() {
        QTest::addColumn<QString>("extra"); // lines after a good row for the adaptor on the segment
        QTest::addColumn<QString>("problem");
        QTest::newRow("error_beyond_the_field")
            << "00-80-a3-00-00-02,10.77.89.300,255.255.255.0,10.77.89.254,no\n"
            << "line 5: ip \"10.77.89.300\": each octet one to three digits, 0 to 255";
        QTest::newRow("error_sign_test_word")
            << "00-80-a3-00-00-02,10.77.89.12,255.255.255.0,10.77.89.254,maybe\n"
            << "line 5: sign_test \"maybe\": yes or no";
        QTest::newRow("error_repeated_mac") << "00:80:A3:00:00:01,10.77.89.12,255.255.255.0,10.77.89.254,no\n"
                                            << "line 5: mac \"00:80:A3:00:00:01\": on line 4 already";
        QTest::newRow("error_repeated_ip")
            << "00-80-a3-00-00-02,010.77.89.011,255.255.255.0,10.77.89.254,no\n"
            << "line 5: ip \"010.77.89.011\": on line 4 already";
        QTest::newRow("error_missing_column") << "00-80-a3-00-00-02,10.77.89.12,255.255.255.0\n"
                                              << "line 5: gateway \"\": missing";
        QString many;
        for (int i = 10; i < 35; ++i)
            many += QStringLiteral("00-80-a3-00-00-%1,10.77.89.300,255.255.255.0,10.77.89.254,no\n").arg(i);
        QTest::newRow("error_many_problems_cut_short") << many << QStringLiteral("\u2026 and 5 more");
        QTest::newRow("error_many_problems_cut_short_json") << many << QStringLiteral("\u2026 and 5 more");
        QTest::newRow("error_unknown_family")
            << "00-11-22-00-00-02,10.77.89.12,255.255.255.0,10.77.89.254,no\n"
            << "line 5: mac \"00-11-22-00-00-02\": " + SetupCommand::kFamilyMessage;
        // Under --json (this row alone) the problem names its line, column and value as fields.
        QTest::newRow("error_gateway_off_the_subnet_json")
            << "00-80-a3-00-00-02,10.77.89.12,255.255.255.0,10.77.90.254,no\n"
            << "line 5: gateway \"10.77.90.254\": gateway 10.77.90.254 is not on 10.77.89.0/24";
    }
    void invalidFileSendsNothing() {
        QFETCH(QString, extra);
        QFETCH(QString, problem);
        const bool json = QByteArray(QTest::currentDataTag()).endsWith("_json");
        const std::vector<Adaptor> adaptors{{"00-80-a3-00-00-01", 11, {}, "yes"}};
        Segment s(adaptors);
        NETNS_REQUIRE(s.lan);
        QVERIFY2(s.ready(), "the simulator did not start");
        QVERIFY(s.lan.enterHost());
        BatchCommand batch(csvOf(s.lan, adaptors, extra), json ? QStringList{"--tick-ms", "150", "--json"}
                                                               : QStringList{"--tick-ms", "150"});
        QCOMPARE(batch.finish(30000), 2);
        QVERIFY2(batch.err.contains(problem), qPrintable(batch.err));
        if (json && QByteArray(QTest::currentDataTag()).contains("many")) {
            // Twenty problems, then one that says how many more there are.
            const QStringList events = batch.out.split('\n', Qt::SkipEmptyParts);
            QCOMPARE(events.size(), 21);
            QCOMPARE(QJsonDocument::fromJson(events.last().toUtf8()).object().value("more").toInt(), 5);
        } else if (json) {
            const QJsonObject e = QJsonDocument::fromJson(batch.out.toUtf8()).object();
            QCOMPARE(e.value("event").toString(), "problem");
            QCOMPARE(e.value("line").toInt(), 5);
            QCOMPARE(e.value("column").toString(), "gateway");
            QCOMPARE(e.value("value").toString(), "10.77.90.254");
        } else {
            QVERIFY(batch.out.isEmpty());
        }
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
        QTemporaryDir logs;
        BatchCommand batch(csvOf(s.lan, adaptors), {"--tick-ms", "150", "--log-dir", logs.filePath("rows")});
        QCOMPARE(batch.finish(240000), 1);
        QVERIFY2(batch.err.contains("line 2 begins with # and is read as a comment, not as a row"),
                 qPrintable(batch.err));

        // All six ran side by side: each row's first line came before any
        // dialogue ended (the taken address ends its row at once).
        const QStringList lines = batch.out.split('\n');
        const auto firstEnd = std::find_if(lines.begin(), lines.end(), [](const QString& l) {
            return l.contains(QRegularExpression("  succeeded after "));
        });
        for (const Adaptor& a : adaptors) {
            const auto first =
                lines.indexOf(QRegularExpression("^" + a.mac + " +\\d+\\.\\d  Setup is in process.*"));
            QVERIFY2(first >= 0 && first < firstEnd - lines.begin(), qPrintable(batch.out));
        }

        // The report is a batch file itself, a row as each ended.
        const QMap<QString, QStringList> expected{
            {"00-80-a3-00-00-01", {"succeeded", Sequencer::kSetupSucceeded, "assigned"}},
            {"00-80-a3-00-00-02", {"succeeded", Sequencer::kSetupSucceeded, "assigned"}},
            {"00-20-4a-00-00-03", {"succeeded", Sequencer::kSetupSucceeded, "assigned"}},
            {"00-20-4a-00-00-04", {"succeeded", Sequencer::kSetupSucceeded, "assigned"}},
            {"00-80-a3-00-00-05", {"failed", Sequencer::kSetupFailed, "no-answer"}},
            {"00-20-4a-00-00-06", {"failed", Sequencer::kAddressExists, "address-taken"}},
        };
        QStringList columns;
        QCOMPARE(batch.reportRows(&columns), expected);
        QCOMPARE(columns, QStringList({"line", "mac", "ip", "mask", "gateway", "sign_test", "result",
                                       "reason", "seconds", "status"}));
        // The final table in the order of the file, whatever order the rows
        // ended in, and the counts that stay below it.
        const auto tableAt = batch.out.lastIndexOf(QRegularExpression("\nline  mac "));
        QVERIFY2(tableAt >= 0, qPrintable(batch.out));
        const QStringList table = batch.out.mid(tableAt + 1).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(table.size(), int(adaptors.size()) + 2);
        for (std::size_t k = 0; k < adaptors.size(); ++k)
            QVERIFY2(
                table[qsizetype(k) + 1].contains(QRegularExpression(
                    QStringLiteral("^ *%1  %2 .*  (succeeded|failed) ").arg(k + 4).arg(adaptors[k].mac))),
                qPrintable(batch.out));
        QCOMPARE(table.last(), QStringLiteral("4 succeeded, 2 failed, 0 not run"));

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
        // Each row's dialogue in its own log, as it went over the wire.
        const QRegularExpression logLine(
            QStringLiteral("^ *\\d+\\.\\d{3} +(?<port>\\d+) (?<dir>[<>]) (?<text>.*)$"));
        for (int k = 0; k < 6; ++k) {
            QFile log(QDir(logs.filePath("rows")).filePath(adaptors[k].mac + ".log"));
            QVERIFY2(log.open(QIODevice::ReadOnly), qPrintable(log.fileName()));
            const auto carriedBy = carried(QString::fromUtf8(log.readAll()), logLine);
            const int port = adaptors[k].mac.startsWith("00-80-a3") ? 23 : 9999;
            if (k < 4) {
                QCOMPARE(carriedBy.at(QStringLiteral("> %1").arg(port)), s.sims[k]->received(port));
                QCOMPARE(carriedBy.at(QStringLiteral("< %1").arg(port)), s.sims[k]->sent(port));
            }
        }
        // Only now, with the other adaptors' last bytes in: a sign message sent
        // wrongly would have been recorded as soon.
        for (int k : {1, 3})
            QVERIFY(s.sims[k]->received(3001).isEmpty());
        QVERIFY(s.sims[5]->summary().value("connections").toArray().isEmpty());
        QVERIFY(s.sims[5]->summary().value("adoptedIp").isNull());
        QCOMPARE(s.lan.ip({"-n", s.lan.hostNs(), "-4", "neigh", "show", "nud", "permanent"}), QByteArray(""));
    }

    // Catches a probe the helper refused counted as silence: two batches on
    // one segment at once, first while a third prober keeps their network's
    // probe budget spent (every probe refused), then with the budget theirs.
    // Neither ever gives an adaptor an address another host answers at.
    void twoBatchesNeverAssignATakenAddress() {
        const std::vector<Adaptor> adaptors{
            {"00-80-a3-00-01-01", 21, {}, "no"}, {"00-80-a3-00-01-02", 22, {}, "no"},
            {"00-20-4a-00-01-03", 23, {}, "no"}, {"00-20-4a-00-01-04", 24, {}, "no"},
            {"00-80-a3-00-01-05", 70, {}, "no"}, // 10.77.89.70 is the first adaptor's host's
            {"00-20-4a-00-01-06", 71, {}, "no"}, // 10.77.89.71 the second's
        };
        Segment s(adaptors);
        NETNS_REQUIRE(s.lan);
        QVERIFY2(s.ready(), "a simulator did not start");
        for (int k : {0, 1})
            QVERIFY(!s.lan
                         .ip({"-n", s.lan.deviceNs(k), "addr", "add", s.lan.address(70 + k) + "/24", "dev",
                              s.lan.deviceInterface(k)})
                         .isNull());
        struct stat network {};
        QVERIFY(::stat(qPrintable("/run/netns/" + s.lan.hostNs()), &network) == 0);
        QVERIFY(s.lan.enterHost());
        const auto csvOfRows = [&](std::initializer_list<int> rows) {
            std::vector<Adaptor> these;
            for (int k : rows)
                these.push_back(adaptors[std::size_t(k)]);
            return csvOf(s.lan, these);
        };
        const auto bothAtOnce = [&](const QMap<QString, QStringList>& expected) {
            BatchCommand first(csvOfRows({0, 2, 4}), {"--tick-ms", "150"});
            BatchCommand second(csvOfRows({1, 3, 5}), {"--tick-ms", "150"});
            QCOMPARE(first.finish(240000), 1);
            QCOMPARE(second.finish(240000), 1);
            QMap<QString, QStringList> got = first.reportRows();
            got.insert(second.reportRows());
            QCOMPARE(got, expected);
        };

        // The third prober: this network's slot of the host's budget file
        // filled with sends of this moment, again and again, as the helper
        // itself would fill it (under the file's lock, the other networks'
        // slots left as they are).
        std::atomic<bool> flooding{true};
        std::thread prober([&flooding, &network] {
            const int fd = ::open("/run/netrika/probes", O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0660);
            while (fd >= 0 && flooding) {
                if (::flock(fd, LOCK_EX) == 0) {
                    std::array<helper::BudgetSlot, helper::kBudgetSlots> table{};
                    (void)!::pread(fd, table.data(), sizeof table, 0);
                    timespec t{};
                    ::clock_gettime(CLOCK_MONOTONIC, &t);
                    const std::int64_t now = std::int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
                    auto slot = std::find_if(table.begin(), table.end(), [&](const helper::BudgetSlot& b) {
                        return b.device == network.st_dev && b.inode == network.st_ino;
                    });
                    if (slot == table.end())
                        slot = std::find_if(table.begin(), table.end(), [now](const helper::BudgetSlot& b) {
                            return now - *std::max_element(std::begin(b.sent), std::end(b.sent)) >= 1000000000;
                        });
                    if (slot != table.end()) {
                        std::fill(std::begin(slot->sent), std::end(slot->sent), now);
                        slot->device = network.st_dev;
                        slot->inode = network.st_ino;
                        (void)!::pwrite(fd, &*slot, sizeof *slot, off_t(slot - table.begin()) * off_t(sizeof *slot));
                    }
                    ::flock(fd, LOCK_UN);
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
            }
            if (fd >= 0)
                ::close(fd);
        });
        const auto stopped = qScopeGuard([&] {
            flooding = false;
            if (prober.joinable())
                prober.join();
        });
        QMap<QString, QStringList> notChecked;
        for (const Adaptor& a : adaptors)
            notChecked.insert(a.mac, {"failed", Sequencer::kNotChecked, "not-checked"});
        bothAtOnce(notChecked);
        QVERIFY(s.nothingSent());
        flooding = false;
        prober.join();
        QTest::qWait(1100); // the spent budget's second has passed

        bothAtOnce({
            {"00-80-a3-00-01-01", {"succeeded", Sequencer::kSetupSucceeded, "assigned"}},
            {"00-80-a3-00-01-02", {"succeeded", Sequencer::kSetupSucceeded, "assigned"}},
            {"00-20-4a-00-01-03", {"succeeded", Sequencer::kSetupSucceeded, "assigned"}},
            {"00-20-4a-00-01-04", {"succeeded", Sequencer::kSetupSucceeded, "assigned"}},
            {"00-80-a3-00-01-05", {"failed", Sequencer::kAddressExists, "address-taken"}},
            {"00-20-4a-00-01-06", {"failed", Sequencer::kAddressExists, "address-taken"}},
        });
        for (int k : {4, 5}) {
            QVERIFY(s.sims[std::size_t(k)]->summary().value("connections").toArray().isEmpty());
            QVERIFY(s.sims[std::size_t(k)]->summary().value("adoptedIp").isNull());
        }
        QCOMPARE(s.lan.ip({"-n", s.lan.hostNs(), "-4", "neigh", "show", "nud", "permanent"}), QByteArray(""));
    }

    // Catches a current_ip column not carried to its row's run (the adaptor
    // would get the datagram or a neighbour entry and never answer), --check
    // holding the new address rather than the current one to the segment, or
    // the column lost from the report.
    void readdressRowsEndToEnd() {
        LanHarness lan(89, 2);
        NETNS_REQUIRE(lan);
        const QStringList macs{"00-80-a3-00-00-01", "00-20-4a-00-00-03"};
        const QStringList current{lan.address(31), lan.address(32)};
        // The first is moved to another network, the second within this one.
        const QStringList next{"10.78.1.41", lan.address(42)};
        std::vector<std::unique_ptr<SimulatorProcess>> sims;
        for (int k = 0; k < 2; ++k) {
            sims.push_back(std::make_unique<SimulatorProcess>(
                lan.deviceNs(k), lan.deviceInterface(k), macs[k], QStringList(), SimulatorProcess::TestsGroup,
                QStringList{"--address", current[k] + "/24"}));
            QVERIFY2(sims.back()->ready(), "a simulator did not start");
        }
        QVERIFY(lan.enterHost());
        const QStringList gateways{"10.78.1.254", lan.address(254)};
        QString csv = QStringLiteral("mac,ip,mask,gateway,sign_test,current_ip\n");
        for (int k = 0; k < 2; ++k)
            csv += QStringList{macs[k], next[k], kMask, gateways[k], "yes", current[k]}.join(',') + '\n';

        QTemporaryDir dir;
        QFile f(dir.filePath("rows.csv"));
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(csv.toUtf8()) > 0);
        f.close();
        QProcess check;
        check.start(QStringLiteral(NETRIKA_CLI), {"batch", "--check", f.fileName()});
        QVERIFY(check.waitForFinished(20000));
        const QString checked = QString::fromUtf8(check.readAllStandardOutput());
        QVERIFY2(check.exitCode() == 1, // rows to run
                 qPrintable(checked + QString::fromUtf8(check.readAllStandardError())));
        QVERIFY2(checked.contains("from " + current[0]), qPrintable(checked));

        BatchCommand batch(csv, {"--tick-ms", "150"});
        QCOMPARE(batch.finish(120000), 0);
        QStringList columns;
        const auto report = batch.reportRows(&columns);
        QCOMPARE(columns, QStringList({"line", "mac", "ip", "mask", "gateway", "sign_test", "current_ip",
                                       "result", "reason", "seconds", "status"}));
        for (const QString& mac : macs)
            QCOMPARE(report.value(mac).value(0), "succeeded");
        QTRY_COMPARE(sims[0]->received(23), SimulatorProcess::commandLineBytes(next[0], gateways[0]));
        QByteArray menu = "\r\n0\n";
        for (const QString& octet : next[1].split('.'))
            menu += octet.toLatin1() + "\r\n";
        QTRY_COMPARE(sims[1]->received(9999), menu + SimulatorProcess::setupMenuBytes(gateways[1]).mid(12));
        for (int k = 0; k < 2; ++k) {
            QTRY_COMPARE(sims[k]->summary().value("signText").toString(),
                         QStringLiteral("IP Test Successful"));
            QCOMPARE(sims[k]->summary().value("datagrams").toArray().size(), 0);
            QCOMPARE(sims[k]->summary().value("adoptedIp").toString(), current[k]);
        }
        QCOMPARE(lan.ip({"-n", lan.hostNs(), "-4", "neigh", "show", "nud", "permanent"}), QByteArray(""));
    }

    // Catches files as spreadsheets and scripts write them refused or misread:
    // each is read to the same two rows, and `--check` passes it on a segment
    // that holds both addresses, sending nothing.
    void spreadsheetFiles_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("extra"); // further arguments
        const QByteArray a = "00-80-a3-00-00-01", b = "00:20:4A:00:00:03";
        const QByteArray plain = "mac,ip,mask,gateway,sign_test\n" + a +
                                 ",10.77.89.11,255.255.255.0,10.77.89.254,yes\n" + b +
                                 ",10.77.89.13,255.255.255.0,10.77.89.254,no\n";
        const auto with = [&plain](char separator) { return QByteArray(plain).replace(',', separator); };
        QTest::newRow("ok_plain") << plain << QStringList{};
        QTest::newRow("ok_byte_order_mark") << "\xef\xbb\xbf" + plain << QStringList{};
        QTest::newRow("ok_all_quoted_crlf")
            << "\"mac\",\"ip\",\"mask\",\"gateway\",\"sign_test\"\r\n\"" + a +
                   "\",\"10.77.89.11\",\"255.255.255.0\",\"10.77.89.254\",\"yes\"\r\n\"" + b +
                   "\",\"10.77.89.13\",\"255.255.255.0\",\"10.77.89.254\",\"no\"\r\n"
            << QStringList{};
        QTest::newRow("ok_semicolons") << with(';') << QStringList{};
        QTest::newRow("ok_tabs") << with('\t') << QStringList{};
        QTest::newRow("ok_cr_only") << QByteArray(plain).replace('\n', '\r') << QStringList{};
        QTest::newRow("ok_sep_line") << "sep=;\n" + with(';') << QStringList{};
        QTest::newRow("ok_delimiter_given") << with('|') << QStringList{"--delimiter", "|"};
        QTest::newRow("ok_upper_case_reordered")
            << " IP ,MAC,Gateway,Mask,SIGN_TEST\n10.77.89.11," + a +
                   ",10.77.89.254,255.255.255.0,Yes\n10.77.89.13," + b + ",10.77.89.254,255.255.255.0,No\n"
            << QStringList{};
        QTest::newRow("ok_other_columns")
            << "name,mac,ip,mask,gateway,sign_test,location\n\"Sign 1, north\"," + a +
                   ",10.77.89.11,255.255.255.0,10.77.89.254,yes,\"Exit \"\"12\"\"\"\nSign 2," + b +
                   ",10.77.89.13,255.255.255.0,10.77.89.254,no,\"a\nb\"\n"
            << QStringList{};
        QTest::newRow("ok_trailing_empty_columns")
            << QByteArray(plain).replace("\n", ",,\n") << QStringList{};
        QTest::newRow("ok_true_false")
            << QByteArray(plain).replace(",yes", ",TRUE").replace(",no", ",FALSE") << QStringList{};
        QTest::newRow("ok_one_zero") << QByteArray(plain).replace(",yes", ",1").replace(",no", ",0")
                                     << QStringList{};
        QTest::newRow("ok_empty_rows_of_separators")
            << QByteArray(plain).replace("\n", "\n,,,,\n") << QStringList{};
        QStringEncoder utf16(QStringConverter::Utf16LE);
        QTest::newRow("ok_utf16_byte_order_mark")
            << "\xff\xfe" + QByteArray(utf16(QString::fromLatin1(with('\t')).replace("\n", "\r\n")))
            << QStringList{};
    }
    void spreadsheetFiles() {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, extra);
        BatchFile::Options options;
        if (!extra.isEmpty())
            options.delimiter = extra.last().at(0).toLatin1();
        const BatchFile file = BatchFile::parse(bytes, options);
        QVERIFY2(file.problems.isEmpty(), qPrintable(file.problems.join('\n')));
        QStringList read;
        for (const BatchRow& r : file.rows)
            read << QStringList(r.request.mac.begin(), r.request.mac.end()).join('-').toLower() + " " +
                        QStringList(r.request.ip.begin(), r.request.ip.end()).join('.') + " " +
                        QStringList(r.request.mask.begin(), r.request.mask.end()).join('.') + " " +
                        QStringList(r.request.gateway.begin(), r.request.gateway.end()).join('.') +
                        (r.request.signTest ? " sign" : "");
        QCOMPARE(read, QStringList({"00-80-a3-00-00-01 10.77.89.11 255.255.255.0 10.77.89.254 sign",
                                    "00-20-4a-00-00-03 10.77.89.13 255.255.255.0 10.77.89.254"}));

        const std::vector<Adaptor> adaptors{{"00-80-a3-00-00-01", 11, {}, "yes"},
                                            {"00-20-4a-00-00-03", 13, {}, "no"}};
        Segment s(adaptors);
        NETNS_REQUIRE(s.lan);
        QVERIFY2(s.ready(), "a simulator did not start");
        QVERIFY(s.lan.enterHost());
        QTemporaryDir dir;
        QFile f(dir.filePath("sheet.csv"));
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
        f.close();
        QProcess check;
        check.start(QStringLiteral(NETRIKA_CLI),
                    QStringList{"batch", "--check", f.fileName(), "--report", dir.filePath("r.csv")} + extra);
        QVERIFY(check.waitForFinished(20000));
        const QString out = QString::fromUtf8(check.readAllStandardOutput());
        QVERIFY2(check.exitCode() == 1, qPrintable(out + check.readAllStandardError())); // rows to run
        QVERIFY2(out.contains(QRegularExpression("line \\d+  00-80-a3-00-00-01  10.77.89.11  255.255.255.0  "
                                                 "10.77.89.254  sign test yes")),
                 qPrintable(out));
        QVERIFY2(out.endsWith("2 rows: 2 to assign\n"), qPrintable(out));
        QVERIFY(!QFile::exists(dir.filePath("r.csv")));
        QTest::qWait(500); // a datagram or connection would have been recorded by now
        QVERIFY(s.nothingSent());
    }

    // Catches a check that passes a batch which could not start: an address
    // no interface's subnet holds, a report path that cannot be written.
    void checkRefuses_data() {
        QTest::addColumn<QString>("ip");
        QTest::addColumn<QString>("report");
        QTest::addColumn<QString>("problem");
        QTest::addColumn<QString>("column"); // where the problem event says it is
        QTest::newRow("error_off_segment") << "10.78.1.5"
                                           << "r.csv"
                                           << "line 2: ip \"10.78.1.5\": not on a segment" << "ip";
        QTest::newRow("error_report_is_folder") << "10.77.89.11"
                                                << "."
                                                << "--report .*: not a regular file" << "report";
        QTest::newRow("error_report_in_proc") << "10.77.89.11"
                                              << "/proc/self/status"
                                              << "--report /proc/self/status: not a place" << "report";
        // Root may "write" anywhere by its permission bits; the run could not make this file.
        QTest::newRow("error_report_new_in_proc") << "10.77.89.11"
                                                  << "/proc/x.csv"
                                                  << "--report /proc/x.csv: not a place" << "report";
        QTest::newRow("error_report_folder_missing") << "10.77.89.11"
                                                     << "no/such/r.csv"
                                                     << "--report no/such/r.csv: its folder" << "report";
    }
    // Catches a host problem a program cannot place (text alone), or a
    // check under --json that never closes.
    void checkRefuses() {
        QFETCH(QString, ip);
        QFETCH(QString, report);
        QFETCH(QString, problem);
        QFETCH(QString, column);
        LanHarness lan(89, 1);
        NETNS_REQUIRE(lan);
        QVERIFY(lan.enterHost());
        QTemporaryDir dir;
        QFile f(dir.filePath("rows.csv"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(("mac,ip,mask,gateway\n00-80-a3-00-00-01," + ip + ",255.255.255.0," + ip.section('.', 0, 2) +
                 ".254\n")
                    .toUtf8());
        f.close();
        QProcess check;
        check.setWorkingDirectory(dir.path());
        check.start(QStringLiteral(NETRIKA_CLI), {"batch", "--check", "--json", f.fileName(), "--report", report});
        QVERIFY(check.waitForFinished(20000));
        const QString err = QString::fromUtf8(check.readAllStandardError());
        const QString out = QString::fromUtf8(check.readAllStandardOutput());
        QCOMPARE(check.exitCode(), 2);
        QVERIFY2(err.contains(QRegularExpression(problem)), qPrintable(err));
        QJsonObject found, closing;
        for (const QString& line : out.split('\n', Qt::SkipEmptyParts)) {
            const QJsonObject e = QJsonDocument::fromJson(line.toUtf8()).object();
            if (e.value("event") == "problem")
                found = e;
            if (e.value("event") == "checked")
                closing = e;
        }
        QCOMPARE(found.value("column").toString(), column);
        QCOMPARE(found.value("value").toString(), column == "ip" ? ip : report);
        QCOMPARE(found.value("line").toInt(), column == "ip" ? 2 : 0);
        QCOMPARE(closing.value("exit").toInt(), 2);
    }

    // Catches a spreadsheet's file run differently from a plain one, other
    // columns lost from the report, and --json events out of order or not
    // JSON: a semicolon, quoted, byte-order-marked, CR LF file with a name
    // column runs both families byte for byte.
    void spreadsheetBatchEndToEnd() {
        const std::vector<Adaptor> adaptors{{"00-80-a3-00-00-01", 11, {}, "no"},
                                            {"00-20-4a-00-00-03", 13, {}, "no"}};
        Segment s(adaptors);
        NETNS_REQUIRE(s.lan);
        QVERIFY2(s.ready(), "a simulator did not start");
        QVERIFY(s.lan.enterHost());
        const QString gateway = s.lan.address(254);
        // The second row first, and the MACs as labels and scripts write them.
        const QStringList written{"00:80:A3:00:00:01", "00204A000003"};
        QString csv = QStringLiteral("\uFEFF\"Name\";\"MAC\";\"IP\";\"Mask\";\"Gateway\"\r\n");
        for (int k : {1, 0})
            csv += QStringLiteral("\"Sign %1; by the \"\"exit\"\"\";\"%2\";\"%3\";\"%4\";\"%5\"\r\n")
                       .arg(adaptors[k].last)
                       .arg(written[k], s.lan.address(adaptors[k].last), kMask, gateway);
        BatchCommand batch(csv, {"--tick-ms", "150", "--json"});
        QCOMPARE(batch.finish(120000), 0);
        QTRY_COMPARE(s.sims[0]->received(23), SimulatorProcess::commandLineBytes(s.lan.address(11), gateway));
        QTRY_COMPARE(s.sims[1]->received(9999), SimulatorProcess::setupMenuBytes(gateway));
        QStringList columns;
        const auto report = batch.reportRows(&columns);
        QCOMPARE(columns, QStringList({"line", "Name", "MAC", "IP", "Mask", "Gateway", "result", "reason",
                                       "seconds", "status"}));
        QCOMPARE(report.value(written[0]).value(0), "succeeded");
        QCOMPARE(report.value(written[1]).value(0), "succeeded");
        // The report in the order of the file, with the mark the file had.
        QFile f(batch.report());
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray reported = f.readAll();
        QVERIFY(reported.startsWith("\xef\xbb\xbf\"line\""));
        QVERIFY(reported.contains("\"Sign 11; by the \"\"exit\"\"\""));
        QVERIFY(reported.indexOf("\"Sign 13;") < reported.indexOf("\"Sign 11;"));
        // The table: file order, the window's spelling of each MAC, the name.
        QVERIFY2(batch.err.contains(QRegularExpression(
                     "\n +2  00-20-4a-00-00-03  10\\.77\\.89\\.13  Sign 13; by the \"exit\"  succeeded .*\n"
                     " +3  00-80-a3-00-00-01  10\\.77\\.89\\.11  Sign 11; by the \"exit\"  succeeded .*\n"
                     "2 succeeded, 0 failed, 0 not run\n")),
                 qPrintable(batch.err.right(600)));
        // The name is shown in the table: never told as a column not used.
        QVERIFY2(!batch.err.contains("not used"), qPrintable(batch.err));
        // One JSON object a line; each row started, then its stages, dialogue
        // and statuses, then finished; the summary last. Each row's dialogue
        // events are its adaptor's wire, both ways.
        QMap<int, QStringList> perRow, stages;
        QMap<int, std::map<QString, QByteArray>> carriedBy;
        QMap<int, double> percent;
        const QStringList lines = batch.out.split('\n', Qt::SkipEmptyParts);
        for (const QString& line : lines) {
            const QJsonObject e = QJsonDocument::fromJson(line.toUtf8()).object();
            QVERIFY2(!e.isEmpty(), qPrintable(line));
            const QString event = e.value("event").toString();
            const int row = e.value("line").toInt();
            if (event == QLatin1String("summary"))
                continue;
            perRow[row] << event;
            if (event == QLatin1String("stage")) {
                if (stages[row].isEmpty() || stages[row].last() != e.value("stage").toString())
                    stages[row] << e.value("stage").toString();
                QVERIFY2(e.value("percent").toDouble() >= percent.value(row), qPrintable(line));
                percent[row] = e.value("percent").toDouble();
            }
            if (event == QLatin1String("dialogue"))
                carriedBy[row][e.value("direction").toString() + QString::number(e.value("port").toInt())] +=
                    QByteArray::fromHex(e.value("hex").toString().toLatin1());
            if (event == QLatin1String("box"))
                QCOMPARE(e.value("answer").toString(), "No");
        }
        for (const int row : {2, 3}) {
            QCOMPARE(stages[row], QStringList({"checking", "assigning", "waiting", "dialogue", "ended"}));
            QCOMPARE(percent[row], 100.0);
        }
        QCOMPARE(carriedBy[3]["sent23"], s.sims[0]->received(23));
        QCOMPARE(carriedBy[3]["received23"], s.sims[0]->sent(23));
        QCOMPARE(carriedBy[2]["sent9999"], s.sims[1]->received(9999));
        QCOMPARE(carriedBy[2]["received9999"], s.sims[1]->sent(9999));
        QVERIFY(carriedBy[3]["received23"].size() > 100 && carriedBy[2]["received9999"].size() > 100);
        // The lines for people still come, each with its row's MAC as the window writes it.
        QVERIFY2(batch.err.contains(QRegularExpression("00-20-4a-00-00-03 +\\d+\\.\\d  ")),
                 qPrintable(batch.err));
        const QJsonObject summary = QJsonDocument::fromJson(lines.last().toUtf8()).object();
        QCOMPARE(summary.value("event").toString(), "summary");
        QCOMPARE(summary.value("succeeded").toInt(), 2);
        QCOMPARE(summary.value("exit").toInt(), 0);
        QCOMPARE(perRow.keys(), QList<int>({2, 3}));
        for (const QStringList& events : perRow) {
            QCOMPARE(events.first(), "started");
            QCOMPARE(events.last(), "finished");
            QVERIFY(events.count("status") >= 2);
            QVERIFY(events.count("dialogue") >= 10);
        }
    }

    // Idempotent from what the adaptors say, not from a file: catches an
    // adaptor already in place reported as "IP address already exists", a
    // converged site that is no longer unchanged once its work folder is gone,
    // a mask changed in the sheet skipped as done before, --force ignored, or
    // a check that does not predict what the batch then does.
    void inPlaceFromTheAdaptors() {
        const std::vector<Adaptor> adaptors{
            {"00-80-a3-00-00-01", 11, {}, "no"}, // has its address already
            {"00-20-4a-00-00-03", 13, {}, "no"}, // to be given its address
            {"00-80-a3-00-00-05", 15, {}, "no"}, // its address held by another device
        };
        LanHarness lan(89, 3);
        NETNS_REQUIRE(lan);
        std::vector<std::unique_ptr<SimulatorProcess>> sims;
        for (int k = 0; k < 3; ++k) {
            sims.push_back(std::make_unique<SimulatorProcess>(
                lan.deviceNs(k), lan.deviceInterface(k), adaptors[std::size_t(k)].mac, QStringList(),
                SimulatorProcess::TestsGroup,
                k == 0 ? QStringList{"--address", lan.address(11) + "/24"} : QStringList()));
            QVERIFY2(sims.back()->ready(), "a simulator did not start");
        }
        // The first adaptor's interface also holds the third's address.
        QVERIFY(!lan.ip({"-n", lan.deviceNs(0), "addr", "add", lan.address(15) + "/24", "dev",
                         lan.deviceInterface(0)})
                     .isNull());
        QVERIFY(lan.enterHost());
        const auto connections = [&sims](int k) {
            return sims[std::size_t(k)]->summary().value("connections").toArray().size();
        };
        const auto sheet = [&lan, &adaptors](const QString& maskOfSecond, int rows) {
            QString csv = QStringLiteral("mac,ip,mask,gateway,sign_test\n");
            for (int k = 0; k < rows; ++k)
                csv += QStringList{adaptors[std::size_t(k)].mac, lan.address(adaptors[std::size_t(k)].last),
                                   k == 1 ? maskOfSecond : kMask, lan.address(254), "no"}
                           .join(',') +
                       '\n';
            return csv;
        };
        // Each row's state as the check's events give it, and its exit status.
        const auto check = [](const QString& csv, const QStringList& more, QJsonObject* closing) {
            BatchCommand c(csv, QStringList{"--check", "--json"} + more);
            const int exit = c.finish(60000);
            QStringList states;
            for (const QString& line : c.out.split('\n', Qt::SkipEmptyParts)) {
                const QJsonObject e = QJsonDocument::fromJson(line.toUtf8()).object();
                if (e.value("event") == "check")
                    states << e.value("mac").toString() + " " + e.value("state").toString();
                if (e.value("event") == "checked")
                    *closing = e;
            }
            states.sort();
            return std::pair(exit, states);
        };

        QJsonObject closing;
        auto [exit, states] = check(sheet(kMask, 3), {}, &closing);
        QCOMPARE(exit, 1);
        QCOMPARE(states, QStringList({"00-20-4a-00-00-03 to-assign", "00-80-a3-00-00-01 in-place",
                                      "00-80-a3-00-00-05 taken"}));
        QCOMPARE(closing.value("to_assign").toInt(), 1);
        QCOMPARE(closing.value("in_place").toInt(), 1);
        QCOMPARE(closing.value("taken").toInt(), 1);
        QCOMPARE(closing.value("exit").toInt(), 1);
        QCOMPARE(connections(0) + connections(1) + connections(2), 0);

        // The first run: the adaptor in place is left alone, and told so.
        BatchCommand first(sheet(kMask, 3), {"--tick-ms", "150"});
        QCOMPARE(first.finish(120000), 1);
        const auto firstRows = first.reportRows();
        QCOMPARE(firstRows.value(adaptors[0].mac).value(0), "in place");
        QCOMPARE(firstRows.value(adaptors[0].mac).value(2), "in-place");
        QCOMPARE(firstRows.value(adaptors[1].mac),
                 QStringList({"succeeded", Sequencer::kSetupSucceeded, "assigned"}));
        QCOMPARE(firstRows.value(adaptors[2].mac).value(2), "address-taken");
        QVERIFY2(first.out.contains("1 succeeded, 1 failed, 0 not run, 1 in place"), qPrintable(first.out));
        QCOMPARE(connections(0), 0);
        QCOMPARE(connections(1), 1);

        // A new work folder (no report) over the converged rows: nothing is
        // sent but ARP, and the batch succeeds; its check says so first.
        std::tie(exit, states) = check(sheet(kMask, 2), {}, &closing);
        QCOMPARE(exit, 0);
        QVERIFY2(closing.value("text").toString().endsWith("nothing would change"),
                 qPrintable(closing.value("text").toString()));
        BatchCommand fresh(sheet(kMask, 2), {"--tick-ms", "150"});
        QCOMPARE(fresh.finish(60000), 0);
        for (const Adaptor& a : {adaptors[0], adaptors[1]})
            QCOMPARE(fresh.reportRows().value(a.mac).value(0), "in place");
        QCOMPARE(connections(0), 0);
        QCOMPARE(connections(1), 1);

        // A mask changed in the sheet is applied, although the adaptor is in
        // place and the report lists its row as done; the unchanged row is done before.
        const QString wider = QStringLiteral("255.255.0.0");
        std::tie(exit, states) = check(sheet(wider, 2), {"--resume", fresh.report()}, &closing);
        QCOMPARE(exit, 1);
        QCOMPARE(states, QStringList({"00-20-4a-00-00-03 to-apply"}));
        QCOMPARE(closing.value("done_before").toInt(), 1);
        BatchCommand changed(sheet(wider, 2), {"--tick-ms", "150", "--resume", fresh.report()});
        QCOMPARE(changed.finish(120000), 0);
        QCOMPARE(changed.reportRows().value(adaptors[1].mac).value(0), "succeeded");
        QCOMPARE(changed.reportRows().value(adaptors[0].mac).value(2), "done-before");
        QCOMPARE(connections(1), 2);
        QTRY_COMPARE(sims[1]->config().value("hostBits").toInt(), 16);

        // --force gives the adaptor in place its values again.
        BatchCommand forced(sheet(wider, 1), {"--tick-ms", "150", "--force"});
        QCOMPARE(forced.finish(120000), 0);
        QCOMPARE(forced.reportRows().value(adaptors[0].mac).value(0), "succeeded");
        QTRY_COMPARE(sims[0]->received(23),
                     SimulatorProcess::commandLineBytes(lan.address(11), lan.address(254)));
    }

    // Catches a report emptied by a full disk (the re-sort's failed write
    // renamed over it), a failure reported as success, or one that does not
    // name its cause. The batch runs in a network namespace with nothing in
    // it and a mount namespace whose small tmpfs holds the report.
    void fullDiskKeepsTheReport() {
        QTemporaryDir dir;
        QString csv = QStringLiteral("name,mac,ip,mask,gateway\n");
        for (int k = 1; k <= 4; ++k)
            csv += QStringLiteral("%1,00-80-a3-00-00-0%2,10.99.0.%2,255.255.255.0,0.0.0.0\n")
                       .arg(QString(1500, QChar('a' + k)))
                       .arg(k);
        QFile f(dir.filePath("rows.csv"));
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(csv.toUtf8()) > 0);
        f.close();
        QVERIFY(QDir().mkpath(dir.filePath("small")));
        QProcess p;
        p.start(QStringLiteral("unshare"),
                {"--net", "--mount", "--propagation", "private", "sh", "-c",
                 "ip link set lo up && mount -t tmpfs -o size=8k none \"$1\" || exit 120; "
                 "\"$2\" batch \"$3\" --report \"$1/report.csv\" --tick-ms 150 --jobs 4; status=$?; "
                 "echo '=== report'; cat \"$1/report.csv\"; exit $status",
                 "sh", dir.filePath("small"), QStringLiteral(NETRIKA_CLI), f.fileName()});
        QString out, err;
        const int status = finishProcess(p, 60000, out, err);
        if (status == 120) {
            if (qEnvironmentVariable("CI") == QLatin1String("true"))
                QFAIL("a mount and network namespace of the test's own is needed (run as root)");
            QSKIP("no mount and network namespace of the test's own could be made (not root)");
        }
        QCOMPARE(status, 1);
        QVERIFY2(err.contains("No space left on device"), qPrintable(err.right(2000)));
        QVERIFY2(!err.contains("Unknown error"), qPrintable(err.right(2000)));
        const QString report = out.mid(out.indexOf("=== report\n") + 11);
        const BatchFile read = BatchFile::parse(report.toUtf8());
        QVERIFY2(read.problems.isEmpty(), qPrintable(read.problems.join('\n')));
        QCOMPARE(read.rows.size(), std::size_t(4));
    }

    // Catches a resume that runs again what had succeeded, or loses a row:
    // after an interrupt the report lists the first row succeeded, and
    // --resume leaves that adaptor alone while the rest run.
    void resumeAfterInterrupt() {
        const std::vector<Adaptor> adaptors{
            {"00-80-a3-00-00-01", 11, {}, "no"},                       // succeeds
            {"00-20-4a-00-00-03", 13, {"no-prompt:Baudrate ("}, "no"}, // stops in the channel menu
            {"00-80-a3-00-00-05", 15, {}, "no"},                       // not reached
        };
        Segment s(adaptors);
        NETNS_REQUIRE(s.lan);
        QVERIFY2(s.ready(), "a simulator did not start");
        QVERIFY(s.lan.enterHost());
        const QString csv = csvOf(s.lan, adaptors);
        BatchCommand first(csv, {"--tick-ms", "150", "--jobs", "1"});
        QTRY_VERIFY_WITH_TIMEOUT(s.sims[1]->received(9999).endsWith("8\r\n\r\n1\r\n"), 60000);
        ::kill(pid_t(first.pid()), SIGINT);
        QCOMPARE(first.finish(30000), 130);
        const auto before = first.reportRows();
        QCOMPARE(before.value("00-80-a3-00-00-01").value(0), "succeeded");
        QCOMPARE(before.value("00-20-4a-00-00-03").value(0), "interrupted");
        QCOMPARE(before.value("00-80-a3-00-00-05").value(0), "not run");
        const auto seen = [&s](int k) {
            return s.sims[std::size_t(k)]->summary().value("connections").toArray().size();
        };
        QTRY_VERIFY(s.sims[0]->received(23).endsWith("Logout\n"));
        const auto firstSeen = seen(0);
        const auto secondSeen = seen(1);

        // An interrupted row keeps the last status its run showed.
        QVERIFY(!before.value("00-20-4a-00-00-03").value(1).isEmpty());
        QVERIFY(before.value("00-20-4a-00-00-03").value(1) != "interrupted");
        QCOMPARE(before.value("00-20-4a-00-00-03").value(2), "interrupted");
        QCOMPARE(before.value("00-80-a3-00-00-05").value(2), "not-run");

        // The second row's adaptor took its address in the first run, but its
        // dialogue was cut short: it is reached there, and its dialogue runs
        // again to the end; the third runs through. The first is told as
        // skipped, and counted.
        BatchCommand resumed(csv, {"--tick-ms", "150", "--jobs", "1", "--resume", first.report(), "--json"});
        QCOMPARE(resumed.finish(120000), 0);
        QTRY_COMPARE(s.sims[2]->received(23),
                     SimulatorProcess::commandLineBytes(s.lan.address(15), s.lan.address(254)));
        QCOMPARE(seen(0), firstSeen);
        QCOMPARE(seen(1), secondSeen + 1);
        const auto after = resumed.reportRows();
        QCOMPARE(after.value("00-80-a3-00-00-01").mid(0, 2), before.value("00-80-a3-00-00-01").mid(0, 2));
        QCOMPARE(after.value("00-80-a3-00-00-01").value(2), "done-before");
        QCOMPARE(after.value("00-20-4a-00-00-03"),
                 QStringList({"succeeded", Sequencer::kSetupSucceeded, "assigned"}));
        QCOMPARE(after.value("00-80-a3-00-00-05").value(0), "succeeded");
        QVERIFY2(resumed.err.contains("succeeded in the earlier run with the same values, not run again"),
                 qPrintable(resumed.err));
        QJsonObject summary;
        QStringList skipped;
        for (const QString& line : resumed.out.split('\n', Qt::SkipEmptyParts)) {
            const QJsonObject e = QJsonDocument::fromJson(line.toUtf8()).object();
            if (e.value("event") == "skipped")
                skipped << e.value("mac").toString();
            if (e.value("event") == "summary")
                summary = e;
        }
        QCOMPARE(skipped, QStringList{"00-80-a3-00-00-01"});
        QCOMPARE(summary.value("done_before").toInt(), 1);
        QCOMPARE(summary.value("succeeded").toInt() + summary.value("failed").toInt(), 2);

        // A row is done only for the MAC and the address it was done with: a
        // corrected address for the same adaptor is run, never skipped.
        QString corrected = csv;
        corrected.replace(s.lan.address(11) + ",", s.lan.address(21) + ",");
        BatchCommand again(corrected,
                           {"--tick-ms", "150", "--jobs", "1", "--resume", resumed.report(), "--json"});
        again.finish(120000);
        QVERIFY2(
            again.out.contains(QRegularExpression("\"event\":\"started\".*\"mac\":\"00-80-a3-00-00-01\"|"
                                                  "\"mac\":\"00-80-a3-00-00-01\".*\"event\":\"started\"")),
            qPrintable(again.out));
        QVERIFY2(
            !again.out.contains(QRegularExpression("\"event\":\"skipped\".*\"mac\":\"00-80-a3-00-00-01\"")),
            qPrintable(again.out));
        QCOMPARE(again.reportRows().value("00-80-a3-00-00-05").value(2), "done-before");
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
            {"--tick-ms", "1000", "--jobs", "2", "--json"});
        QTRY_VERIFY_WITH_TIMEOUT(s.sims[0]->received(23).contains("hello\n") &&
                                     s.sims[1]->received(9999).endsWith("8\r\n\r\n1\r\n"),
                                 60000);
        // The rows' runs, this batch's own children: looked for again once it
        // has ended (never by name over the whole machine, where another
        // suite's runs may be).
        QProcess listing;
        listing.start("pgrep", {"-P", QString::number(batch.pid())});
        listing.waitForFinished(5000);
        const QList<QByteArray> runs = listing.readAllStandardOutput().trimmed().split('\n');
        QVERIFY2(!runs.value(0).isEmpty(), "the batch runs no row");
        ::kill(pid_t(batch.pid()), SIGINT);
        QCOMPARE(batch.finish(30000), 130);
        // Each child's logout leaves as it ends: recorded a moment after the batch has ended.
        QTRY_VERIFY(s.sims[0]->received(23).endsWith("logout\n"));
        QVERIFY(!s.sims[0]->received(23).contains("Logout\n"));
        QTRY_VERIFY(s.sims[1]->received(9999).endsWith("1\r\nlogout\n"));
        QCOMPARE(s.lan.ip({"-n", s.lan.hostNs(), "-4", "neigh", "show", "nud", "permanent"}), QByteArray(""));
        const QMap<QString, QStringList> report = batch.reportRows();
        QCOMPARE(report.value("00-80-a3-00-00-01").value(0), "interrupted");
        QCOMPARE(report.value("00-20-4a-00-00-03").value(0), "interrupted");
        QCOMPARE(report.value("00-80-a3-00-00-09").value(0), "not run");
        // Every row is told how it ended, once: the one never started too.
        QMap<int, QStringList> reasons; // by line
        for (const QString& line : batch.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            const QJsonObject e = QJsonDocument::fromJson(line.toUtf8()).object();
            if (e.value("event").toString() == "finished")
                reasons[e.value("line").toInt()] << e.value("reason").toString();
        }
        QCOMPARE(reasons.size(), 3);
        QCOMPARE(reasons.last(), QStringList({"not-run"}));
        for (const QStringList& once : reasons)
            QCOMPARE(once.size(), 1);
        for (const QByteArray& run : runs) {
            QFile command(QStringLiteral("/proc/%1/cmdline").arg(QString::fromLatin1(run)));
            QVERIFY2(!command.open(QIODevice::ReadOnly) || !command.readAll().contains("setup"),
                     qPrintable("a row's run outlived its batch: " + run));
        }
    }
};

QTEST_GUILESS_MAIN(TestBatch)
#include "tst_batch.moc"
