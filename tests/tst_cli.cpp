#include "FinishProcess.h"
#include "NetnsHarness.h"
#include "SimulatorProcess.h"
#include "TranscriptReading.h"
#include "cli/CliRun.h"
#include "setup/Sequencer.h"
#include "signtest/SignMessages.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>

namespace {
const QString kFamily1Mac = QStringLiteral("00:20:4a:1b:2c:3d");
const QString kFamily2Mac = QStringLiteral("0080a36163dd");

// A network helper that answers as the real one does for an adaptor that is
// silent until its neighbour entry is made, and sends nothing.
const char kFakeHelper[] = R"(#!/bin/sh
echo "netrika-net-helper 1 can echo arp neigh"
bound=0
while read -r verb rest; do
    case "$verb" in
    echo) if [ "$bound" = 1 ]; then echo "ok answered 1 4563686f2054686973"; else echo "ok silent"; fi ;;
    arp-probe) echo "ok silent" ;;
    neigh-add) bound=1; echo "ok added fake0" ;;
    neigh-del) echo "ok removed" ;;
    *) echo "refused $verb" ;;
    esac
done
)";

// A command-line adaptor played by the test itself: each prompt comes a set
// time after the line before it, and none after the line it falls silent at.
class LateAdaptor {
public:
    LateAdaptor(int delayMs, int silentAfter)
        : m_delayMs(delayMs)
        , m_silentAfter(silentAfter) {
        QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] {
            m_socket = m_server.nextPendingConnection();
            QObject::connect(m_socket, &QTcpSocket::readyRead, m_socket, [this] { onBytes(); });
            promptLater(0);
        });
    }
    bool listen(const QString& address) { return m_server.listen(QHostAddress(address), 23); }
    QByteArray received;

private:
    void promptLater(int index) {
        QTimer::singleShot(m_delayMs, m_socket, [this, index] { m_socket->write(kPrompts[index]); });
    }
    void onBytes() {
        received += m_socket->readAll();
        while (m_lines < received.count('\n')) {
            ++m_lines;
            if (m_lines == m_silentAfter)
                continue;
            if (m_lines < int(std::size(kPrompts)))
                promptLater(m_lines);
            else
                m_socket->disconnectFromHost(); // after "Logout"
        }
    }
    static constexpr const char* kPrompts[] = {"Username> ", "Local_2> ",  "Password> ", "Local_2>> ",
                                               "Local_2>> ", "Local_2>> ", "Local_2>> ", "Local_2>> ",
                                               "Local_2>> ", "Local_2>> ", "Local_2>> "};
    QTcpServer m_server;
    QTcpSocket* m_socket = nullptr;
    int m_delayMs = 0;
    int m_silentAfter = 0;
    int m_lines = 0;
};

// The simulator's spelling of a MAC given with colons or no separator: 00-80-a3-61-63-dd.
QString dashed(const QString& mac) {
    const QString digits = QString(mac).remove(QLatin1Char(':'));
    QStringList pairs;
    for (int i = 0; i < 12; i += 2)
        pairs << digits.mid(i, 2);
    return pairs.join(QLatin1Char('-'));
}

} // namespace

