#include "cli/CliRun.h"
#include "setup/AppInfo.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char byte = 1;
    (void)!::write(signalPipe[1], &byte, 1);
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
                       "  netrika-cli setup --mac M --ip A --mask A --gateway A [--sign-test]"));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("setup: one whole setup run"));
    parser.addOption(
        {QStringLiteral("mac"), QStringLiteral("The adaptor's MAC address."), QStringLiteral("mac")});
    parser.addOption(
        {QStringLiteral("ip"), QStringLiteral("The IP address to assign."), QStringLiteral("address")});
    parser.addOption({QStringLiteral("mask"), QStringLiteral("The subnet mask."), QStringLiteral("address")});
    parser.addOption(
        {QStringLiteral("gateway"), QStringLiteral("The default gateway."), QStringLiteral("address")});
    parser.addOption(
        {QStringLiteral("sign-test"),
         QStringLiteral(
             "Answer Yes to the \"Test IP Address\" question: put the test message on the sign.")});
    if (!parser.parse(QCoreApplication::arguments())) {
        err << "netrika-cli: " << parser.errorText() << Qt::endl;
        return CliRun::BadValues;
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    if (parser.positionalArguments() != QStringList{QStringLiteral("setup")}) {
        err << "netrika-cli: the command is setup; see --help" << Qt::endl;
        return CliRun::BadValues;
    }
    for (const char* name : {"mac", "ip", "mask", "gateway"}) {
        if (!parser.isSet(QString::fromLatin1(name))) {
            err << "netrika-cli: --" << name << " is missing" << Qt::endl;
            return CliRun::BadValues;
        }
    }
    QString why;
    const auto request =
        SetupRequest::from(parser.value(QStringLiteral("mac")), parser.value(QStringLiteral("ip")),
                           parser.value(QStringLiteral("mask")), parser.value(QStringLiteral("gateway")),
                           parser.isSet(QStringLiteral("sign-test")), &why);
    if (!request) {
        err << "netrika-cli: " << why << Qt::endl;
        return CliRun::BadValues;
    }

    CliRun run(*request, out);
    // Ctrl-C and SIGTERM act as closing the window does.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) == 0) {
        std::signal(SIGINT, onSignal);
        std::signal(SIGTERM, onSignal);
    }
    QSocketNotifier notifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &notifier, [&] {
        char byte = 0;
        (void)!::read(signalPipe[0], &byte, 1);
        run.interrupt();
    });
    return run.run();
}
