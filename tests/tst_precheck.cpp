#include "NetnsHarness.h"
#include "SimulatorProcess.h"
#include "WindowFixture.h"
#include "cli/CliRun.h"
#include "net/NetHelper.h"
#include "setup/Sequencer.h"
#include "setup/SetupCommand.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

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
        // Free: the ARP route binds it, and the adaptor that is not there never answers.
        QTest::newRow("ok_silent_goes_on_to_its_route") << "silent" << false << Sequencer::kSetupFailed;
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
        const QStringList mac{"00", "80", "a3", "33", "44", "55"};
        for (int i = 0; i < 6; ++i)
            f.preset(QStringLiteral("mac%1").arg(i), mac.at(i));
        f.typeInto(QStringLiteral("ip0"), QString());
        for (const QString& octet : ip.split(QLatin1Char('.')))
            QTest::keyClicks(QApplication::focusWidget(), octet.rightJustified(3, QLatin1Char('0')));
        QCOMPARE(f.focusName(), QStringLiteral("mask0"));
        f.binding->controller().ports.tickTimer->setInterval(50);
        QTest::mouseClick(f.window->setupButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(f.binding->controller().result().has_value(), 10000);
        QCOMPARE(f.status(), status);
        QVERIFY(f.window->setupButton()->isEnabled());
        QVERIFY(f.window->exitButton()->isEnabled());
        QCOMPARE(int(f.binding->controller().run.probesSent), target == "device" ? 1 : 3);
        QStringList octets; // as the fields leave them: the zeros typed before each octet dropped
        for (int i = 0; i < 4; ++i)
            octets << f.binding->controller().field({2, i}).text();
        QCOMPARE(octets.join(QLatin1Char('.')), ip);
    }

    // A probe the helper refused is no answer: catches a pre-check that takes
    // "too many probes on this host" for a silent address and hands a sign an
    // address nobody checked. A member holds the probe budget for the whole
    // run; the run ends "not-checked", with no datagram and no neighbour entry.
    void budgetHeldEndsNotChecked_data() {
        QTest::addColumn<QString>("mac");
        QTest::newRow("error_datagram_route") << "00-20-4a-33-44-55";
        QTest::newRow("error_neighbour_route") << "00-80-a3-33-44-55";
    }
    void budgetHeldEndsNotChecked() {
        QFETCH(QString, mac);
        SimulatorProcess sim(*h, mac);
        QVERIFY2(sim.ready(), "the simulator did not start");
        {
            // The test build's helper lays out its own folder, apart from the host's.
            NetHelper first(QStringLiteral(NETRIKA_HELPER_HOOKED));
            QVERIFY(first.start());
            (void)first.ask({helper::Request::Echo, *AddressRules::readDotted(h->deviceAddress()), {}});
        }
        const int budget = ::open(NETRIKA_HELPER_HOOKED_RUN "/probes", O_RDWR | O_CLOEXEC);
        QVERIFY(budget >= 0);
        QVERIFY(::flock(budget, LOCK_EX) == 0);
        auto request =
            SetupRequest::from(mac, h->silentAddress(), "255.255.255.0", "0.0.0.0", false, nullptr);
        QVERIFY(request);
        request->tickMs = 100;
        QString printed, text;
        QTextStream out(&printed), err(&text);
        int status = -1;
        RunOutcome outcome = RunOutcome::Assigned;
        {
            CliRun run(*request, out, QStringLiteral(NETRIKA_HELPER_HOOKED));
            run.setOutput(CliRun::Output::Json, err);
            status = run.run();
            outcome = run.result();
        }
        ::close(budget);
        QCOMPARE(status, 1);
        QCOMPARE(RunOutcomes::reason(outcome), QStringLiteral("not-checked"));
        QVERIFY2(text.contains(Sequencer::kNotChecked), qPrintable(text));
        QVERIFY2(printed.contains("\"reason\":\"not-checked\""), qPrintable(printed));
        QTest::qWait(300); // a datagram would have been recorded by now
        QCOMPARE(sim.summary().value("datagrams").toArray().size(), 0);
        QCOMPARE(h->ipIn(h->hostNs(), {"-4", "neigh", "show", "nud", "permanent"}), QByteArray(""));
    }
};

QTEST_MAIN(TestPreCheck)
#include "tst_precheck.moc"
