#include "FakeWindow.h"
#include "FinishProcess.h"
#include "NetnsHarness.h"
#include "SimulatorProcess.h"
#include "cli/CliRun.h"
#include "net/HelperProbe.h"
#include "setup/IdentityCheck.h"
#include "setup/Sequencer.h"
#include "signtest/SignMessages.h"

#include <QJsonDocument>
#include <QTcpSocket>
#include <QTest>

namespace {
const QString kFamily1Mac = QStringLiteral("00-20-4a-1b-2c-3d");
const QString kFamily2Mac = QStringLiteral("00-80-a3-61-63-dd");

// The scripted probe, and who answers ARP for an address.
class OwnerProbe : public FakeProbe {
public:
    ArpOwner whoHas(quint32 address) override {
        asked << AddressRules::dotted(address);
        return newAddress && address == *newAddress ? newOwner : owner;
    }
    ArpOwner owner;
    // What ARP says of the address the adaptor is to be moved to, where it differs.
    std::optional<quint32> newAddress;
    ArpOwner newOwner;
    QStringList asked;
};

QString digits(const QString& mac) {
    return QString(mac).remove(QLatin1Char('-')).remove(QLatin1Char(':')).toLower();
}

// What the setup menu is sent when the adaptor is reached at the address it
// has: the menu's item 0 is given the new address's four octets.
QByteArray readdressMenuBytes(const QString& ip, const QString& gateway) {
    QByteArray expected = "\r\n0\n";
    for (const QString& octet : ip.split(QLatin1Char('.')))
        expected += octet.toLatin1() + "\r\n";
    // The rest ("y", the gateway ...) as on the family's route, after its
    // wake-up, "0" and four kept octets.
    return expected + SimulatorProcess::setupMenuBytes(gateway).mid(12);
}

// setup --check through the real program, as a script asks before a run:
// its exit status and its check event.
std::pair<int, QJsonObject> checkFirst(const QString& mac, const QString& ip, const QString& gateway,
                                       const QString& current) {
    QProcess cli;
    cli.start(QStringLiteral(NETRIKA_CLI), {"setup", "--check", "--json", "--mac", mac, "--ip", ip, "--mask",
                                            "255.255.255.0", "--gateway", gateway, "--current-ip", current});
    QString out, err;
    const int status = finishProcess(cli, 20000, out, err);
    return {status, QJsonDocument::fromJson(out.toUtf8()).object()};
}

QStringList permanentEntries(NetnsHarness& h) {
    return QString::fromLatin1(h.ipIn(h.hostNs(), {"-4", "neigh", "show", "nud", "permanent"}))
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// A simulated adaptor that already holds an address in the harness's subnet;
// the device side's own address is removed, so that it holds that one alone.
std::unique_ptr<SimulatorProcess> adaptorAt(NetnsHarness& h, const QString& mac, const QString& address) {
    h.ipIn(h.deviceNs(), {"addr", "flush", "dev", h.deviceInterface()});
    return std::make_unique<SimulatorProcess>(h.deviceNs(), h.deviceInterface(), mac, QStringList(),
                                              SimulatorProcess::TestsGroup,
                                              QStringList{"--address", address + "/24"});
}
} // namespace

// An adaptor that already has an address, reached there: only the adaptor
// with the MAC typed is ever configured, nothing is left on the host, and the
// family's dialogue gives it the new address.
class TestReaddress : public QObject {
    Q_OBJECT
private slots:
    // Catches a run that configures whatever answers, talks to the address
    // before its owner is known, sends the datagram or makes a neighbour entry
    // anyway, or pre-checks an address the adaptor itself holds.
    void identityAndPreCheck_data() {
        QTest::addColumn<QString>("mac");
        QTest::addColumn<QString>("ip");
        QTest::addColumn<int>("outcome"); // of the ARP question at 10.0.0.40
        QTest::addColumn<QString>("owner");
        QTest::addColumn<bool>("ipAnswers"); // the new address answers the pre-check
        QTest::addColumn<QString>("status"); // the run's last status; empty: the dialogue started
        QTest::addColumn<int>("asked");      // ARP questions
        QTest::addColumn<int>("pings");      // pre-check echo requests to the new address
        const QString current = QStringLiteral("10.0.0.40");
        QTest::newRow("error_nobody_answers")
            << kFamily2Mac << "10.0.0.50" << int(ArpOwner::Silent) << "" << false
            << IdentityCheck::kNoAnswer.arg(kFamily2Mac, current) << IdentityCheck::kTries << 0;
        QTest::newRow("error_another_device_answers")
            << kFamily2Mac << "10.0.0.50" << int(ArpOwner::Answered) << "0080a3999999" << false
            << IdentityCheck::kOtherDevice.arg(kFamily2Mac, current, "00-80-a3-99-99-99") << 1 << 0;
        QTest::newRow("error_another_device_family1")
            << kFamily1Mac << "10.0.0.50" << int(ArpOwner::Answered) << "00204a1b2c3e" << false
            << IdentityCheck::kOtherDevice.arg(kFamily1Mac, current, "00-20-4a-1b-2c-3e") << 1 << 0;
        QTest::newRow("error_off_segment")
            << kFamily2Mac << "10.0.0.50" << int(ArpOwner::OffSegment) << "" << false
            << IdentityCheck::kOffSegment.arg(kFamily2Mac, current) << 1 << 0;
        QTest::newRow("error_not_asked")
            << kFamily1Mac << "10.0.0.50" << int(ArpOwner::NotAsked) << "" << false
            << IdentityCheck::kNotAsked.arg(kFamily1Mac, current, "why") << 1 << 0;
        QTest::newRow("error_new_address_in_use")
            << kFamily2Mac << "10.0.0.50" << int(ArpOwner::Answered) << "0080a36163dd" << true
            << Sequencer::kAddressExists << 1 << 1;
        QTest::newRow("ok_new_address_prechecked")
            << kFamily2Mac << "10.0.0.50" << int(ArpOwner::Answered) << "0080a36163dd" << false << "" << 1
            << Sequencer::kProbesPerCycle;
        QTest::newRow("ok_same_address_not_prechecked")
            << kFamily1Mac << current << int(ArpOwner::Answered) << "00204a1b2c3d" << true << "" << 1 << 0;
        QTest::newRow("ok_family1_new_address")
            << kFamily1Mac << "10.0.0.50" << int(ArpOwner::Answered) << "00204a1b2c3d" << false << "" << 1
            << Sequencer::kProbesPerCycle;
        // Moved to another network: nothing here can ask about its new address.
        QTest::newRow("ok_new_address_on_another_network")
            << kFamily2Mac << "10.9.0.50" << int(ArpOwner::Answered) << "0080a36163dd" << true << "" << 1
            << 0;
    }
    void identityAndPreCheck() {
        QFETCH(QString, mac);
        QFETCH(QString, ip);
        QFETCH(int, outcome);
        QFETCH(QString, owner);
        QFETCH(bool, ipAnswers);
        QFETCH(QString, status);
        QFETCH(int, asked);
        QFETCH(int, pings);
        const QString current = QStringLiteral("10.0.0.40");
        OwnerProbe probe;
        probe.owner = {ArpOwner::Outcome(outcome), owner, QStringLiteral("why")};
        probe.answer = [ipAnswers](qsizetype) { return ipAnswers ? 0 : 1; };
        const bool elsewhere = !ip.startsWith(QLatin1String("10.0.0."));
        if (ip != current)
            probe.newAddress = AddressRules::readDotted(ip);
        probe.newOwner = elsewhere ? ArpOwner{ArpOwner::OffSegment, {}, QStringLiteral("far")}
                                   : ArpOwner{ArpOwner::Silent, {}, {}};
        FakeWindow w(&probe);
        w.commandLineSocket.connectOutcome = SocketControl::Connected;
        w.fillAddresses(mac, ip);
        w.controller->reachAt(digits(mac), current);
        w.press();

        // Where the adaptor is found, whether its new address is on this host's
        // networks is asked once before the pre-check.
        const bool found = outcome == int(ArpOwner::Answered) && owner == digits(mac);
        QCOMPARE(probe.asked,
                 QStringList(asked, current) + (found && ip != current ? QStringList{ip} : QStringList()));
        QCOMPARE(probe.pinged, QStringList(pings, ip));
        // Nothing of the family routes, ever.
        QCOMPARE(w.datagramSocket.sent, QStringList());
        QCOMPARE(w.neighbours.calls, QStringList());
        const bool family1 = mac == kFamily1Mac;
        FakeSocket& dialogue = family1 ? w.setupMenuSocket : w.commandLineSocket;
        if (!status.isEmpty()) {
            QCOMPARE(w.status.message(), status);
            QVERIFY(w.idle());
            QVERIFY(!w.timer.enabled());
            QCOMPARE(w.commandLineSocket.connects + w.setupMenuSocket.connects + w.signSocket.connects, 0);
            return;
        }
        QCOMPARE(dialogue.connects, 1);
        QCOMPARE(dialogue.host, current);
        QCOMPARE(dialogue.port, family1 ? 9999 : 23);
        QCOMPARE(w.controller->progress().stage(), family1 ? RunStage::SetupMenu : RunStage::CommandLine);
        QVERIFY(w.timer.enabled());
        // Only the new address is probed, never the one the adaptor has.
        QVERIFY(w.probe.pinged.isEmpty() || w.probe.pinged.first() == ip);
    }