// The command line runs the window's own logic: the same checks, the same
// bytes, the same clean-up, with every status text printed.
class TestCli : public QObject {
    Q_OBJECT
private slots:
    // Catches a MAC or address split into other field texts than the
    // window's, or a text that cannot be split let through.
    void requestFromText_data() {
        QTest::addColumn<QString>("mac");
        QTest::addColumn<QString>("ip");
        QTest::addColumn<QString>("fields"); // the MAC's six texts and the IP's four, or "" for refused
        QTest::newRow("ok_dashes") << "00-80-a3-61-63-dd"
                                   << "10.1.2.3"
                                   << "00 80 a3 61 63 dd 10 1 2 3";
        QTest::newRow("ok_colons_upper") << "00:80:A3:61:63:DD"
                                         << "10.1.2.3"
                                         << "00 80 A3 61 63 DD 10 1 2 3";
        // An octet reads as the window's field writes it once typed: decimal.
        QTest::newRow("ok_bare_leading_zeros") << "0080a36163dd"
                                               << "010.001.2.254"
                                               << "00 80 a3 61 63 dd 10 1 2 254";
        // What the window's fields would never let a user type.
        QTest::newRow("error_octet_255") << "0080a36163dd"
                                         << "10.1.2.255"
                                         << "";
        QTest::newRow("error_sign") << "0080a36163dd"
                                    << "+10.1.2.16"
                                    << "";
        QTest::newRow("error_negative") << "0080a36163dd"
                                        << "-1.-1.-1.-1"
                                        << "";
        QTest::newRow("error_four_digits") << "0080a36163dd"
                                           << "10.1.2.0003"
                                           << "";
        QTest::newRow("error_empty_octet") << "0080a36163dd"
                                           << "10..2.3"
                                           << "";
        QTest::newRow("error_blank_in_octet") << "0080a36163dd"
                                              << "10.1.2. 3"
                                              << "";
        QTest::newRow("error_mixed_separators") << "00-80:a3-61-63-dd"
                                                << "10.1.2.3"
                                                << "";
        QTest::newRow("error_five_pairs") << "00-80-a3-61-63"
                                          << "10.1.2.3"
                                          << "";
        QTest::newRow("error_not_hex") << "00-80-a3-61-63-dg"
                                       << "10.1.2.3"
                                       << "";
        QTest::newRow("error_three_octets") << "0080a36163dd"
                                            << "10.1.2"
                                            << "";
        QTest::newRow("error_five_octets") << "0080a36163dd"
                                           << "10.1.2.3.4"
                                           << "";
    }
    void requestFromText() {
        QFETCH(QString, mac);
        QFETCH(QString, ip);
        QFETCH(QString, fields);
        QString why;
        QString field;
        const auto r = SetupRequest::from(mac, ip, "255.255.255.0", "0.0.0.0", false, &why, &field);
        QCOMPARE(r.has_value(), !fields.isEmpty());
        if (!r) {
            // Names the option and the value as given.
            const QString option = why.startsWith(QLatin1String("--mac")) ? "mac" : "ip";
            QCOMPARE(field, option);
            QVERIFY2(why.startsWith("--" + option + " " + (option == "mac" ? mac : ip) + ": "),
                     qPrintable(why));
            return;
        }
        QStringList got(r->mac.begin(), r->mac.end());
        got += QStringList(r->ip.begin(), r->ip.end());
        QCOMPARE(got.join(' '), fields);
    }

