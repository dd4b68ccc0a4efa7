#include "FakeWindow.h"
#include "setup/Sequencer.h"
#include "setup/SetupCommand.h"

#include <QTest>

namespace {
constexpr Long kSilent = 1; // a timed-out echo request
}

class TestSetupCommand : public QObject {
    Q_OBJECT
private slots:
    // Catches checks run in the wrong order, a wrong message, or a failed check
    // that still locks the window or starts probing.
    void failedCheck_data() {
        QTest::addColumn<QString>("mac");
        QTest::addColumn<QString>("ip");
        QTest::addColumn<QString>("mask");
        QTest::addColumn<QString>("gateway");
        QTest::addColumn<QString>("message");
        QTest::newRow("error_mac_short") << "00-80-a3-6-63-dd"
                                         << "10.0.0.5"
                                         << "255.255.255.0"
                                         << "0.0.0.0" << SetupCommand::kMacMessage;
        QTest::newRow("error_mac_and_ip_shows_mac") << "00-80-a3-zz-63-dd"
                                                    << "10.0.0.255"
                                                    << "255.255.255.0"
                                                    << "0.0.0.0" << SetupCommand::kMacMessage;
        QTest::newRow("error_ip_255") << "00-80-a3-61-63-dd"
                                      << "10.0.0.255"
                                      << "255.255.255.0"
                                      << "0.0.0.0" << SetupCommand::kIpMessage;
        QTest::newRow("error_gateway_and_mask_shows_gateway") << "00-80-a3-61-63-dd"
                                                              << "10.0.0.5"
                                                              << "255.256.255.0"
                                                              << "0.0.0.255" << SetupCommand::kGatewayMessage;
        QTest::newRow("error_mask_empty_third") << "00-80-a3-61-63-dd"
                                                << "10.0.0.5"
                                                << "255.255..0"
                                                << "0.0.0.0" << SetupCommand::kMaskMessage;
        QTest::newRow("error_mask_256") << "00-80-a3-61-63-dd"
                                        << "10.0.0.5"
                                        << "255.256.255.0"
                                        << "0.0.0.0" << SetupCommand::kMaskMessage;
        // Each value well formed, but the adaptor would be left on a network it cannot work on.
        QTest::newRow("error_mask_with_holes")
            << "00-80-a3-61-63-dd"
            << "10.0.0.5"
            << "255.0.255.0"
            << "0.0.0.0"
            << SetupCommand::kMaskMessage + ": 255.0.255.0 is not a contiguous mask from /8 to /30";
        QTest::newRow("error_ip_is_network")
            << "00-80-a3-61-63-dd"
            << "10.0.0.0"
            << "255.255.255.0"
            << "0.0.0.0" << SetupCommand::kIpMessage + ": 10.0.0.0 is the network address of 10.0.0.0/24";
        QTest::newRow("error_gateway_off_subnet")
            << "00-20-4a-61-63-dd"
            << "10.77.50.22"
            << "255.255.255.192"
            << "10.77.50.65"
            << SetupCommand::kGatewayMessage + ": gateway 10.77.50.65 is not on 10.77.50.0/26";
        // The gateway octet the field lets through below zero is on no network.
        QTest::newRow("error_gateway_negative")
            << "00-80-a3-61-63-dd"
            << "10.0.0.5"
            << "255.255.255.0"
            << "10.0.0.-1" << SetupCommand::kGatewayMessage + ": gateway 10.0.0.-1 is not on 10.0.0.0/24";
    }
    void failedCheck() {
        QFETCH(QString, mac);
        QFETCH(QString, ip);
        QFETCH(QString, mask);
        QFETCH(QString, gateway);
        QFETCH(QString, message);
        FakeWindow w;
        w.fillAddresses(mac, ip, mask, gateway);
        w.press();
        QCOMPARE(w.status.history, QStringList({SetupCommand::kInProcess, message}));
        QVERIFY(w.idle());
        QVERIFY(!w.timer.enabled());
        QCOMPARE(w.probe.pinged.size(), 0);
        QCOMPARE(w.ticks, 0);
    }