    // Catches a helper answer misread: a MAC in another case or notation
    // compared as different, a gateway route taken for a silent address, or
    // a refusal for another reason reported as "on no network".
    void helperAnswers_data() {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("detail"); // the MAC, or the reason
        QTest::newRow("ok_answered") << "ok answered 00:80:A3:61:63:DD" << int(ArpOwner::Answered)
                                     << "0080a36163dd";
        QTest::newRow("ok_silent") << "ok silent" << int(ArpOwner::Silent) << "";
        QTest::newRow("error_behind_gateway")
            << "refused 10.9.0.4 is reached only through a gateway, not on a segment of this host"
            << int(ArpOwner::OffSegment) << "reached only through a gateway, not on a segment of this host";
        QTest::newRow("error_no_route")
            << "refused 10.9.0.4 is not reached by any route of this host" << int(ArpOwner::OffSegment)
            << "not reached by any route of this host";
        QTest::newRow("error_own_address") << "refused 10.9.0.4 is an address of this host itself"
                                           << int(ArpOwner::NotAsked) << "an address of this host itself";
        QTest::newRow("error_budget") << "refused 10.9.0.4 is too many probes: at most 4 a second"
                                      << int(ArpOwner::NotAsked) << "too many probes: at most 4 a second";
        QTest::newRow("error_mangled_mac") << "ok answered 00:80:a3:61:63" << int(ArpOwner::NotAsked)
                                           << "the network helper answered \"ok answered 00:80:a3:61:63\"";
    }
    void helperAnswers() {
        QFETCH(QString, answer);
        QFETCH(int, outcome);
        QFETCH(QString, detail);
        const ArpOwner owner = HelperProbe::ownerFrom(answer);
        QCOMPARE(int(owner.outcome), outcome);
        QCOMPARE(outcome == ArpOwner::Answered ? owner.mac : owner.reason, detail);
    }