    // Catches a command-line run that differs from the window's on the wire,
    // leaves an entry on the host, reports success wrongly, sends anything
    // for bad values, or ignores an interrupt in the middle of its dialogue.
    void setupRun_data() {
        QTest::addColumn<QString>("mac");
        QTest::addColumn<QString>("ip");
        QTest::addColumn<bool>("interrupt"); // in the middle of the dialogue
        QTest::addColumn<QString>("misbehave");
        QTest::addColumn<int>("exitStatus");
        const QString ip = QStringLiteral("10.77.88.50");
        QTest::newRow("ok_command_line_route") << kFamily2Mac << ip << false << "" << int(CliRun::Succeeded);
        QTest::newRow("ok_setup_menu_route") << kFamily1Mac << ip << false << "" << int(CliRun::Succeeded);
        QTest::newRow("error_bad_ip_sends_nothing")
            << kFamily2Mac << "10.77.88.300" << false << "" << int(CliRun::BadValues);
        QTest::newRow("error_interrupted_in_dialogue")
            << kFamily2Mac << ip << true << "" << int(CliRun::Interrupted);
        // The window shows the same error on every tick and waits for its user.
        QTest::newRow("error_menu_never_comes")
            << kFamily1Mac << ip << false << "no-prompt:Your choice" << int(CliRun::Failed);
    }
    void setupRun() {
        QFETCH(QString, mac);
        QFETCH(QString, ip);
        QFETCH(bool, interrupt);
        QFETCH(QString, misbehave);
        QFETCH(int, exitStatus);
        NetnsHarness h(88);
        NETNS_REQUIRE(h);
        h.ipIn(h.deviceNs(), {"addr", "flush", "dev", h.deviceInterface()});
        SimulatorProcess sim(h, dashed(mac), misbehave.isEmpty() ? QStringList() : QStringList{misbehave});
        QVERIFY2(sim.ready(), "the simulator did not start");
        QVERIFY2(h.enterHost(), qPrintable(h.error()));
        const QString gateway = QStringLiteral("10.77.88.254");
        const auto request = SetupRequest::from(mac, ip, "255.255.255.0", gateway, true, nullptr);
        if (!request) {
            // Refused before any run, as the window's field would not take it.
            QCOMPARE(exitStatus, int(CliRun::BadValues));
            QTest::qWait(1000); // a datagram or connection would have been recorded by now
            QCOMPARE(sim.summary().value("connections").toArray().size(), 0);
            QCOMPARE(sim.summary().value("datagrams").toArray().size(), 0);
            return;
        }
        QString printed;
        QTextStream out(&printed);
        int status = -1;
        {
            CliRun run(*request, out, QStringLiteral(NETRIKA_HELPER));
            run.controller().ports.tickTimer->setInterval(150);
            // Ctrl-C once the adaptor has taken the password.
            QTimer watch;
            QObject::connect(&watch, &QTimer::timeout, [&] {
                const RunState& m = run.controller().run;
                if (run.controller().progress().stage() == RunStage::CommandLine && m.dialogueStep >= 3) {
                    watch.stop();
                    run.interrupt();
                }
            });
            if (interrupt)
                watch.start(20);
            status = run.run();
        }
        QCOMPARE(status, exitStatus);
        const QStringList lines = printed.split('\n', Qt::SkipEmptyParts);
        QVERIFY2(!lines.isEmpty() && lines.first().endsWith(QStringLiteral("  Setup is in process ...")),
                 qPrintable(printed));
        QCOMPARE(h.ipIn(h.hostNs(), {"-4", "neigh", "show", "nud", "permanent"}), QByteArray(""));
        if (exitStatus == CliRun::BadValues) {
            QTest::qWait(1000); // a datagram or connection would have been recorded by now
            QCOMPARE(sim.summary().value("connections").toArray().size(), 0);
            QCOMPARE(sim.summary().value("datagrams").toArray().size(), 0);
            return;
        }
        if (exitStatus == CliRun::Failed) {
            QVERIFY2(lines.last().endsWith(QStringLiteral("  9 - Subscript out of range (Timer, 3 2)")),
                     qPrintable(printed));
            // As the window closing; sent as the run ends, so recorded a moment later.
            QTRY_COMPARE(sim.received(9999), QByteArray("\r\nlogout\n"));
            return;
        }
        if (exitStatus == CliRun::Interrupted) {
            QTRY_VERIFY(sim.received(23).endsWith("logout\n"));
            return;
        }
        QVERIFY2(
            !lines.filter(QRegularExpression(QRegularExpression::escape(Sequencer::kSetupSucceeded) + "$"))
                 .isEmpty(),
            qPrintable(printed));
        QTRY_COMPARE(sim.summary().value("signText").toString(), QStringLiteral("IP Test Successful"));
        QCOMPARE(sim.received(3001), (SignMessages::first() + SignMessages::second()).toLatin1());
        // The dialogue's last line and the sign travel on two connections: the
        // adaptor may record the sign first.
        if (mac == kFamily2Mac)
            QTRY_COMPARE(sim.received(23), SimulatorProcess::commandLineBytes(ip, gateway));
        else
            QTRY_COMPARE(sim.received(9999), SimulatorProcess::setupMenuBytes(gateway));
        QCOMPARE(sim.config().value("ip").toString(), ip);
    }

