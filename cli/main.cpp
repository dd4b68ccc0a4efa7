#include "cli/BatchCheck.h"
#include "cli/BatchReport.h"
#include "cli/BatchRun.h"
#include "cli/JsonLine.h"
#include "cli/ScanCommand.h"
#include "cli/SetupCheck.h"
#include "net/HostNetworks.h"
#include "setup/AdaptorScan.h"
#include "setup/AppInfo.h"
#include "setup/InterruptSignals.h"
#include "setup/ScanFinder.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>

#include <algorithm>
#include <cstdio>
#include <optional>
#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {
// Whether a person reads the stream: a terminal (a console on Windows), not a file or pipe.
bool onTerminal(FILE* stream) {
#ifdef Q_OS_WIN
    return ::_isatty(::_fileno(stream)) != 0;
#else
    return ::isatty(::fileno(stream)) == 1;
#endif
}
constexpr int kDefaultJobs = 16;
constexpr int kMaxJobs = 256;
int usage(QTextStream& err, const QString& text) {
    err << "netrika-cli: " << text << Qt::endl;
    return CliRun::BadValues;
}

CliRun::Output outputOf(const QCommandLineParser& parser) {
    if (parser.isSet(QStringLiteral("json")))
        return CliRun::Output::Json;
    return parser.isSet(QStringLiteral("quiet")) ? CliRun::Output::Quiet : CliRun::Output::Text;
}

// At most this many problems are printed, then how many more there are.
constexpr int kShownProblems = 20;

// Problems on standard error (and as events with --json, each with its line,
// column and value where places has them), at most kShownProblems.
void tell(const QStringList& problems, const QString& where, CliRun::Output output, QTextStream& out,
          QTextStream& err, const std::vector<BatchFile::Place>& places = {}) {
    for (qsizetype i = 0; i < problems.size() && i < kShownProblems; ++i) {
        err << "netrika-cli: " << where << problems[i] << Qt::endl;
        if (output != CliRun::Output::Json)
            continue;
        QJsonObject fields{{QStringLiteral("text"), problems[i]}};
        if (std::size_t(i) < places.size()) {
            const BatchFile::Place& place = places[std::size_t(i)];
            if (place.line > 0)
                fields.insert(QStringLiteral("line"), place.line);
            if (!place.column.isEmpty()) {
                fields.insert(QStringLiteral("column"), place.column);
                fields.insert(QStringLiteral("value"), place.value);
            }
        }
        out << jsonLine("problem", 0, fields) << Qt::endl;
    }
    if (problems.size() > kShownProblems) {
        const QString more = QStringLiteral("\u2026 and %1 more").arg(problems.size() - kShownProblems);
        err << "netrika-cli: " << where << more << Qt::endl;
        if (output == CliRun::Output::Json)
            out << jsonLine("problem", 0,
                            {{QStringLiteral("text"), more}, {QStringLiteral("more"), problems.size() - kShownProblems}})
                << Qt::endl;
    }
}

// A value refused before anything is sent: the line on standard error, and
// under --json a problem event naming the value, then the event that closes
// what was asked for (a run's finished, a check's check), as every end has.
int refuse(const QString& why, const QString& field, const QString& value, bool check, CliRun::Output output,
           QTextStream& out, QTextStream& err) {
    tell({why}, QString(), output, out, err, {{0, field, value}});
    if (output == CliRun::Output::Json) {
        const QString refused = RunOutcomes::reason(RunOutcome::Refused);
        if (check)
            out << jsonLine("check", 0,
                            {{QStringLiteral("state"), SetupCheck::stateName(SetupCheck::State::Refused)},
                             {QStringLiteral("reason"), refused},
                             {QStringLiteral("text"), why},
                             {QStringLiteral("exit"), CliRun::BadValues}})
                << Qt::endl;
        else
            out << jsonLine("finished", 0,
                            {{QStringLiteral("result"), CliRun::resultName(CliRun::BadValues)},
                             {QStringLiteral("reason"), refused},
                             {QStringLiteral("status"), why},
                             {QStringLiteral("exit"), CliRun::BadValues}})
                << Qt::endl;
    }
    return CliRun::BadValues;
}

