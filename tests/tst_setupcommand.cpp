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
        w.controller->setupClicked();
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
        w.controller->setupClicked();
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

    // Catches a window left locked, or a family message before the full
    // pre-check, for a MAC of no known family.
    void silentAddressUnknownFamily() {
        FakeWindow w;
        w.fillAddresses("00-20-4b-1b-2c-3d", "192.168.1.20");
        int lockedDuringWait = 0;
        w.atTick[3] = [&] { lockedDuringWait = w.locked(); };
        w.controller->setupClicked();
        QVERIFY(lockedDuringWait);
        QCOMPARE(w.ticks, 4);
        QCOMPARE(w.probe.pinged.size(), 3);
        QCOMPARE(w.probe.payloads.value(0), QStringLiteral("Echo This"));
        QCOMPARE(w.status.history, QStringList({SetupCommand::kInProcess, SetupCommand::kFamilyMessage}));
        QVERIFY(w.idle());
        QCOMPARE(w.probe.open, 0); // every start of the library was matched by a stop
    }

    // Catches a target whose typed values disagree with the texts checked, or
    // whose texts are not the bytes the adaptor has always been sent.
    void targetOfTheChecks() {
        const AdaptorTarget t =
            FakeWindow::target(" 192.168.1.020", "255.255. 0.0", "192.168.1.1", "00-20-4b-1b-2c-3d");
        QCOMPARE(t.mac, QStringLiteral("00204b1b2c3d"));
        QCOMPARE(t.macOctets, (AddressRules::MacOctets{0x00, 0x20, 0x4b, 0x1b, 0x2c, 0x3d}));
        QCOMPARE(t.ip, 0xc0a80114u); // "020" is twenty, as the checks read it
        QCOMPARE(t.mask, 0xffff0000u);
        QCOMPARE(t.gateway, 0xc0a80101u);
        QCOMPARE(int(t.hostBits), 16);
        QCOMPARE(t.maskText, QStringLiteral("255.255. 0.0"));

        // A press whose checks fail leaves the sign test aimed nowhere.
        FakeWindow w;
        w.fillAddresses("00-20-4a-1b-2c-3d", "192.168.1.20", "255.255.0.0", "192.168.1.1");
        w.probe.answer = [](qsizetype) { return 0; }; // the address is taken: the run ends there
        w.controller->setupClicked();
        QCOMPARE(w.controller->signTest().address(), 0xc0a80114u);
        w.field(2, 3).fill("255");
        w.controller->setupClicked();
        QCOMPARE(w.controller->signTest().address(), 0u);
    }

    // Catches a pre-check that gives up, or never shows the box again, while
    // the socket library cannot be started.
    void socketLibraryFailsDuringPreCheck() {
        FakeWindow w;
        w.fillAddresses("00-20-4b-1b-2c-3d", "192.168.1.20");
        w.probe.initFailures = 2;
        QList<int> enabledDuringFailures;
        w.atTick[2] = [&] { enabledDuringFailures << w.idle(); };
        w.controller->setupClicked();
        QCOMPARE(w.messageBox.shown.size(), size_t(2));
        QCOMPARE(w.messageBox.shown[0].text,
                 QStringLiteral(
                     "Windows Sockets for 32 bit Windows environments is not successfully responding."));
        QCOMPARE(w.messageBox.shown[0].buttons, MessageBox::OkOnly);
        QCOMPARE(w.messageBox.shown[0].icon, MessageBox::NoIcon);
        QCOMPARE(w.messageBox.shown[0].title, QString()); // the application's own title
        QCOMPARE(enabledDuringFailures, QList<int>({1}));
        // Two failing ticks, then a normal silent cycle of three probes and a stop.
        QCOMPARE(w.ticks, 6);
        QCOMPARE(w.probe.pinged.size(), 3);
        QCOMPARE(w.status.message(), SetupCommand::kFamilyMessage);
        QCOMPARE(w.timer.starts, 1); // re-arming never restarted the running period
    }

    // Catches an error inside the command that leaves the window locked or is
    // reported without its tag.
    void runTimeErrorIsReported() {
        FakeWindow w;
        w.fillAddresses("00-80-a3-61-63-dd", "10.0.0.5");
        w.timer.failOnEnable = true;
        w.controller->setupClicked();
        QCOMPARE(w.status.message(), QStringLiteral("5 - Invalid procedure call or argument (SetupIP)"));
        QVERIFY(w.idle());
    }

    // Catches a pre-check wait that goes on running steps after the window was
    // closed during it.
    void closeDuringPreCheck() {
        FakeWindow w;
        w.fillAddresses("00-20-4b-1b-2c-3d", "192.168.1.20");
        w.atTick[2] = [&] { w.controller->unload(); };
        w.controller->setupClicked();
        QCOMPARE(w.frame.ended, 1);
        QCOMPARE(w.probe.pinged.size(), 1);
        QCOMPARE(w.status.history, QStringList({SetupCommand::kInProcess}));
        QVERIFY(!w.timer.enabled());
        QCOMPARE(w.neighbours.calls.size(), 0);
        // Nothing handles events any more.
        w.controller->tick();
        w.controller->setupClicked();
        QCOMPARE(w.probe.pinged.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestSetupCommand)
#include "tst_setupcommand.moc"