    void checkBeforeSetup_data() {
        QTest::addColumn<QString>("mac");
        QTest::addColumn<QString>(
            "at"); // the simulated adaptor's own address, "" for none, "none" for no adaptor
        QTest::addColumn<QString>("ip"); // "device": the device namespace's own address
        QTest::addColumn<int>("exitStatus");
        QTest::addColumn<QString>("state");
        QTest::newRow("ok_free_address") << kFamily2Mac << ""
                                         << "10.77.88.50" << 0 << "to-assign";
        QTest::newRow("ok_adaptor_in_place") << kFamily1Mac << "10.77.88.50/24"
                                             << "10.77.88.50" << 0 << "in-place";
        // No simulator: the device's own interface, another MAC, holds the address.
        QTest::newRow("error_address_taken") << kFamily2Mac << "none"
                                             << "device" << 1 << "taken";
        QTest::newRow("error_off_segment") << kFamily2Mac << ""
                                           << "10.78.88.50" << 2 << "refused";
    }
    // Catches a check that sends anything but ARP, takes another device's
    // address for free or the adaptor's own for taken, or gives a script a
    // state or exit status that disagrees with what answers at the address.
    void checkBeforeSetup() {
        QFETCH(QString, mac);
        QFETCH(QString, at);
        QFETCH(QString, ip);
        QFETCH(int, exitStatus);
        QFETCH(QString, state);
        NetnsHarness h(88);
        NETNS_REQUIRE(h);
        std::unique_ptr<SimulatorProcess> sim;
        if (at != QLatin1String("none")) {
            sim = std::make_unique<SimulatorProcess>(
                h.deviceNs(), h.deviceInterface(), dashed(mac), QStringList(), SimulatorProcess::TestsGroup,
                at.isEmpty() ? QStringList() : QStringList{"--address", at});
            QVERIFY2(sim->ready(), "the simulator did not start");
        }
        QVERIFY2(h.enterHost(), qPrintable(h.error()));
        if (ip == QLatin1String("device"))
            ip = h.deviceAddress();
        for (const QString& dryRun : {QStringLiteral("--check"), QStringLiteral("--dry-run")}) {
            QProcess cli;
            cli.start(QStringLiteral(NETRIKA_CLI),
                      {"setup", dryRun, "--json", "--mac", mac, "--ip", ip, "--mask", "255.255.255.0",
                       "--gateway", ip.section('.', 0, 2) + ".254"});
            QString out, err;
            QCOMPARE(finishProcess(cli, 20000, out, err), exitStatus);
            const QJsonObject e = QJsonDocument::fromJson(out.toUtf8()).object();
            QVERIFY2(e.value("event") == "check" && e.value("state") == state, qPrintable(out + err));
            QCOMPARE(e.value("exit").toInt(), exitStatus);
        }
        QCOMPARE(h.ipIn(h.hostNs(), {"-4", "neigh", "show", "nud", "permanent"}), QByteArray(""));
        if (!sim)
            return;
        QTest::qWait(500); // a datagram or connection would have been recorded by now
        QCOMPARE(sim->summary().value("connections").toArray().size(), 0);
        QCOMPARE(sim->summary().value("datagrams").toArray().size(), 0);
    }

    // Catches a line for people that means nothing to them: the datagram's
    // route makes no neighbour entry, so its failed run has none to remove,
    // and the helper is not asked to (it would refuse, on standard error).
    void silentAdaptorFailsWithoutNoise() {
        NetnsHarness h(88);
        NETNS_REQUIRE(h);
        h.ipIn(h.deviceNs(), {"addr", "flush", "dev", h.deviceInterface()});
        SimulatorProcess sim(h, dashed(kFamily1Mac), {"silent"});
        QVERIFY2(sim.ready(), "the simulator did not start");
        QVERIFY2(h.enterHost(), qPrintable(h.error()));
        QProcess cli;
        cli.start(QStringLiteral(NETRIKA_CLI), {"setup", "--mac", kFamily1Mac, "--ip", "10.77.88.50", "--mask",
                                                "255.255.255.0", "--gateway", "10.77.88.254", "--tick-ms", "150"});
        QString out, err;
        QCOMPARE(finishProcess(cli, 60000, out, err), 1);
        QVERIFY2(out.contains(Sequencer::kSetupFailed), qPrintable(out));
        QVERIFY2(!err.contains("neigh-del") && !err.contains("refused"), qPrintable(err));
    }