// setup --check: the values have passed; who answers at the address decides.
int setupCheck(const SetupRequest& request, CliRun::Output output, QTextStream& out, QTextStream& err) {
    const SetupCheck check = SetupCheck::of(request, NetHelper::defaultProgram());
    const QString state = SetupCheck::stateName(check.state);
    if (output == CliRun::Output::Json) {
        QJsonObject fields{{QStringLiteral("state"), state},
                           {QStringLiteral("reason"), check.reason},
                           {QStringLiteral("text"), check.text},
                           {QStringLiteral("exit"), check.exitStatus()}};
        out << jsonLine("check", 0, fields) << Qt::endl;
        err << "netrika-cli: " << check.text << Qt::endl;
    } else {
        (check.exitStatus() == CliRun::BadValues ? err : out)
            << (check.exitStatus() == CliRun::BadValues ? "netrika-cli: " : "") << state << ": " << check.text
            << Qt::endl;
    }
    return check.exitStatus();
}

int setupCommand(const QCommandLineParser& parser, int tickMs, QTextStream& out, QTextStream& err) {
    const CliRun::Output output = outputOf(parser);
    const bool check = parser.isSet(QStringLiteral("check"));
    for (const char* name : {"mac", "ip", "mask", "gateway"}) {
        if (!parser.isSet(QString::fromLatin1(name)))
            return refuse(QStringLiteral("--%1 is missing").arg(QLatin1String(name)), QLatin1String(name), {},
                          check, output, out, err);
    }
    QString why, field;
    auto request =
        SetupRequest::from(parser.value(QStringLiteral("mac")), parser.value(QStringLiteral("ip")),
                           parser.value(QStringLiteral("mask")), parser.value(QStringLiteral("gateway")),
                           parser.isSet(QStringLiteral("sign-test")), &why, &field);
    const auto valueOf = [&parser](const QString& f) {
        return parser.value(f == QLatin1String("current_ip") ? QStringLiteral("current-ip") : f);
    };
    if (!request)
        return refuse(why, field, valueOf(field), check, output, out, err);
    if (parser.isSet(QStringLiteral("current-ip")) &&
        !request->setCurrentIp(parser.value(QStringLiteral("current-ip")), &why, &field))
        return refuse(why, field, valueOf(field), check, output, out, err);
    if (parser.isSet(QStringLiteral("in-place"))) {
        const QString what = parser.value(QStringLiteral("in-place"));
        if (what == QLatin1String("leave"))
            request->inPlace = SetupRequest::InPlace::Leave;
        else if (what == QLatin1String("apply"))
            request->inPlace = SetupRequest::InPlace::Apply;
        else
            return usage(err, QStringLiteral("--in-place %1: leave or apply").arg(what));
    }
    if (check)
        return setupCheck(*request, output, out, err);
    request->tickMs = tickMs;
    CliRun run(*request, out);
    run.setOutput(output, err);
    run.setVerbose(parser.isSet(QStringLiteral("verbose")));
    if (parser.isSet(QStringLiteral("log")) && !run.setLog(parser.value(QStringLiteral("log")), &why))
        return usage(err, why);
    // Ctrl-C, SIGTERM and SIGHUP end the run as closing the window does.
    const InterruptSignals interrupts([&run] { run.interrupt(); });
    return run.run();
}

// Bad ranges and interfaces are usage errors, told before anything is sent.
int scanCommand(const QCommandLineParser& parser, QTextStream& out, QTextStream& err) {
    ScanRequest request;
    request.interfaceName = parser.value(QStringLiteral("interface"));
    request.ranges = parser.values(QStringLiteral("range"));
    request.all = parser.isSet(QStringLiteral("all"));
    // A bridge's port is up, yet its adaptors answer on the bridge.
    for (const HostNetwork& n : HostNetworks::read())
        if (n.name == request.interfaceName && n.bridgePort && n.up)
            return usage(err, QStringLiteral("--interface %1: a port of the bridge %2, which carries its "
                                             "traffic: sweep with --interface %2")
                                  .arg(n.name, n.bridge));
    const AdaptorScan::Plan plan = AdaptorScan::plan(request, AdaptorScan::hostInterfaces());
    if (!plan.error.isEmpty())
        return usage(err, plan.error);
    ScanFinder finder;
    ScanCommand scan(request, finder, outputOf(parser), out, err);
    scan.announce(plan.ranges, onTerminal(stderr));
    const InterruptSignals interrupts([&scan] { scan.interrupt(); });
    return scan.run();
}

