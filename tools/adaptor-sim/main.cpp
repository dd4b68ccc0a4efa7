// netrika-adaptor-sim: plays one sign adaptor on one Linux interface, for
// tests and demos. Run it inside a network namespace of its own (see
// tools/netns-run.sh); it changes the interface's MAC and addresses.

#include "Adaptor.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>

#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int fail(const QString& message) {
    std::fprintf(stderr, "netrika-adaptor-sim: %s\n", qPrintable(message));
    return 1;
}

int rebootPipe[2] = {-1, -1};
void rebootSignal(int) {
    const char byte = 1;
    (void)!::write(rebootPipe[1], &byte, 1);
}
} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("netrika-adaptor-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Plays one message-sign adaptor on one interface: address assignment, setup dialogue, sign."));
    parser.addHelpOption();
    const QCommandLineOption interfaceOption(QStringLiteral("interface"),
                                             QStringLiteral("Interface to play on."), QStringLiteral("name"));
    const QCommandLineOption macOption(
        QStringLiteral("mac"), QStringLiteral("The adaptor's MAC (aa-bb-cc-dd-ee-ff); set on the interface."),
        QStringLiteral("mac"));
    const QCommandLineOption familyOption(QStringLiteral("family"),
                                          QStringLiteral("1 or 2; default from the MAC prefix "
                                                         "(00-20-4a: 1, 00-80-a3: 2)."),
                                          QStringLiteral("n"));
    const QCommandLineOption passwordOption(QStringLiteral("password"),
                                            QStringLiteral("Privileged password of family 2."),
                                            QStringLiteral("text"), QStringLiteral("tundra"));
    const QCommandLineOption recordOption(QStringLiteral("record"),
                                          QStringLiteral("Directory for transcripts and summary.json."),
                                          QStringLiteral("dir"));
    const QCommandLineOption misbehaveOption(
        QStringLiteral("misbehave"),
        QStringLiteral("silent, slow, no-prompt:<text>, close-mid, flood:<MB>, refuse:<port>, wrong-password "
                       "(repeatable)."),
        QStringLiteral("mode"));
    const QCommandLineOption prefixOption(QStringLiteral("prefix-len"),
                                          QStringLiteral("Prefix length of the adopted address."),
                                          QStringLiteral("n"), QStringLiteral("24"));
    const QCommandLineOption addressOption(
        QStringLiteral("address"),
        QStringLiteral("An address it already holds, A.B.C.D/LEN; SIGUSR1 reboots it onto the address "
                       "its configuration holds."),
        QStringLiteral("cidr"));
    parser.addOptions({interfaceOption, macOption, familyOption, passwordOption, recordOption,
                       misbehaveOption, prefixOption, addressOption});
    parser.process(app);

    Adaptor::Options options;
    options.interfaceName = parser.value(interfaceOption);
    if (options.interfaceName.isEmpty())
        return fail(QStringLiteral("--interface is needed"));

    static const QRegularExpression macForm(QStringLiteral("^[0-9a-fA-F]{2}([-:][0-9a-fA-F]{2}){5}$"));
    const QString mac = parser.value(macOption);
    if (!macForm.match(mac).hasMatch())
        return fail(QStringLiteral("--mac must look like 00-20-4a-1b-2c-3d"));
    options.mac = QByteArray::fromHex(mac.toLatin1());

    const QByteArray prefix = options.mac.left(3).toHex();
    const int fromPrefix = prefix == "00204a" ? 1 : prefix == "0080a3" ? 2 : 0;
    options.family = parser.isSet(familyOption) ? parser.value(familyOption).toInt() : fromPrefix;
    if (options.family != 1 && options.family != 2)
        return fail(QStringLiteral("--family must be 1 or 2 (the MAC prefix does not tell)"));

    options.password = parser.value(passwordOption);
    options.recordDirectory = parser.value(recordOption);
    bool ok = false;
    options.prefixLength = parser.value(prefixOption).toInt(&ok);
    if (!ok || options.prefixLength < 1 || options.prefixLength > 32)
        return fail(QStringLiteral("--prefix-len must be 1 to 32"));

    if (parser.isSet(addressOption)) {
        // parseSubnet gives the network; the adaptor's own address is the text before the slash.
        const QString text = parser.value(addressOption);
        const int length = QHostAddress::parseSubnet(text).second;
        const QHostAddress address(text.section(QLatin1Char('/'), 0, 0));
        if (address.protocol() != QAbstractSocket::IPv4Protocol || length < 1 || length > 30 ||
            !text.contains(QLatin1Char('/')))
            return fail(QStringLiteral("--address must look like 10.1.2.3/24"));
        options.address = address;
        options.prefixLength = length;
    }

    Misbehaviour misbehaviour;
    QString error;
    if (!misbehaviour.parse(parser.values(misbehaveOption), &error))
        return fail(error);

    Adaptor adaptor(options, misbehaviour);
    if (!adaptor.start(&error))
        return fail(error);
    // A power cycle, on SIGUSR1.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, rebootPipe) != 0)
        return fail(QStringLiteral("no socket pair"));
    QSocketNotifier reboots(rebootPipe[0], QSocketNotifier::Read);
    QObject::connect(&reboots, &QSocketNotifier::activated, &adaptor, [&] {
        char byte = 0;
        (void)!::read(rebootPipe[0], &byte, 1);
        adaptor.reboot();
    });
    std::signal(SIGUSR1, rebootSignal);
    std::fputs("ready\n", stdout);
    std::fflush(stdout);
    return app.exec();
}