    // Catches an adaptor in place taken for another device, one reached at
    // an address it no longer has, --in-place apply that does not give the
    // values again, or --in-place that keeps a run from an adaptor not yet
    // in place.
    void inPlaceOption_data() {
        QTest::addColumn<QString>("at"); // where the adaptor answers; empty: nowhere yet
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<int>("connections");
        QTest::newRow("ok_leave") << "10.77.88.50" << QStringList{"--in-place", "leave"} << "in-place" << 0;
        QTest::newRow("ok_leave_whatever_the_current_ip_says")
            << "10.77.88.50" << QStringList{"--in-place", "leave", "--current-ip", "10.77.88.40"} << "in-place"
            << 0;
        QTest::newRow("ok_apply_reached_where_it_answers")
            << "10.77.88.50" << QStringList{"--in-place", "apply", "--current-ip", "10.77.88.40"} << "assigned"
            << 1;
        QTest::newRow("ok_leave_runs_when_not_in_place")
            << "" << QStringList{"--in-place", "leave"} << "assigned" << 1;
        QTest::newRow("ok_apply_from_the_current_ip")
            << "10.77.88.40" << QStringList{"--in-place", "apply", "--current-ip", "10.77.88.40"} << "assigned"
            << 1;
    }
    void inPlaceOption() {
        QFETCH(QString, at);
        QFETCH(QStringList, options);
        QFETCH(QString, reason);
        QFETCH(int, connections);
        NetnsHarness h(88);
        NETNS_REQUIRE(h);
        h.ipIn(h.deviceNs(), {"addr", "flush", "dev", h.deviceInterface()});
        SimulatorProcess sim(h.deviceNs(), h.deviceInterface(), dashed(kFamily2Mac), {},
                             SimulatorProcess::TestsGroup,
                             at.isEmpty() ? QStringList() : QStringList{"--address", at + "/24"});
        QVERIFY2(sim.ready(), "the simulator did not start");
        QVERIFY2(h.enterHost(), qPrintable(h.error()));
        QProcess cli;
        cli.start(QStringLiteral(NETRIKA_CLI),
                  QStringList{"setup", "--json", "--mac", kFamily2Mac, "--ip", "10.77.88.50", "--mask",
                              "255.255.255.0", "--gateway", "10.77.88.254", "--tick-ms", "150"} +
                      options);
        QString out, err;
        QCOMPARE(finishProcess(cli, 60000, out, err), 0);
        QVERIFY2(out.contains(QStringLiteral("\"reason\":\"%1\"").arg(reason)), qPrintable(out + err));
        QTest::qWait(300); // a connection would have been recorded by now
        QCOMPARE(sim.summary().value("connections").toArray().size(), connections);
        if (connections > 0)
            QCOMPARE(sim.config().value("ip").toString(), "10.77.88.50");
        QCOMPARE(h.ipIn(h.hostNs(), {"-4", "neigh", "show", "nud", "permanent"}), QByteArray(""));
    }

    // Catches a mask other than /8, /16 or /24 told to the adaptor as 8 host
    // bits (a /26 made a /24, reported as success): the real program, both
    // ends on the wire, the adaptor's own record of what it took.
    void narrowMaskEndToEnd() {
        NetnsHarness h(88);
        NETNS_REQUIRE(h);
        h.ipIn(h.deviceNs(), {"addr", "flush", "dev", h.deviceInterface()});
        SimulatorProcess sim(h, dashed(kFamily1Mac), {});
        QVERIFY2(sim.ready(), "the simulator did not start");
        QVERIFY2(h.enterHost(), qPrintable(h.error()));
        QProcess cli;
        cli.start(QStringLiteral(NETRIKA_CLI),
                  {"setup", "--mac", kFamily1Mac, "--ip", "10.77.88.50", "--mask", "255.255.255.192",
                   "--gateway", "10.77.88.62", "--tick-ms", "150"});
        QString out, err;
        QCOMPARE(finishProcess(cli, 60000, out, err), 0);
        QByteArray menu = SimulatorProcess::setupMenuBytes("10.77.88.62");
        menu.replace("\r\n8\r\n", "\r\n6\r\n");
        QTRY_COMPARE(sim.received(9999), menu);
        QCOMPARE(sim.config().value("hostBits").toInt(), 6);
    }

