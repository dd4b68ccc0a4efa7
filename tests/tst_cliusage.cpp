#include "FinishProcess.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <map>
#include <sched.h>
#include <unistd.h>

// The real netrika-cli as a user types it, for what it says before it sends
// anything: every option the manual page and the completion offer, the
// usage errors, and values that would misconfigure a sign. Each run is in a
// network namespace of its own with nothing in it, so that whatever a fault
// made it do, nothing leaves this host.
namespace {
constexpr int kNoNamespace = 120;

struct Run {
    int status = -1;
    QString out, err;
};

Run cli(const QStringList& args) {
    QProcess p;
    p.setChildProcessModifier([] {
        if (::unshare(CLONE_NEWNET) != 0)
            ::_exit(kNoNamespace);
    });
    p.start(QStringLiteral(NETRIKA_CLI), args);
    Run r;
    r.status = finishProcess(p, 20000, r.out, r.err);
    return r;
}

#define REQUIRE_OWN_NAMESPACE(run)                                                                           \
    do {                                                                                                     \
        if ((run).status == kNoNamespace) {                                                                  \
            if (qEnvironmentVariable("CI") == QLatin1String("true"))                                         \
                QFAIL("a network namespace of the test's own is needed (run as root)");                      \
            QSKIP("no network namespace of the test's own could be made (not root)");                        \
        }                                                                                                    \
    } while (false)

QString sourceText(const char* path) {
    QFile f(QStringLiteral(NETRIKA_SOURCE_DIR "/") + QLatin1String(path));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// command -> the options its section of the manual page and its branch of
// the completion name ("" for the program without a command).
std::map<QString, QStringList> documentedOptions() {
    std::map<QString, QStringList> options;
    const QString page = sourceText("cli/netrika-cli.1");
    static const QRegularExpression section(QStringLiteral("^\\.SS (\\w+)$"),
                                            QRegularExpression::MultilineOption);
    static const QRegularExpression option(QStringLiteral("\\\\-(\\\\-[a-z\\\\-]+|[a-zA-Z]\\b)"));
    const qsizetype optionsAt = page.indexOf(QLatin1String("\n.SH OPTIONS"));
    const qsizetype optionsEnd = page.indexOf(QLatin1String("\n.SH "), optionsAt + 1);
    // Each option is the tag of a paragraph: the line after ".TP".
    QString command, previous;
    for (const QString& line : page.mid(optionsAt, optionsEnd - optionsAt).split('\n')) {
        if (const auto m = section.match(line); m.hasMatch())
            command = m.captured(1) == QLatin1String("Both") ? QString() : m.captured(1);
        if (previous == QLatin1String(".TP") && command != QLatin1String("Values"))
            for (auto i = option.globalMatch(line); i.hasNext();)
                options[command] << QString(i.next().captured(0)).remove('\\');
        previous = line;
    }
    const QString completion = sourceText("cli/completion/netrika-cli");
    static const QRegularExpression branch(
        QStringLiteral("^    (\\w+|\"\")\\)\\n(?:.*\\n)*?\\s+options=\"([^\"]*)\""),
        QRegularExpression::MultilineOption);
    for (auto i = branch.globalMatch(completion); i.hasNext();) {
        const auto m = i.next();
        const QString name = m.captured(1) == QLatin1String("\"\"") ? QString() : m.captured(1);
        options[name] << m.captured(2).split(' ', Qt::SkipEmptyParts);
    }
    for (auto& [name, list] : options)
        list.removeDuplicates();
    return options;
}

// A value each option that takes one can be given; the completion lists them.
QStringList optionsTakingValues() {
    static const QRegularExpression list(
        QStringLiteral("_netrika_cli_takes_value\\(\\) \\{\\n\\s+case \"\\$1\" in\\n\\s+([^)]*)\\)"));
    return list.match(sourceText("cli/completion/netrika-cli")).captured(1).remove(' ').split('|');
}

const std::map<QString, QString> kValues{{"--mac", "0080a36163dd"},
                                         {"--ip", "10.1.2.3"},
                                         {"--mask", "255.255.255.0"},
                                         {"--gateway", "10.1.2.254"},
                                         {"--current-ip", "10.1.2.4"},
                                         {"--in-place", "leave"},
                                         {"--log", "run.log"},
                                         {"--jobs", "2"},
                                         {"--report", "r.csv"},
                                         {"--delimiter", ";"},
                                         {"--site", "depot-north"},
                                         {"--resume", "r.csv"},
                                         {"--log-dir", "logs"},
                                         {"--interface", "nosuch0"},
                                         {"--range", "10.62.0.0/24"}};

// What each command is given beside the option, so that it stops before it
// would send anything: setup lacks a value, batch a file, scan an interface.
const std::map<QString, QStringList> kBefore{{"", {}},
                                             {"setup", {"setup"}},
                                             {"batch", {"batch", "no-such-rows.csv"}},
                                             {"scan", {"scan", "--interface", "nosuch0"}}};
} // namespace

class TestCliUsage : public QObject {
    Q_OBJECT
private slots:
    void documentedOptionsParse_data() {
        QTest::addColumn<QStringList>("args");
        const auto documented = documentedOptions();
        const QStringList takesValue = optionsTakingValues();
        QVERIFY(takesValue.contains("--mac") && takesValue.contains("--range"));
        QVERIFY(documented.count("setup") && documented.at("setup").contains("-v"));
        QVERIFY(documented.count("scan") && documented.at("scan").contains("--all"));
        for (const auto& [command, options] : documented) {
            const auto before = kBefore.find(command);
            QVERIFY2(before != kBefore.end(), qPrintable(command));
            for (const QString& option : options) {
                QStringList args = before->second;
                args << option;
                if (takesValue.contains(option)) {
                    QVERIFY2(kValues.count(option), qPrintable(option));
                    args << kValues.at(option);
                }
                QTest::newRow(
                    qPrintable((command.isEmpty() ? QStringLiteral("program") : command) + " " + option))
                    << args;
            }
        }
    }
    // Catches an option the manual page or the completion offers that the
    // program does not parse, parses as another (-v as the version), or
    // that makes Qt's parser speak: each run ends in the program's own words.
    void documentedOptionsParse() {
        QFETCH(QStringList, args);
        QTemporaryDir dir;
        QVERIFY(QDir::setCurrent(dir.path()));
        const Run r = cli(args);
        REQUIRE_OWN_NAMESPACE(r);
        const QString said = r.out + r.err;
        for (const char* parser : {"QCommandLineParser", "Unknown option", "Missing value",
                                   "Unexpected value", "does not take", "not a command"})
            QVERIFY2(!said.contains(QLatin1String(parser)), qPrintable(said));
        const bool informs = args.contains("--help") || args.contains("--version") || args.contains("-V");
        QVERIFY2(r.status == (informs ? 0 : 2), qPrintable(QString::number(r.status) + ": " + said));
        QVERIFY2(informs || r.err.startsWith("netrika-cli: "), qPrintable(said));
        QVERIFY2(informs || !r.out.contains("1.0"), qPrintable(said));
    }