std::optional<QByteArray> readInput(const QString& path, QTextStream& err) {
    QFile file;
    const bool opened = path == QLatin1String("-") ? file.open(stdin, QIODevice::ReadOnly)
                                                   : (file.setFileName(path), file.open(QIODevice::ReadOnly));
    if (!opened) {
        usage(err, QStringLiteral("%1: %2").arg(path, file.errorString()));
        return std::nullopt;
    }
    return file.readAll();
}

// The rows as read, for --check: a line each, or a "row" event each.
void showRows(const BatchFile& batch, CliRun::Output output, QTextStream& out) {
    for (const BatchRow& row : batch.rows) {
        const auto quad = [](const std::array<QString, 4>& o) {
            return QStringList(o.begin(), o.end()).join('.');
        };
        if (output == CliRun::Output::Json) {
            QJsonObject fields{{QStringLiteral("line"), row.line},
                               {QStringLiteral("mac"), BatchRun::dashedMac(row.request)},
                               {QStringLiteral("ip"), quad(row.request.ip)},
                               {QStringLiteral("mask"), quad(row.request.mask)},
                               {QStringLiteral("gateway"), quad(row.request.gateway)},
                               {QStringLiteral("sign_test"), row.request.signTest}};
            if (!row.request.currentIp.isEmpty())
                fields.insert(QStringLiteral("current_ip"), row.request.currentIp);
            if (const qsizetype name = batch.column(QLatin1StringView("name")); name >= 0)
                fields.insert(QStringLiteral("name"), row.cells.value(name));
            out << jsonLine("row", 0, fields) << Qt::endl;
        } else if (output == CliRun::Output::Text) {
            out << QStringLiteral("line %1  %2  %3  %4  %5  sign test %6")
                       .arg(row.line)
                       .arg(BatchRun::dashedMac(row.request), quad(row.request.ip), quad(row.request.mask),
                            quad(row.request.gateway),
                            row.request.signTest ? QStringLiteral("yes") : QStringLiteral("no"));
            if (!row.request.currentIp.isEmpty())
                out << QStringLiteral("  from %1").arg(row.request.currentIp);
            out << Qt::endl;
        }
    }
}