    void transcriptsAreTheWire_data() {
        QTest::addColumn<QString>("mac");
        QTest::newRow("command_line") << kFamily2Mac;
        QTest::newRow("setup_menu") << kFamily1Mac;
    }
    // Catches a -v or --log transcript that is not what went over the wire:
    // a piece left out, bytes changed by the escaping, a chunk put on the
    // wrong port or the wrong way.
    void transcriptsAreTheWire() {
        QFETCH(QString, mac);
        NetnsHarness h(88);
        NETNS_REQUIRE(h);
        h.ipIn(h.deviceNs(), {"addr", "flush", "dev", h.deviceInterface()});
        SimulatorProcess sim(h, dashed(mac), {});
        QVERIFY2(sim.ready(), "the simulator did not start");
        QVERIFY2(h.enterHost(), qPrintable(h.error()));
        const auto request =
            SetupRequest::from(mac, "10.77.88.50", "255.255.255.0", "10.77.88.254", true, nullptr);
        QVERIFY(request);
        QTemporaryDir dir;
        const QString logPath = dir.filePath(QStringLiteral("run.log"));
        QString printed;
        QTextStream out(&printed);
        {
            CliRun run(*request, out, QStringLiteral(NETRIKA_HELPER));
            run.setVerbose(true);
            QVERIFY(run.setLog(logPath, nullptr));
            run.controller().ports.tickTimer->setInterval(150);
            QCOMPARE(run.run(), int(CliRun::Succeeded));
        }
        QTRY_COMPARE(sim.summary().value("signText").toString(), QStringLiteral("IP Test Successful"));
        QFile log(logPath);
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QString logged = QString::fromUtf8(log.readAll());
        QVERIFY2(logged.contains(QStringLiteral("stage: the adaptor's dialogue")), qPrintable(logged));
        QVERIFY2(printed.contains(QStringLiteral("stage: the sign test")), qPrintable(printed));
        const auto verbose = carried(printed, QRegularExpression(QStringLiteral(
                                                  "^ *\\d+\\.\\d  (?<dir>[<>]) (?<port>\\d+) (?<text>.*)$")));
        const auto file = carried(logged, QRegularExpression(QStringLiteral(
                                              "^ *\\d+\\.\\d{3} +(?<port>\\d+) (?<dir>[<>]) (?<text>.*)$")));
        std::map<QString, QByteArray> wire;
        const int dialoguePort = mac == kFamily2Mac ? 23 : 9999;
        for (const int port : {dialoguePort, 3001}) {
            wire[QStringLiteral("> %1").arg(port)] = sim.received(port);
            if (!sim.sent(port).isEmpty())
                wire[QStringLiteral("< %1").arg(port)] = sim.sent(port);
        }
        for (const QJsonValue& d : sim.summary().value("datagrams").toArray())
            wire[QStringLiteral("> 30718")] +=
                QByteArray::fromHex(d.toObject().value("hex").toString().toLatin1());
        QVERIFY(wire[QStringLiteral("< %1").arg(dialoguePort)].size() > 100);
        for (const auto& [key, bytes] : wire) {
            QCOMPARE(file.count(key), std::size_t(1));
            QCOMPARE(file.at(key), bytes);
            QCOMPARE(verbose.count(key), std::size_t(1));
            QCOMPARE(verbose.at(key), bytes);
        }
        QCOMPARE(file.size(), wire.size());
    }