    // Catches a pre-check that goes on after an answer, or a family decided
    // before the pre-check has ended.
    void answeringAddress() {
        FakeWindow w;
        w.fillAddresses("00-80-a3-61-63-dd", "10.0.0.5");
        w.probe.answer = [](qsizetype) { return 0; };
        int setupEnabledAtTick1 = -1;
        w.atTick[2] = [&] { setupEnabledAtTick1 = w.setupButton.enabled(); };
        w.press();
        QCOMPARE(w.status.history, QStringList({SetupCommand::kInProcess, Sequencer::kAddressExists}));
        QCOMPARE(setupEnabledAtTick1, 1); // unlocked by the first tick already
        QCOMPARE(w.ticks, 2);
        QCOMPARE(int(w.controller->run.probesSent), 1);
        QCOMPARE(w.controller->run.probeCycleDone, true);
        QCOMPARE(w.probe.pinged, QStringList({"10.0.0.5"}));
        QVERIFY(w.idle());
        QVERIFY(!w.timer.enabled());
        QCOMPARE(w.neighbours.calls.size(), 0);
    }

    // A MAC of no known family has no route: catches probes sent for it (ARP
    // and echo requests for a run that can never assign), a window left
    // locked, or an outcome other than a refusal.
    void unknownFamilyRefusedBeforeAnyProbe() {
        FakeWindow w;
        w.fillAddresses("00-20-4b-1b-2c-3d", "192.168.1.20");
        w.press();
        QCOMPARE(w.ticks, 0);
        QCOMPARE(w.probe.pinged.size(), 0);
        QCOMPARE(w.probe.arped.size(), 0);
        QCOMPARE(w.status.history, QStringList({SetupCommand::kInProcess, SetupCommand::kFamilyMessage}));
        QCOMPARE(w.controller->result()->outcome, RunOutcome::Refused);
        QVERIFY(w.idle());
        QVERIFY(!w.timer.enabled());
    }

    // Catches the shortest or longest usable mask refused (a "contiguous mask
    // from /8 to /30" refused at /30 says the opposite of itself), or the
    // setup menu told other host bits than the mask's.
    void maskEnds_data() {
        QTest::addColumn<QString>("mask");
        QTest::addColumn<int>("hostBits"); // -1: refused
        QTest::newRow("ok_slash_8") << "255.0.0.0" << 24;
        QTest::newRow("ok_slash_30") << "255.255.255.252" << 2;
        QTest::newRow("error_slash_7") << "254.0.0.0" << -1;
        QTest::newRow("error_slash_31") << "255.255.255.254" << -1;
    }
    void maskEnds() {
        QFETCH(QString, mask);
        QFETCH(int, hostBits);
        const QString ip = QStringLiteral("10.77.50.21");
        const auto quad = [](const QString& text) {
            AddressRules::QuadTexts out;
            for (int i = 0; i < 4; ++i)
                out[std::size_t(i)] = text.section(QLatin1Char('.'), i, i);
            return out;
        };
        // The window's fields and the command line's numbers agree.
        const auto fromFields =
            SetupCommand::check({"00", "80", "a3", "61", "63", "dd"}, quad(ip), quad(mask), quad("0.0.0.0"));
        const auto fromNumbers = SetupCommand::targetOf("0080a36163dd", *AddressRules::readDotted(ip),
                                                        *AddressRules::readDotted(mask), 0);
        for (const auto* checked : {&fromFields, &fromNumbers}) {
            const auto* target = std::get_if<AdaptorTarget>(checked);
            QCOMPARE(target ? int(target->hostBits) : -1, hostBits);
            if (!target)
                QCOMPARE(std::get<SetupCommand::Refusal>(*checked).field, QStringLiteral("mask"));
        }
    }