    // Catches the end of a re-addressing command line that removes a
    // neighbour entry it never made, or a sign test sent to the new address
    // the adaptor does not hold until it is power cycled.
    void commandLineEndsWithoutEntryAndSignAtCurrent() {
        const QString current = QStringLiteral("10.0.0.40");
        const QString ip = QStringLiteral("10.0.0.50");
        OwnerProbe probe;
        probe.owner = {ArpOwner::Answered, digits(kFamily2Mac), {}};
        FakeWindow w(&probe);
        w.commandLineSocket.connectOutcome = SocketControl::Connected;
        w.signSocket.connectOutcome = SocketControl::Connected;
        w.messageBox.answers = {MessageBox::Yes};
        w.fillAddresses(kFamily2Mac, ip);
        w.controller->reachAt(digits(kFamily2Mac), current);
        w.press();
        for (const char* p :
             {"Username> ", "Local_1> ", "Password> ", "Local_1>> ", "Local_1>> ", "Local_1>> ", "Local_1>> ",
              "Local_1>> ", "Local_1>> ", "Local_1>> ", "Local_1>> "}) {
            w.clientSends(p);
            w.tick();
        }
        w.settle(); // the sign's connection is taken
        QVERIFY(w.status.history.contains(Sequencer::kSetupSucceeded));
        QCOMPARE(w.commandLineSocket.sent.value(3), "CHANGE IPAddress " + ip + "\n");
        QCOMPARE(w.commandLineSocket.sent.last(), QStringLiteral("Logout\n"));
        QCOMPARE(w.neighbours.calls, QStringList());
        QCOMPARE(w.signSocket.host, current);
        QCOMPARE(w.signSocket.port, 3001);
        QCOMPARE(w.signSocket.sent.size(), 2);
        // The next run of another MAC takes its family's route again.
        w.fillAddresses("00-80-a3-61-63-de", ip);
        w.press();
        QCOMPARE(w.neighbours.calls.value(0), QStringLiteral("bind 10.0.0.50 00-80-a3-61-63-de"));
    }

