#include "NetnsHarness.h"
#include "WindowFixture.h"
#include "setup/Sequencer.h"
#include "setup/SetupCommand.h"

// The Setup command's pre-check with the real window, the real event loop and
// real echo probes, inside the test's own namespaces.
class TestPreCheck : public QObject {
    Q_OBJECT
    std::unique_ptr<NetnsHarness> h;

private slots:
    void initTestCase() {
        h = std::make_unique<NetnsHarness>(82);
        if (h->ok())
            QVERIFY(h->enterHost());
    }
    void init() { NETNS_REQUIRE(*h); }
    void cleanupTestCase() { h.reset(); }

    // Catches a pre-check that misses an answering address (a host whose
    // firewall drops echo requests still answers ARP), or that reports a
    // silent one as taken, over real ICMP and ARP.
    void outcomes_data() {
        QTest::addColumn<QString>("target");
        QTest::addColumn<bool>("dropsEchoes");
        QTest::addColumn<QString>("status");
        QTest::newRow("error_address_answers") << "device" << false << Sequencer::kAddressExists;
        QTest::newRow("error_firewalled_host_answers_arp") << "device" << true << Sequencer::kAddressExists;
        QTest::newRow("ok_silent_then_unknown_family") << "silent" << false << SetupCommand::kFamilyMessage;
    }
    void outcomes() {
        QFETCH(QString, target);
        QFETCH(bool, dropsEchoes);
        QFETCH(QString, status);
        const QString ignore = QStringLiteral("net.ipv4.icmp_echo_ignore_all=%1").arg(dropsEchoes ? 1 : 0);
        QVERIFY2(!h->ip({"netns", "exec", h->deviceNs(), "sysctl", "-q", "-w", ignore}).isNull(),
                 qPrintable(h->error()));
        WindowFixture f({}, WindowFixture::RealNetwork);
        QVERIFY(f.ready);
        const QString ip = target == "device" ? h->deviceAddress() : h->silentAddress();
        const QStringList mac{"00", "11", "22", "33", "44", "55"};
        for (int i = 0; i < 6; ++i)
            f.preset(QStringLiteral("mac%1").arg(i), mac.at(i));
        f.typeInto(QStringLiteral("ip0"), QString());
        for (const QString& octet : ip.split(QLatin1Char('.')))
            QTest::keyClicks(QApplication::focusWidget(), octet.rightJustified(3, QLatin1Char('0')));
        QCOMPARE(f.focusName(), QStringLiteral("mask0"));
        f.binding->controller().ports.tickTimer->setInterval(50);
        QTest::mouseClick(f.window->setupButton(), Qt::LeftButton);
        QCOMPARE(f.status(), status);
        QVERIFY(f.window->setupButton()->isEnabled());
        QVERIFY(f.window->exitButton()->isEnabled());
        QCOMPARE(int(f.binding->controller().run.probesSent), target == "device" ? 1 : 3);
        QStringList octets; // as the fields leave them: the zeros typed before each octet dropped
        for (int i = 0; i < 4; ++i)
            octets << f.binding->controller().field({2, i}).text();
        QCOMPARE(octets.join(QLatin1Char('.')), ip);
    }
};

QTEST_MAIN(TestPreCheck)
#include "tst_precheck.moc"