int batchCommand(const QCommandLineParser& parser, const QString& path, int tickMs, QTextStream& out,
                 QTextStream& err) {
    const CliRun::Output output = outputOf(parser);
    bool ok = false;
    const int jobs = parser.value(QStringLiteral("jobs")).toInt(&ok);
    if (!ok || jobs < 1 || jobs > kMaxJobs)
        return usage(err, QStringLiteral("--jobs %1: a number from 1 to %2")
                              .arg(parser.value(QStringLiteral("jobs")))
                              .arg(kMaxJobs));
    BatchFile::Options reading;
    if (parser.isSet(QStringLiteral("delimiter"))) {
        const QString d = parser.value(QStringLiteral("delimiter"));
        reading.delimiter = d == QLatin1String("tab") || d == QLatin1String("\\t") ? '\t'
                            : d.size() == 1 && QStringLiteral(",;\t|").contains(d) ? d.at(0).toLatin1()
                                                                                   : 0;
        if (reading.delimiter == 0)
            return usage(err, QStringLiteral("--delimiter %1: one of , ; | or tab").arg(d));
    }
    reading.site = parser.value(QStringLiteral("site")).trimmed();
    if (parser.isSet(QStringLiteral("site")) && reading.site.isEmpty())
        return usage(err, QStringLiteral("--site: the name of a site, as its rows' column site gives it"));
    const QString report = parser.value(QStringLiteral("report"));
    const auto bytes = readInput(path, err);
    if (!bytes)
        return CliRun::BadValues;
    const BatchFile batch = BatchFile::parse(*bytes, reading);
    const QString where = (path == QLatin1String("-") ? QStringLiteral("standard input") : path) + ": ";
    if (!batch.problems.isEmpty()) {
        tell(batch.problems, where, output, out, err, batch.places);
        err << "netrika-cli: nothing was sent" << Qt::endl;
        return CliRun::BadValues;
    }
    if (batch.encoding == BatchFile::kWindows1252)
        err << "netrika-cli: " << where << "not UTF-8: read as Windows-1252, as older spreadsheets save CSV"
            << Qt::endl;
    // A row a spreadsheet began with '#' is not lost without a word.
    if (!batch.comments.empty()) {
        QStringList lines;
        QJsonArray numbers;
        for (int line : batch.comments) {
            lines << QString::number(line);
            numbers.append(line);
        }
        const QString text =
            batch.comments.size() == 1
                ? QStringLiteral("line %1 begins with # and is read as a comment, not as a row").arg(lines[0])
                : QStringLiteral("lines %1 begin with # and are read as comments, not as rows")
                      .arg(lines.join(QStringLiteral(", ")));
        err << "netrika-cli: " << where << text << Qt::endl;
        if (output == CliRun::Output::Json)
            out << jsonLine("comments", 0, {{QStringLiteral("lines"), numbers}, {QStringLiteral("text"), text}})
                << Qt::endl;
    }
    // The sign's name is shown in the table; the other columns only travel.
    QStringList unused = batch.otherColumns;
    unused.removeIf([](const QString& c) { return c.compare(QLatin1String("name"), Qt::CaseInsensitive) == 0; });
    if (!unused.isEmpty())
        err << "netrika-cli: " << where << "these columns are not used: " << unused.join(QStringLiteral(", "))
            << "; they are carried into the report" << Qt::endl;
    const QString logDir = parser.value(QStringLiteral("log-dir"));
    if (!logDir.isEmpty() && (!QDir().mkpath(logDir) || !QFileInfo(logDir).isWritable()))
        return usage(err, QStringLiteral("--log-dir %1: cannot be made or written to").arg(logDir));

    const bool check = parser.isSet(QStringLiteral("check"));
    if (check) {
        showRows(batch, output, out);
        std::vector<BatchFile::Place> places;
        const QStringList problems = hostProblems(batch, report, NetHelper::defaultProgram(), &places);
        tell(problems, QString(), output, out, err, places);
        if (!problems.isEmpty()) {
            if (output == CliRun::Output::Json)
                out << jsonLine("checked", 0,
                                {{QStringLiteral("text"), QStringLiteral("the batch cannot start")},
                                 {QStringLiteral("exit"), CliRun::BadValues}})
                    << Qt::endl;
            return CliRun::BadValues;
        }
    }

    // Rows a report of an earlier run lists as done with the same values are
    // not run again.
    BatchReport::Succeeded earlier;
    if (parser.isSet(QStringLiteral("resume"))) {
        const QString from = parser.value(QStringLiteral("resume"));
        const auto before = readInput(from, err);
        if (!before)
            return CliRun::BadValues;
        earlier = BatchReport::succeeded(*before);
        if (!earlier.problems.isEmpty()) {
            tell(earlier.problems, QStringLiteral("--resume %1: ").arg(from), output, out, err);
            return CliRun::BadValues;
        }
    }
    BatchReport csv;
    if (!report.isEmpty() && !check) {
        QString why;
        if (!csv.open(report, batch, why))
            return usage(err, QStringLiteral("--report %1: %2; nothing was sent").arg(report, why));
    }

    BatchRun::Options options;
    options.jobs = jobs;
    options.program = QCoreApplication::applicationFilePath();
    if (tickMs > 0)
        options.extraArguments << QStringLiteral("--tick-ms") << QString::number(tickMs);
    options.terminal = onTerminal(stdout);
    options.logDir = logDir;
    options.output = output;
    options.check = check;
    options.force = parser.isSet(QStringLiteral("force"));
    options.nameCell = batch.column(QLatin1StringView("name"));
    const std::vector<BatchRow>& rows = batch.rows;
    BatchRun* running = nullptr;
    bool written = true;
    const auto writeRow = [&](std::size_t r, const QString& result) {
        const BatchRun::Outcome& o = running->outcomes()[r];
        written = csv.write(rows[r], result, o.reason, o.seconds, o.status) && written;
    };
    if (!report.isEmpty() && !check)
        options.onFinished = [&](int r) {
            writeRow(std::size_t(r), BatchRun::resultName(running->outcomes()[std::size_t(r)].result));
        };
    BatchRun run(rows, options, out, err);
    running = &run;
    // Rows a report of an earlier run lists as done, with the same values,
    // are not run again; they stay as they were in this report. An adaptor
    // the earlier run reached, but which did not end done with these values
    // (others, or a run that failed or was interrupted after it took its
    // address), is given this row's values even where it is in place.
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const auto before = earlier.rows.constFind(BatchReport::key(rows[r]));
        if (before == earlier.rows.cend()) {
            if (earlier.tried.contains(BatchReport::placeKey(rows[r])))
                run.applyAgain(int(r));
            continue;
        }
        err << "netrika-cli: line " << rows[r].line << " (" << BatchRun::dashedMac(rows[r].request) << "): "
            << before->value(0) << " in the earlier run with the same values, not run again" << Qt::endl;
        run.doneBefore(int(r), before->value(1).toDouble(), before->value(2));
        if (!report.isEmpty() && !check)
            writeRow(r, before->value(0));
    }
    // The same for every running row, whether the signal reached the rows too
    // (Ctrl-C to the terminal's process group) or the batch alone.
    const InterruptSignals interrupts([&run] { run.interrupt(); });
    int status = run.run();
    if (!report.isEmpty() && !check) {
        for (std::size_t r = 0; r < rows.size(); ++r)
            if (run.outcomes()[r].result == BatchRun::Result::Waiting)
                writeRow(r, BatchRun::resultName(BatchRun::Result::Waiting));
        written = csv.finish() && written;
        if (!written) {
            err << "netrika-cli: --report " << report << ": " << csv.error() << Qt::endl;
            if (status == CliRun::Succeeded)
                status = CliRun::Failed;
        }
    }
    return status;
}
} // namespace