    // Catches --json output a script cannot follow: a line that is not one
    // JSON object, events out of order, a box without the answer given, a
    // result that disagrees with the exit status, or text mixed into it.
    void jsonEvents() {
        NetnsHarness h(88);
        NETNS_REQUIRE(h);
        h.ipIn(h.deviceNs(), {"addr", "flush", "dev", h.deviceInterface()});
        SimulatorProcess sim(h, QStringLiteral("00-80-a3-61-63-dd"), {});
        QVERIFY2(sim.ready(), "the simulator did not start");
        QVERIFY2(h.enterHost(), qPrintable(h.error()));
        const auto request =
            SetupRequest::from(kFamily2Mac, "10.77.88.50", "255.255.255.0", "10.77.88.254", true, nullptr);
        QVERIFY(request);
        QString printed, text;
        QTextStream out(&printed), err(&text);
        int status = -1;
        {
            CliRun run(*request, out, QStringLiteral(NETRIKA_HELPER));
            run.setOutput(CliRun::Output::Json, err);
            run.controller().ports.tickTimer->setInterval(150);
            status = run.run();
        }
        QCOMPARE(status, int(CliRun::Succeeded));
        QStringList events;
        QStringList answers;
        QJsonObject last;
        for (const QString& line : printed.split('\n', Qt::SkipEmptyParts)) {
            const QJsonObject e = QJsonDocument::fromJson(line.toUtf8()).object();
            QVERIFY2(!e.isEmpty() && e.contains("time"), qPrintable(line));
            events << e.value("event").toString();
            if (events.last() == QLatin1String("box"))
                answers << e.value("answer").toString();
            last = e;
        }
        QCOMPARE(events.first(), "started");
        QCOMPARE(events.mid(1, 1), QStringList{"status"});
        QCOMPARE(events.last(), "finished");
        QCOMPARE(events.count("finished"), 1);
        // The test question is answered Yes, as --sign-test asks.
        QVERIFY2(answers.contains("Yes"), qPrintable(answers.join(',')));
        QCOMPARE(last.value("result").toString(), "succeeded");
        QCOMPARE(last.value("exit").toInt(), 0);
        QVERIFY2(text.contains("Setup is in process ..."), qPrintable(text));
    }

    // Catches a count of ticks without change that goes on from one prompt to
    // the next, so that a run whose every prompt comes late, but each in time,
    // ends as if the adaptor had stopped answering.
    void latePromptsEachInTime_data() {
        QTest::addColumn<int>("silentAfter"); // the line after which no prompt comes; 0: none
        QTest::addColumn<int>("exitStatus");
        QTest::addColumn<QString>("shown"); // a status the run prints
        QTest::newRow("ok_every_prompt_late") << 0 << int(CliRun::Succeeded) << Sequencer::kSetupSucceeded;
        QTest::newRow("error_silent_after_password")
            << 3 << int(CliRun::Failed)
            << RunTimeError(RunTimeError::NoAnswer).report(QStringLiteral(" (Timer, 1 3)"));
    }
    void latePromptsEachInTime() {
        QFETCH(int, silentAfter);
        QFETCH(int, exitStatus);
        QFETCH(QString, shown);
        // Each prompt comes six ticks after the line before it: well under the
        // ten that end a run, whatever the load, as both clocks run in this thread.
        constexpr int kTickMs = 100;
        constexpr int kPromptDelayMs = 6 * kTickMs;
        NetnsHarness h(87);
        NETNS_REQUIRE(h);
        QTemporaryDir dir;
        QFile helper(dir.filePath(QStringLiteral("fake-helper")));
        QVERIFY(helper.open(QIODevice::WriteOnly) && helper.write(kFakeHelper) > 0);
        helper.close();
        QVERIFY(helper.setPermissions(QFile::ReadOwner | QFile::ExeOwner));
        QVERIFY2(h.enterDevice(), qPrintable(h.error()));
        LateAdaptor adaptor(kPromptDelayMs, silentAfter);
        QVERIFY(adaptor.listen(h.deviceAddress()));
        QVERIFY2(h.enterHost(), qPrintable(h.error()));
        const QString gateway = QStringLiteral("10.77.87.254");
        auto request =
            SetupRequest::from(kFamily2Mac, h.deviceAddress(), "255.255.255.0", gateway, false, nullptr);
        QVERIFY(request);
        request->tickMs = kTickMs;
        QString printed;
        QTextStream out(&printed);
        int status = -1;
        {
            CliRun run(*request, out, helper.fileName());
            status = run.run();
        }
        QVERIFY2(printed.contains(QRegularExpression("  " + QRegularExpression::escape(shown) + "\n")),
                 qPrintable(printed));
        QCOMPARE(status, exitStatus);
        // The first ticks find nothing received yet: from there on the window
        // is unlocked, and each tick that waits for a prompt counts as one without change.
        QVERIFY(printed.contains(RunTimeError(RunTimeError::SubscriptOutOfRange).report(" (Timer, 1 0)")));
        if (exitStatus == CliRun::Succeeded)
            QCOMPARE(adaptor.received, SimulatorProcess::commandLineBytes(h.deviceAddress(), gateway));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