    // Catches -v taken for the version, the version not shown by its own
    // options, or a wrong command told with the generic text only.
    void usageSaysWhatIsWrong_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said"); // a line on standard error, or stdout for status 0
        QTest::newRow("ok_version") << QStringList{"--version"} << 0 << "netrika-cli 1.0.4\n";
        QTest::newRow("ok_version_short") << QStringList{"-V"} << 0 << "netrika-cli 1.0.4\n";
        QTest::newRow("ok_help_names_the_program")
            << QStringList{"--help"} << 0 << "Usage: netrika-cli [options] command\n";
        QTest::newRow("error_verbose_is_no_version")
            << QStringList{"setup", "-v", "--mac", "0080a36163dd"} << 2 << "netrika-cli: --ip is missing\n";
        QTest::newRow("error_verbose_long") << QStringList{"setup", "--verbose", "--mac", "0080a36163dd"} << 2
                                            << "netrika-cli: --ip is missing\n";
        QTest::newRow("error_no_command") << QStringList{} << 2 << "netrika-cli: no command given";
        QTest::newRow("error_help_is_no_command")
            << QStringList{"help"} << 2 << "netrika-cli: help: not a command";
        QTest::newRow("error_scan_quiet")
            << QStringList{"scan", "-q"} << 2 << "netrika-cli: scan does not take -q";
        QTest::newRow("error_batch_check_no_file")
            << QStringList{"batch", "--check"} << 2 << "netrika-cli: batch needs a file";
        QTest::newRow("error_setup_jobs")
            << QStringList{"setup", "--jobs", "3"} << 2 << "netrika-cli: setup does not take --jobs";
        QTest::newRow("error_batch_two_files")
            << QStringList{"batch", "a.csv", "b.csv"} << 2 << "netrika-cli: batch takes no word b.csv";
        QTest::newRow("error_json_quiet")
            << QStringList{"setup", "--json", "-q"} << 2 << "netrika-cli: --json and -q cannot go together";
        // An option's missing value is never the next option: "--check"
        // taken as a report's name would have run the batch for real.
        QTest::newRow("error_report_without_value")
            << QStringList{"batch", "one.csv", "--report", "--check"} << 2
            << "netrika-cli: --report needs a value of its own, not the option --check";
        QTest::newRow("error_site_without_value") << QStringList{"batch", "one.csv", "--site", "--check"} << 2
                                                  << "netrika-cli: --site needs a value of its own";
        QTest::newRow("error_ip_is_quiet")
            << QStringList{"setup", "--mac", "0080a36163dd", "--ip", "-q"} << 2
            << "netrika-cli: --ip needs a value of its own, not the option -q";
    }
    void usageSaysWhatIsWrong() {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, said);
        const Run r = cli(args);
        REQUIRE_OWN_NAMESPACE(r);
        QCOMPARE(r.status, status);
        if (status == 0)
            QVERIFY2(r.out.startsWith(said), qPrintable(r.out));
        else
            QVERIFY2(r.err.startsWith(said), qPrintable(r.err));
        QVERIFY2(!r.err.contains("QCommandLineParser"), qPrintable(r.err));
    }

    // Catches values that would leave a sign unreachable accepted and sent,
    // a refusal that does not say what is wrong, or one a script cannot read
    // (--json printing nothing, or the value only inside the text).
    void senselessValuesRefused_data() {
        QTest::addColumn<QString>("ip");
        QTest::addColumn<QString>("mask");
        QTest::addColumn<QString>("gateway");
        QTest::addColumn<QString>("column");
        QTest::addColumn<QString>("text");
        QTest::newRow("error_gateway_off_subnet")
            << "10.77.50.22"
            << "255.255.255.0"
            << "10.77.60.254"
            << "gateway"
            << "--gateway 10.77.60.254: gateway 10.77.60.254 is not on 10.77.50.0/24";
        QTest::newRow("error_gateway_is_ip")
            << "10.77.50.22"
            << "255.255.255.0"
            << "10.77.50.22"
            << "gateway"
            << "--gateway 10.77.50.22: gateway 10.77.50.22 is the adaptor's own address";
        QTest::newRow("error_gateway_broadcast")
            << "10.77.50.22"
            << "255.255.255.192"
            << "10.77.50.63"
            << "gateway"
            << "gateway 10.77.50.63 is the broadcast address of 10.77.50.0/26";
        QTest::newRow("error_ip_network")
            << "10.77.50.0"
            << "255.255.255.0"
            << "0.0.0.0"
            << "ip"
            << "--ip 10.77.50.0: 10.77.50.0 is the network address of 10.77.50.0/24";
        QTest::newRow("error_ip_broadcast_26") << "10.77.50.63"
                                               << "255.255.255.192"
                                               << "0.0.0.0"
                                               << "ip"
                                               << "10.77.50.63 is the broadcast address of 10.77.50.0/26";
        QTest::newRow("error_mask_holes")
            << "10.77.50.22"
            << "255.0.255.0"
            << "0.0.0.0"
            << "mask"
            << "--mask 255.0.255.0: 255.0.255.0 is not a contiguous mask from /8 to /30";
        QTest::newRow("error_mask_zero") << "10.77.50.22"
                                         << "0.0.0.0"
                                         << "0.0.0.0"
                                         << "mask"
                                         << "0.0.0.0 is not a contiguous mask";
        QTest::newRow("error_mask_7") << "10.77.50.22"
                                      << "254.0.0.0"
                                      << "0.0.0.0"
                                      << "mask"
                                      << "254.0.0.0 is not a contiguous mask";
        QTest::newRow("error_mask_31") << "10.77.50.22"
                                       << "255.255.255.254"
                                       << "0.0.0.0"
                                       << "mask"
                                       << "255.255.255.254 is not a contiguous mask";
        // Addresses no sign can hold: the datagram would hand one over all the same.
        QTest::newRow("error_ip_multicast") << "224.1.1.1"
                                            << "255.255.255.0"
                                            << "0.0.0.0"
                                            << "ip"
                                            << "--ip 224.1.1.1: 224.1.1.1 is a multicast address";
        QTest::newRow("error_ip_loopback") << "127.0.0.5"
                                           << "255.0.0.0"
                                           << "0.0.0.0"
                                           << "ip"
                                           << "127.0.0.5 is a loopback address";
        QTest::newRow("error_ip_this_network") << "0.1.2.3"
                                               << "255.0.0.0"
                                               << "0.0.0.0"
                                               << "ip"
                                               << "0.1.2.3 is in 0.0.0.0/8, \"this network\"";
        QTest::newRow("error_ip_reserved") << "240.1.1.1"
                                           << "255.255.255.0"
                                           << "0.0.0.0"
                                           << "ip"
                                           << "240.1.1.1 is a reserved address";
        QTest::newRow("error_ip_link_local") << "169.254.7.7"
                                             << "255.255.0.0"
                                             << "0.0.0.0"
                                             << "ip"
                                             << "169.254.7.7 is a link-local address";
    }
    void senselessValuesRefused() {
        QFETCH(QString, ip);
        QFETCH(QString, mask);
        QFETCH(QString, gateway);
        QFETCH(QString, column);
        QFETCH(QString, text);
        for (const QString& mode : {QStringLiteral("--json"), QStringLiteral("--check")}) {
            const Run r = cli({"setup", mode, "--mac", "00-20-4a-61-63-dd", "--ip", ip, "--mask", mask,
                               "--gateway", gateway, "--tick-ms", "50"});
            REQUIRE_OWN_NAMESPACE(r);
            QCOMPARE(r.status, 2);
            QVERIFY2(r.err.contains(text), qPrintable(r.err));
            if (mode != QLatin1String("--json"))
                continue;
            const QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
            QCOMPARE(lines.size(), 2);
            const QJsonObject e = QJsonDocument::fromJson(lines[0].toUtf8()).object();
            // Every run ends with its finished event, a refused one too.
            const QJsonObject end = QJsonDocument::fromJson(lines[1].toUtf8()).object();
            QCOMPARE(end.value("event").toString(), "finished");
            QCOMPARE(end.value("reason").toString(), "refused");
            QCOMPARE(end.value("exit").toInt(), 2);
            QCOMPARE(e.value("event").toString(), "problem");
            QCOMPARE(e.value("column").toString(), column);
            QCOMPARE(e.value("value").toString(), column == "ip" ? ip : column == "mask" ? mask : gateway);
            QVERIFY2(e.value("text").toString().contains(text), qPrintable(r.out));
        }
    }

    // Catches a check that tells a MAC of no family "to-assign" while the run
    // refuses it (after seconds of probes): both refuse it before anything
    // is sent, with the same reason and status.
    void unknownFamilyRefusedByCheckAndRun_data() {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("closing"); // the event that ends the output
        QTest::newRow("error_check") << "--check"
                                     << "check";
        QTest::newRow("error_run") << "--tick-ms=50"
                                   << "finished";
    }
    void unknownFamilyRefusedByCheckAndRun() {
        QFETCH(QString, mode);
        QFETCH(QString, closing);
        const Run r = cli({"setup", mode, "--json", "--mac", "00-11-22-33-44-55", "--ip", "10.77.50.22",
                           "--mask", "255.255.255.0", "--gateway", "0.0.0.0"});
        REQUIRE_OWN_NAMESPACE(r);
        QCOMPARE(r.status, 2);
        const QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        const QJsonObject end =
            QJsonDocument::fromJson(lines.isEmpty() ? QByteArray() : lines.last().toUtf8()).object();
        QCOMPARE(end.value("event").toString(), closing);
        QCOMPARE(end.value("reason").toString(), "refused");
        QCOMPARE(end.value("exit").toInt(), 2);
        QVERIFY2(!r.out.contains("\"stage\""), qPrintable(r.out)); // no probe was begun
    }

    // Catches an octet of 255 refused where the subnet makes the address an
    // ordinary host's (every row of a /16 sheet refused), while the subnet's
    // own broadcast address stays refused.
    void octet255WhereTheSubnetAllows_data() {
        QTest::addColumn<QString>("ip");
        QTest::addColumn<QString>("mask");
        QTest::addColumn<QString>("gateway");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("ok_ip_255_in_16") << "10.78.255.20"
                                         << "255.255.0.0"
                                         << "10.78.0.1" << true;
        QTest::newRow("ok_gateway_255_in_16") << "10.78.0.20"
                                              << "255.255.0.0"
                                              << "10.78.255.254" << true;
        QTest::newRow("ok_last_octet_255_in_23") << "10.78.2.255"
                                                 << "255.255.254.0"
                                                 << "0.0.0.0" << true;
        QTest::newRow("error_broadcast_of_16") << "10.78.255.255"
                                               << "255.255.0.0"
                                               << "0.0.0.0" << false;
    }
    void octet255WhereTheSubnetAllows() {
        QFETCH(QString, ip);
        QFETCH(QString, mask);
        QFETCH(QString, gateway);
        QFETCH(bool, accepted);
        const Run r = cli({"setup", "--check", "--json", "--mac", "00-20-4a-61-63-dd", "--ip", ip, "--mask",
                           mask, "--gateway", gateway});
        REQUIRE_OWN_NAMESPACE(r);
        // Values that pass are checked on the wire (here: on no segment of the
        // test's namespace); refused ones never get there.
        const QJsonObject check =
            QJsonDocument::fromJson(r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts).value(0).toUtf8())
                .object();
        QCOMPARE(check.value("event").toString(), accepted ? "check" : "problem");
        if (accepted)
            QCOMPARE(check.value("reason").toString(), "off-segment");
    }

    // Catches a file the command line writes through a link another user put
    // where it writes (/tmp, a shared log folder): --log, --report and a row's
    // log under --log-dir each refuse it, and the file it points to, the
    // user's own, keeps its bytes. A link of the user's own is followed.
    void writtenFilesRefuseOthersLinks_data() {
        QTest::addColumn<QStringList>("args"); // "%1": the path written; "%2": the folder
        QTest::addColumn<QString>("file");     // what is at the path: "theirs" or "own" link
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("text");
        const QStringList setup{"setup", "--mac", "00-80-a3-61-63-dd", "--ip", "10.1.2.3", "--mask",
                                "255.255.255.0", "--gateway", "10.1.2.254", "--tick-ms", "50"};
        QTest::newRow("--log, another's link") << setup + QStringList{"--log", "%1"} << "theirs" << 2
                                              << "--log %1: a link of another user's, which is not followed";
        QTest::newRow("--report, another's link")
            << QStringList{"batch", "%2/rows.csv", "--report", "%1"} << "theirs" << 2
            << "--report %1: it cannot be written: a link of another user's, which is not followed";
        QTest::newRow("--log-dir, another's link at a row's log")
            << QStringList{"batch", "%2/rows.csv", "--log-dir", "%2", "--tick-ms", "50"} << "theirs" << 1
            << "--log %1: a link of another user's, which is not followed";
        QTest::newRow("--log, the user's own link") << setup + QStringList{"--log", "%1"} << "own" << 1
                                                   << "";
    }
    void writtenFilesRefuseOthersLinks() {
        QFETCH(QStringList, args);
        QFETCH(QString, file);
        QFETCH(int, status);
        QFETCH(QString, text);
        QTemporaryDir dir;
        QFile rows(dir.filePath("rows.csv"));
        QVERIFY(rows.open(QIODevice::WriteOnly));
        rows.write("mac,ip,mask,gateway\n00-80-a3-61-63-dd,10.1.2.3,255.255.255.0,10.1.2.254\n");
        rows.close();
        QFile mine(dir.filePath("mine"));
        QVERIFY(mine.open(QIODevice::WriteOnly));
        mine.write("the user's own\n");
        mine.close();
        // At the path the run writes: a row's log is named after its MAC.
        const QString path = dir.filePath(args.contains("--log-dir") ? "00-80-a3-61-63-dd.log" : "written");
        QVERIFY(QFile::link(mine.fileName(), path));
        if (file == QLatin1String("theirs"))
            QVERIFY(::lchown(QFile::encodeName(path).constData(), 65534, 65534) == 0);
        for (QString& a : args)
            a = a.replace("%1", path).replace("%2", dir.path());
        const Run r = cli(args);
        REQUIRE_OWN_NAMESPACE(r);
        QCOMPARE(r.status, status);
        QFile after(mine.fileName());
        QVERIFY(after.open(QIODevice::ReadOnly));
        if (file == QLatin1String("theirs")) {
            QVERIFY2(r.err.contains(QString(text).replace("%1", path)) ||
                         r.out.contains(QString(text).replace("%1", path)),
                     qPrintable(r.out + r.err));
            QCOMPARE(after.readAll(), QByteArray("the user's own\n"));
        } else {
            QVERIFY2(after.readAll() != QByteArray("the user's own\n"), qPrintable(r.err)); // followed
        }
    }

    // Catches, on a terminal, a row's line for people written into the
    // batch's summary line (which stays at the bottom: it is cleared first
    // and drawn again), and a long sign name padding every line of the
    // final table (it is cut to 32 characters). Run under script(1), whose
    // pseudo-terminal the batch takes for the technician's.
    void onATerminal() {
        QTemporaryDir dir;
        const QString longName = QStringLiteral("Gate 3, north ramp, ") + QString(3000, QLatin1Char('x'));
        QFile rows(dir.filePath("rows.csv"));
        QVERIFY(rows.open(QIODevice::WriteOnly));
        rows.write("mac,ip,mask,gateway,name\n"
                   "00-80-a3-61-63-dd,10.1.2.3,255.255.255.0,10.1.2.254,Gate 1\n"
                   "00-20-4a-61-63-de,10.1.2.4,255.255.255.0,10.1.2.254,\"" +
                   longName.toUtf8() + "\"\n");
        rows.close();
        QProcess p;
        p.setChildProcessModifier([] {
            if (::unshare(CLONE_NEWNET) != 0)
                ::_exit(kNoNamespace);
        });
        // A segment of the namespace's own for the rows: a veth pair whose
        // far end nothing answers on, so each row's run fails.
        p.start(QStringLiteral("script"),
                {"-qec",
                 QStringLiteral("ip link add nkt0 type veth peer name nkt1 && ip link set nkt1 up && "
                                "ip addr add 10.1.2.1/24 dev nkt0 && ip link set nkt0 up && "
                                "%1 batch %2 --tick-ms 50")
                     .arg(QStringLiteral(NETRIKA_CLI), rows.fileName()),
                 "/dev/null"});
        Run r;
        r.status = finishProcess(p, 60000, r.out, r.err);
        REQUIRE_OWN_NAMESPACE(r);
        QCOMPARE(r.status, 1);
        const QString shown = r.out;
        // Lines for people came (the rows' runs fail in an empty network) ...
        QVERIFY2(shown.contains(QRegularExpression(QStringLiteral("\r\\e\\[K00-80-a3-61-63-dd  "))),
                 qPrintable(shown));
        // ... and none ran on from the summary.
        static const QRegularExpression runOn(
            QStringLiteral("\\[\\d+ of \\d+ done, \\d+ running, \\d+ failed\\][^\\r\\n\\e]"));
        QVERIFY2(!runOn.match(shown).hasMatch(), qPrintable(shown.mid(runOn.match(shown).capturedStart(), 120)));
        // The table: the name cut, no line longer than the cut allows.
        const qsizetype tableAt = shown.lastIndexOf(QStringLiteral("\nline  mac"));
        QVERIFY2(tableAt >= 0, qPrintable(shown));
        const QStringList table = shown.mid(tableAt + 1).split(QRegularExpression("\r?\n"), Qt::SkipEmptyParts);
        QVERIFY2(table.value(2).contains(longName.left(31) + QChar(0x2026) + QLatin1Char(' ')),
                 qPrintable(table.join('\n')));
        for (const QString& line : table)
            QVERIFY2(line.size() < 160, qPrintable(line));
    }
};

QTEST_GUILESS_MAIN(TestCliUsage)
#include "tst_cliusage.moc"
