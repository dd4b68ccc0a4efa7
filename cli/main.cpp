#include "cli/Batch.h"
#include "setup/AppInfo.h"
#include "setup/InterruptSignals.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <unistd.h>

namespace {
constexpr int kDefaultJobs = 16;
constexpr int kMaxJobs = 256;
int usage(QTextStream& err, const QString& text) {
    err << "netrika-cli: " << text << Qt::endl;
    return CliRun::BadValues;
}

int setupCommand(const QCommandLineParser& parser, int tickMs, QTextStream& out, QTextStream& err) {
    for (const char* name : {"mac", "ip", "mask", "gateway"}) {
        if (!parser.isSet(QString::fromLatin1(name)))
            return usage(err, QStringLiteral("--%1 is missing").arg(QLatin1String(name)));
    }
    QString why;
    auto request =
        SetupRequest::from(parser.value(QStringLiteral("mac")), parser.value(QStringLiteral("ip")),
                           parser.value(QStringLiteral("mask")), parser.value(QStringLiteral("gateway")),
                           parser.isSet(QStringLiteral("sign-test")), &why);
    if (!request)
        return usage(err, why);
    request->tickMs = tickMs;
    CliRun run(*request, out);
    // Ctrl-C, SIGTERM and SIGHUP end the run as closing the window does.
    const InterruptSignals interrupts([&run] { run.interrupt(); });
    return run.run();
}

int batchCommand(const QCommandLineParser& parser, const QString& path, int tickMs, QTextStream& out,
                 QTextStream& err) {
    bool ok = false;
    const int jobs = parser.value(QStringLiteral("jobs")).toInt(&ok);
    if (!ok || jobs < 1 || jobs > kMaxJobs)
        return usage(err, QStringLiteral("--jobs %1: a number from 1 to %2")
                              .arg(parser.value(QStringLiteral("jobs")))
                              .arg(kMaxJobs));
    const QString report = parser.value(QStringLiteral("report"));
    if (!report.isEmpty() && !QFileInfo(QFileInfo(report).absolutePath()).isWritable())
        return usage(err, QStringLiteral("--report %1: its folder cannot be written").arg(report));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return usage(err, QStringLiteral("%1: %2").arg(path, file.errorString()));
    const BatchFile batch = BatchFile::parse(file.readAll());
    if (!batch.problems.isEmpty()) {
        for (const QString& problem : batch.problems)
            err << "netrika-cli: " << path << ": " << problem << Qt::endl;
        err << "netrika-cli: nothing was sent" << Qt::endl;
        return CliRun::BadValues;
    }

    BatchRun::Options options;
    options.jobs = jobs;
    options.program = QCoreApplication::applicationFilePath();
    if (tickMs > 0)
        options.extraArguments << QStringLiteral("--tick-ms") << QString::number(tickMs);
    options.terminal = ::isatty(STDOUT_FILENO) == 1;
    BatchRun run(batch.rows, options, out, err);
    // The same for every running row, whether the signal reached the rows too
    // (Ctrl-C to the terminal's process group) or the batch alone.
    const InterruptSignals interrupts([&run] { run.interrupt(); });
    int status = run.run();
    if (!report.isEmpty()) {
        QSaveFile csv(report);
        if (!csv.open(QIODevice::WriteOnly | QIODevice::Text) || csv.write(run.csv().toUtf8()) < 0 ||
            !csv.commit()) {
            err << "netrika-cli: --report " << report << ": " << csv.errorString() << Qt::endl;
            if (status == CliRun::Succeeded)
                status = CliRun::Failed;
        }
    }
    return status;
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
                       "  netrika-cli setup --mac M --ip A --mask A --gateway A [--sign-test]\n"
                       "  netrika-cli batch FILE.csv [--jobs N] [--report OUT.csv]"));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("setup: one whole setup run; batch FILE.csv: one run for "
                                                "each row of the file (mac,ip,mask,gateway[,sign_test])."));
    parser.addOption(
        {QStringLiteral("mac"), QStringLiteral("setup: the adaptor's MAC address."), QStringLiteral("mac")});
    parser.addOption({QStringLiteral("ip"), QStringLiteral("setup: the IP address to assign."),
                      QStringLiteral("address")});
    parser.addOption(
        {QStringLiteral("mask"), QStringLiteral("setup: the subnet mask."), QStringLiteral("address")});
    parser.addOption({QStringLiteral("gateway"), QStringLiteral("setup: the default gateway."),
                      QStringLiteral("address")});
    parser.addOption({QStringLiteral("sign-test"),
                      QStringLiteral("setup: answer Yes to the \"Test IP Address\" question: put the test "
                                     "message on the sign.")});
    parser.addOption({QStringLiteral("jobs"), QStringLiteral("batch: rows run at once (default 16)."),
                      QStringLiteral("n"), QString::number(kDefaultJobs)});
    parser.addOption({QStringLiteral("report"), QStringLiteral("batch: write the final table as CSV."),
                      QStringLiteral("file")});
    // The sequencer's tick, for tests against a simulated adaptor only.
    QCommandLineOption tick(QStringLiteral("tick-ms"), QStringLiteral("Tick in ms."), QStringLiteral("ms"));
    tick.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(tick);
    if (!parser.parse(QCoreApplication::arguments()))
        return usage(err, parser.errorText());
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();

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
    if (positional == QStringList{QStringLiteral("setup")} && !given({"jobs", "report"}))
        return setupCommand(parser, tickMs, out, err);
    if (positional.size() == 2 && positional[0] == QLatin1String("batch") &&
        !given({"mac", "ip", "mask", "gateway", "sign-test"}))
        return batchCommand(parser, positional[1], tickMs, out, err);
    return usage(err, QStringLiteral("the commands are setup --mac ... and batch FILE.csv; see --help"));
}