    // Catches any byte of either family's dialogue out of place when the
    // adaptor is reached at its address, a datagram or a neighbour entry, a
    // sign test sent elsewhere than where the adaptor answers, or a new
    // address that the adaptor does not hold after its power cycle.
    void endToEnd_data() {
        QTest::addColumn<QString>("mac");
        QTest::addColumn<bool>("elsewhere"); // moved to a network this host is not on
        QTest::newRow("ok_command_line") << kFamily2Mac << false;
        QTest::newRow("ok_setup_menu") << kFamily1Mac << false;
        // Its new address cannot be checked from here: the check and the run
        // both go ahead, as documented.
        QTest::newRow("ok_command_line_to_another_network") << kFamily2Mac << true;
    }
    void endToEnd() {
        QFETCH(QString, mac);
        QFETCH(bool, elsewhere);
        NetnsHarness h(92);
        NETNS_REQUIRE(h);
        const QString prefix = h.hostAddress().section('.', 0, 2) + '.';
        const QString current = prefix + "40";
        const QString ip = elsewhere ? QStringLiteral("10.99.5.60") : prefix + "60";
        const QString gateway = elsewhere ? QStringLiteral("10.99.5.254") : prefix + "254";
        const auto sim = adaptorAt(h, mac, current);
        QVERIFY2(sim->ready(), "the simulator did not start");
        QCOMPARE(sim->summary().value("adoptedIp").toString(), current);
        QVERIFY2(h.enterHost(), qPrintable(h.error()));
        // The check agrees with the run it predicts: the adaptor is found at
        // the address it has, and would be moved.
        const auto [checked, check] = checkFirst(mac, ip, gateway, current);
        QCOMPARE(checked, 0);
        QCOMPARE(check.value("state").toString(), QStringLiteral("to-assign"));
        auto request = SetupRequest::from(mac, ip, "255.255.255.0", gateway, true, nullptr);
        QVERIFY(request);
        QVERIFY(request->setCurrentIp(current, nullptr));
        request->tickMs = 150;
        QString printed, text;
        QTextStream out(&printed), err(&text);
        int status = -1;
        {
            CliRun run(*request, out, QStringLiteral(NETRIKA_HELPER));
            run.setOutput(CliRun::Output::Json, err);
            status = run.run();
        }
        QCOMPARE(status, int(CliRun::Succeeded));
        const QStringList events = printed.split('\n', Qt::SkipEmptyParts);
        const QJsonObject started = QJsonDocument::fromJson(events.value(0).toUtf8()).object();
        QCOMPARE(started.value("current_ip").toString(), current);
        QVERIFY2(text.contains(Sequencer::kSetupSucceeded), qPrintable(text));

        const bool family1 = mac == kFamily1Mac;
        QTRY_COMPARE(sim->received(family1 ? 9999 : 23),
                     family1 ? readdressMenuBytes(ip, gateway)
                             : SimulatorProcess::commandLineBytes(ip, gateway));
        QTRY_VERIFY(sim->config().value(family1 ? "saved" : "loggedOut").toBool());
        // The sign's messages reached the adaptor while it held its old address alone.
        QTRY_COMPARE(sim->summary().value("signText").toString(), QStringLiteral("IP Test Successful"));
        QCOMPARE(sim->received(3001), (SignMessages::first() + SignMessages::second()).toLatin1());
        QCOMPARE(sim->summary().value("adoptedIp").toString(), current);
        QCOMPARE(sim->summary().value("datagrams").toArray().size(), 0);
        QCOMPARE(permanentEntries(h), QStringList());
        if (elsewhere)
            return; // its new network is not this host's to reach

        sim->reboot();
        QTRY_COMPARE(sim->summary().value("reboots").toInt(), 1);
        QCOMPARE(sim->summary().value("adoptedIp").toString(), ip);
        // It answers at the new address.
        QTcpSocket sign;
        sign.connectToHost(ip, 3001);
        QVERIFY2(sign.waitForConnected(5000), qPrintable(sign.errorString()));
    }