    // Catches a target whose values disagree with the texts checked.
    void targetOfTheChecks() {
        const AdaptorTarget t =
            FakeWindow::target(" 192.168.1.020", "255.255. 0.0", "192.168.1.1", "00-20-4b-1b-2c-3d");
        QCOMPARE(t.mac, QStringLiteral("00204b1b2c3d"));
        QCOMPARE(t.macOctets, (AddressRules::MacOctets{0x00, 0x20, 0x4b, 0x1b, 0x2c, 0x3d}));
        QCOMPARE(t.ip, 0xc0a80114u); // "020" is twenty, as the checks read it
        QCOMPARE(t.mask, 0xffff0000u);
        QCOMPARE(t.gateway, 0xc0a80101u);
        QCOMPARE(int(t.hostBits), 16);

        // A press whose checks fail leaves the sign test aimed nowhere.
        FakeWindow w;
        w.fillAddresses("00-20-4a-1b-2c-3d", "192.168.1.20", "255.255.0.0", "192.168.1.1");
        w.probe.answer = [](qsizetype) { return 0; }; // the address is taken: the run ends there
        w.press();
        QCOMPARE(w.controller->signTest().address(), 0xc0a80114u);
        w.field(2, 3).fill("255");
        w.press();
        QCOMPARE(w.controller->signTest().address(), 0u);
    }

    // Catches a pre-check that gives up, or never shows the box again, while
    // the socket library cannot be started.
    void socketLibraryFailsDuringPreCheck() {
        FakeWindow w;
        w.fillAddresses("00-80-a3-1b-2c-3d", "192.168.1.20");
        w.probe.initFailures = 2;
        QList<int> enabledDuringFailures;
        int pingsWhenChecked = -1;
        w.atTick[2] = [&] { enabledDuringFailures << w.idle(); };
        w.atTick[7] = [&] { pingsWhenChecked = int(w.probe.pinged.size()); };
        w.press();
        QCOMPARE(w.messageBox.shown.size(), size_t(2));
        QCOMPARE(w.messageBox.shown[0].text,
                 QStringLiteral(
                     "Windows Sockets for 32 bit Windows environments is not successfully responding."));
        QCOMPARE(w.messageBox.shown[0].buttons, MessageBox::OkOnly);
        QCOMPARE(w.messageBox.shown[0].icon, MessageBox::NoIcon);
        QCOMPARE(w.messageBox.shown[0].title, QString()); // the application's own title
        QCOMPARE(enabledDuringFailures, QList<int>({1}));
        // Two failing ticks, then a normal silent cycle of three probes and a
        // stop on tick 6; the route's own cycle follows.
        QCOMPARE(pingsWhenChecked, 3);
        QCOMPARE(w.neighbours.calls.value(0), QStringLiteral("bind 192.168.1.20 00-80-a3-1b-2c-3d"));
        QCOMPARE(w.status.message(), Sequencer::kSetupFailed);
        QCOMPARE(w.timer.starts, 2); // re-arming never restarted the running period
    }

    // Catches an error inside the command that leaves the window locked or is
    // reported without its tag.
    void runTimeErrorIsReported() {
        FakeWindow w;
        w.fillAddresses("00-80-a3-61-63-dd", "10.0.0.5");
        w.timer.failOnEnable = true;
        w.press();
        QCOMPARE(w.status.message(), QStringLiteral("5 - Invalid procedure call or argument (SetupIP)"));
        QVERIFY(w.idle());
    }

    // Catches a pre-check wait that goes on running steps after the window was
    // closed during it.
    void closeDuringPreCheck() {
        FakeWindow w;
        w.fillAddresses("00-20-4a-1b-2c-3d", "192.168.1.20");
        w.atTick[2] = [&] { w.controller->unload(); };
        w.press();
        QCOMPARE(w.frame.ended, 1);
        QCOMPARE(w.probe.pinged.size(), 1);
        QCOMPARE(w.status.history, QStringList({SetupCommand::kInProcess}));
        QVERIFY(!w.timer.enabled());
        QCOMPARE(w.neighbours.calls.size(), 0);
        // Nothing handles events any more.
        w.controller->tick();
        w.press();
        QCOMPARE(w.probe.pinged.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestSetupCommand)
#include "tst_setupcommand.moc"