namespace {
// The options each command takes, by their long names.
const QHash<QString, QStringList> kCommandOptions{
    {QStringLiteral("setup"),
     {"mac", "ip", "mask", "gateway", "current-ip", "in-place", "sign-test", "check", "verbose", "log", "json",
      "quiet", "tick-ms"}},
    {QStringLiteral("batch"),
     {"jobs", "report", "delimiter", "site", "check", "resume", "force", "log-dir", "json", "quiet",
      "tick-ms"}},
    {QStringLiteral("scan"), {"interface", "range", "all", "json"}},
};

// What is wrong with the command and its words, said as plainly as it can
// be; empty when nothing is.
QString misuse(const QCommandLineParser& parser) {
    const QStringList positional = parser.positionalArguments();
    const QString commands = QStringLiteral("the commands are setup, batch FILE.csv and scan; see --help");
    if (positional.isEmpty())
        return QStringLiteral("no command given: ") + commands;
    const QString& command = positional.first();
    if (!kCommandOptions.contains(command))
        return QStringLiteral("%1: not a command; %2").arg(command, commands);
    if (command == QLatin1String("batch") && positional.size() < 2)
        return QStringLiteral("batch needs a file: batch FILE.csv, or batch - for standard input");
    const qsizetype words = command == QLatin1String("batch") ? 2 : 1;
    if (positional.size() > words)
        return QStringLiteral("%1 takes no word %2 (options begin with --)").arg(command, positional[words]);
    // Each option as typed, checked against the command's.
    static const QHash<QString, QString> longName{{"v", "verbose"}, {"q", "quiet"}, {"dry-run", "check"}};
    for (const QString& typed : parser.optionNames()) {
        const QString name = longName.value(typed, typed);
        if (!kCommandOptions[command].contains(name))
            return QStringLiteral("%1 does not take %2%3; see --help")
                .arg(command, typed.size() == 1 ? QStringLiteral("-") : QStringLiteral("--"), typed);
    }
    return {};
}
} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("netrika-cli"));
    QCoreApplication::setApplicationVersion(AppInfo::versionText());
    QTextStream out(stdout);
    QTextStream err(stderr);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        AppInfo::kDescription +
        QStringLiteral(", from the command line.\n\n"
                       "  netrika-cli setup --mac M --ip A --mask A --gateway A [--current-ip A]\n"
                       "                    [--in-place leave|apply] [--sign-test] [--check] [-v]\n"
                       "                    [--log FILE] [--json] [-q]\n"
                       "  netrika-cli batch FILE.csv|- [--jobs N] [--report OUT.csv] [--delimiter D]\n"
                       "                   [--site NAME] [--check] [--resume REPORT.csv] [--force]\n"
                       "                   [--log-dir DIR] [--json] [-q]\n"
                       "  netrika-cli scan [--interface IF] [--range A.B.C.D/LEN]... [--all] [--json]\n\n"
                       "Exit status: 0 succeeded (--check: the run would start, or the adaptor is in\n"
                       "place; scan: an adaptor was found); 1 a run or a row failed (--check: the\n"
                       "address is taken; scan: none found); 2 bad usage or values,\n"
                       "nothing sent; 130 interrupted (Ctrl-C, SIGTERM, SIGHUP: the adaptor is logged\n"
                       "out of, the neighbour entry removed)."));
    parser.addOption(
        {QStringList{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Displays this help.")});
    // Not Qt's own version option: that takes -v, which is --verbose here.
    parser.addOption({QStringList{QStringLiteral("V"), QStringLiteral("version")},
                      QStringLiteral("Displays version information.")});
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("setup: one whole setup run; batch FILE.csv: one run for "
                                                "each row of the file (mac,ip,mask,gateway[,sign_test]"
                                                "[,current_ip]); scan: list the adaptors on the cable."));
    parser.addOption(
        {QStringLiteral("mac"), QStringLiteral("setup: the adaptor's MAC address."), QStringLiteral("mac")});
    parser.addOption({QStringLiteral("ip"), QStringLiteral("setup: the IP address to assign."),
                      QStringLiteral("address")});
    parser.addOption(
        {QStringLiteral("mask"), QStringLiteral("setup: the subnet mask."), QStringLiteral("address")});
    parser.addOption({QStringLiteral("gateway"), QStringLiteral("setup: the default gateway."),
                      QStringLiteral("address")});
    parser.addOption(
        {QStringLiteral("current-ip"),
         QStringLiteral("setup: the address the adaptor already has: it is reached there (after "
                        "checking that it answers ARP with --mac) and given --ip, with no datagram "
                        "and no neighbour entry; it takes on --ip when it is power cycled."),
         QStringLiteral("address")});
    parser.addOption(
        {QStringLiteral("in-place"),
         QStringLiteral("setup: when the adaptor already answers ARP at --ip with --mac: leave it as it "
                        "is (exit 0, reason in-place), or apply the values again there. Without it, "
                        "the run's own check finds the address in use."),
         QStringLiteral("leave|apply")});
    parser.addOption({QStringLiteral("sign-test"),
                      QStringLiteral("setup: answer Yes to the \"Test IP Address\" question: put the test "
                                     "message on the sign.")});
    parser.addOption({QStringList{QStringLiteral("v"), QStringLiteral("verbose")},
                      QStringLiteral("setup: print each stage of the run and the dialogue with the adaptor "
                                     "(> sent, < received, control characters escaped).")});
    parser.addOption(
        {QStringLiteral("log"),
         QStringLiteral("setup: write the stages and the whole dialogue, with times, to this file."),
         QStringLiteral("file")});
    parser.addOption({QStringLiteral("log-dir"),
                      QStringLiteral("batch: write each row's stages and dialogue to DIR/<mac>.log."),
                      QStringLiteral("dir")});
    parser.addOption({QStringLiteral("jobs"), QStringLiteral("batch: rows run at once (default 16)."),
                      QStringLiteral("n"), QString::number(kDefaultJobs)});
    parser.addOption({QStringLiteral("report"),
                      QStringLiteral("batch: write each row as it ends to this CSV file, itself a batch file "
                                     "(line, the input's columns, result, seconds, status)."),
                      QStringLiteral("file")});
    parser.addOption(
        {QStringList{QStringLiteral("check"), QStringLiteral("dry-run")},
         QStringLiteral("send nothing but ARP; check the values, the network helper and that each "
                        "address is on a segment of this host. setup: and who answers at --ip "
                        "(exit 0 to assign or in place, 1 taken). batch: and the report's path.")});
    parser.addOption({QStringLiteral("resume"),
                      QStringLiteral("batch: skip the rows this earlier report lists as succeeded or in "
                                     "place with the same values; a row whose mask, gateway or sign test "
                                     "changed since is applied again."),
                      QStringLiteral("report")});
    parser.addOption({QStringLiteral("force"),
                      QStringLiteral("batch: apply the values again to adaptors already in place (each "
                                     "row is asked by ARP first; in place rows are otherwise left alone).")});
    parser.addOption({QStringLiteral("delimiter"),
                      QStringLiteral("batch: the separator, one of , ; | or tab (found from the header "
                                     "otherwise)."),
                      QStringLiteral("d")});
    parser.addOption({QStringLiteral("site"),
                      QStringLiteral("batch: run only the rows whose column site holds this name (one file "
                                     "for many sites)."),
                      QStringLiteral("name")});
    parser.addOption({QStringLiteral("interface"),
                      QStringLiteral("scan: sweep on this Ethernet interface only."),
                      QStringLiteral("name")});
    parser.addOption({QStringLiteral("range"),
                      QStringLiteral("scan: sweep this range, /20 to /30, instead of this host's subnets "
                                     "(repeatable). An adaptor answers for its address in any range."),
                      QStringLiteral("cidr")});
    parser.addOption({QStringLiteral("all"),
                      QStringLiteral("scan: list every device that answers, not only the two adaptor "
                                     "families.")});
    parser.addOption({QStringLiteral("json"),
                      QStringLiteral("one JSON object a line on standard output for each event; text goes to "
                                     "standard error.")});
    parser.addOption({QStringList{QStringLiteral("q"), QStringLiteral("quiet")},
                      QStringLiteral("print only the final result (setup) or table (batch).")});
    // The sequencer's tick, for tests against a simulated adaptor only.
    QCommandLineOption tick(QStringLiteral("tick-ms"), QStringLiteral("Tick in ms."), QStringLiteral("ms"));
    tick.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(tick);
    if (!parser.parse(QCoreApplication::arguments()))
        return usage(err, parser.errorText());
    // Qt's own help option would list --help-all, which shows Qt's options for
    // windows too; this program has none, so there is --help alone.
    if (parser.isSet(QStringLiteral("help"))) {
        // Named as the user types it, not by the path it was started from.
        QString help = parser.helpText();
        const QString started = QCoreApplication::arguments().constFirst();
        help.replace(help.indexOf(started), started.size(), QStringLiteral("netrika-cli"));
        out << help;
        out.flush();
        return CliRun::Succeeded;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        out << QCoreApplication::applicationName() << ' ' << QCoreApplication::applicationVersion()
            << Qt::endl;
        return CliRun::Succeeded;
    }

    int tickMs = 0;
    if (parser.isSet(tick)) {
        bool ok = false;
        tickMs = parser.value(tick).toInt(&ok);
        if (!ok || tickMs < 50 || tickMs > 3000)
            return usage(err, QStringLiteral("--tick-ms: 50 to 3000"));
    }
    const QStringList positional = parser.positionalArguments();
    const auto given = [&parser](std::initializer_list<const char*> names) {
        return std::any_of(names.begin(), names.end(),
                           [&parser](const char* n) { return parser.isSet(QString::fromLatin1(n)); });
    };
    if (given({"json"}) && given({"quiet"}))
        return usage(err, QStringLiteral("--json and -q cannot go together"));
    if (given({"verbose"}) && (given({"json"}) || given({"quiet"})))
        return usage(err, QStringLiteral("-v goes with neither --json nor -q"));
    if (const QString wrong = misuse(parser); !wrong.isEmpty())
        return usage(err, wrong);
    // An option given without its value takes the next option as one
    // ("--report --check" would write a report named --check and run).
    static const QStringList shortOptions{QStringLiteral("-v"), QStringLiteral("-q"), QStringLiteral("-h"),
                                          QStringLiteral("-V")};
    for (const QString& name : parser.optionNames())
        for (const QString& value : parser.values(name))
            if (value.startsWith(QLatin1String("--")) || shortOptions.contains(value))
                return usage(err, QStringLiteral("--%1 needs a value of its own, not the option %2")
                                      .arg(name, value));
    if (positional.first() == QLatin1String("setup"))
        return setupCommand(parser, tickMs, out, err);
    if (positional.first() == QLatin1String("batch"))
        return batchCommand(parser, positional[1], tickMs, out, err);
    return scanCommand(parser, out, err);
}