    // Catches another device reconfigured because it holds the address typed,
    // a run that goes on when nothing or nobody reachable answers there, or
    // anything beyond ARP sent to that address.
    void refusedEndToEnd_data() {
        QTest::addColumn<QString>("mac");       // typed
        QTest::addColumn<QString>("simMac");    // of the device at .40
        QTest::addColumn<QString>("currentIp"); // typed: the last octet, or a whole address
        QTest::addColumn<QString>("message");   // with %1 the MAC, %2 the address, %3 the device's MAC
        QTest::addColumn<QString>("reason");    // the run's and the check's
        QTest::addColumn<int>("checkExit");     // setup --check's exit status
        QTest::newRow("error_another_adaptor_command_line")
            << kFamily2Mac << "00-80-a3-99-88-77"
            << "40" << IdentityCheck::kOtherDevice << "other-device" << 1;
        QTest::newRow("error_another_adaptor_setup_menu")
            << kFamily1Mac << "00-20-4a-99-88-77"
            << "40" << IdentityCheck::kOtherDevice << "other-device" << 1;
        QTest::newRow("error_nobody_at_address")
            << kFamily2Mac << kFamily2Mac << "41" << IdentityCheck::kNoAnswer << "not-found" << 1;
        QTest::newRow("error_address_on_no_network")
            << kFamily2Mac << kFamily2Mac << "10.99.1.40" << IdentityCheck::kOffSegment << "off-segment" << 2;
    }
    void refusedEndToEnd() {
        QFETCH(QString, mac);
        QFETCH(QString, simMac);
        QFETCH(QString, currentIp);
        QFETCH(QString, message);
        QFETCH(QString, reason);
        QFETCH(int, checkExit);
        NetnsHarness h(93);
        NETNS_REQUIRE(h);
        const QString prefix = h.hostAddress().section('.', 0, 2) + '.';
        const QString current = currentIp.contains('.') ? currentIp : prefix + currentIp;
        const auto sim = adaptorAt(h, simMac, prefix + "40");
        QVERIFY2(sim->ready(), "the simulator did not start");
        QVERIFY2(h.enterHost(), qPrintable(h.error()));
        // The check predicts the run: the same reason, the documented status.
        const auto [checked, check] = checkFirst(mac, prefix + "60", prefix + "254", current);
        QCOMPARE(checked, checkExit);
        QCOMPARE(check.value("reason").toString(), reason);
        auto request = SetupRequest::from(mac, prefix + "60", "255.255.255.0", prefix + "254", true, nullptr);
        QVERIFY(request);
        QVERIFY(request->setCurrentIp(current, nullptr));
        request->tickMs = 150;
        QString printed;
        QTextStream out(&printed);
        int status = -1;
        RunOutcome outcome = RunOutcome::Assigned;
        {
            CliRun run(*request, out, QStringLiteral(NETRIKA_HELPER));
            status = run.run();
            outcome = run.result();
        }
        QCOMPARE(status, int(CliRun::Failed));
        QCOMPARE(RunOutcomes::reason(outcome), reason);
        const QString expected = message.arg(mac, current, simMac);
        QVERIFY2(printed.trimmed().endsWith("  " + expected), qPrintable(printed));
        QTest::qWait(1000); // a datagram or connection would have been recorded by now
        QCOMPARE(sim->summary().value("connections").toArray().size(), 0);
        QCOMPARE(sim->summary().value("datagrams").toArray().size(), 0);
        QCOMPARE(sim->config().value("ip").toString(), prefix + "40");
        QCOMPARE(permanentEntries(h), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestReaddress)
#include "tst_readdress.moc"
