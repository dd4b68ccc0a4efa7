#include "NetnsHarness.h"
#include "SimulatorProcess.h"
#include "WindowFixture.h"
#include "setup/Sequencer.h"
#include "signtest/SignMessages.h"

#include <QElapsedTimer>
#include <QSignalSpy>

namespace {
const QString kFamily1Mac = QStringLiteral("00-20-4a-1b-2c-3d");
const QString kFamily2Mac = QStringLiteral("00-80-a3-61-63-dd");

// One setup run: the namespaces, the simulated adaptor, and the real window in
// the host namespace with a shortened tick.
struct Bench {
    Bench(int subnet, const QString& mac, const QStringList& misbehave = {}, int tickMs = 150)
        : h(subnet) {
        if (!h.ok())
            return;
        // The adaptor starts without an address: it adopts the one it is given.
        h.ipIn(h.deviceNs(), {"addr", "flush", "dev", h.deviceInterface()});
        sim = std::make_unique<SimulatorProcess>(h, mac, misbehave);
        if (!h.enterHost())
            return;
        box.answers = {MessageBox::Yes};
        f = std::make_unique<WindowFixture>(WindowServices{.messageBox = &box}, WindowFixture::RealNetwork);
        statuses = std::make_unique<QSignalSpy>(f->window->statusBar(), &QStatusBar::messageChanged);
        f->binding->controller().ports.tickTimer->setInterval(tickMs);
    }
    [[nodiscard]] QString address(int host) const {
        return h.hostAddress().section('.', 0, 2) + "." + QString::number(host);
    }
    // Types the four rows as a technician would, one keystroke at a time.
    void type(const QString& mac, const QString& ip, const QString& gateway) {
        f->typeInto(QStringLiteral("mac0"), QString(mac).remove(QLatin1Char('-')));
        const auto octets = [](const QString& dotted) {
            QString keys;
            for (const QString& o : dotted.split(QLatin1Char('.')))
                keys += o.rightJustified(3, QLatin1Char('0'));
            return keys;
        };
        f->typeInto(QStringLiteral("ip0"), octets(ip));
        for (int i = 0; i < 4; ++i)
            f->preset(QStringLiteral("gateway%1").arg(i), QString());
        f->typeInto(QStringLiteral("gateway0"), octets(gateway));
    }
    [[nodiscard]] QStringList statusHistory() const {
        QStringList out;
        for (const QList<QVariant>& args : *statuses)
            out << args.at(0).toString();
        return out;
    }
    [[nodiscard]] bool shown(const QString& status) const { return statusHistory().contains(status); }
    [[nodiscard]] QStringList permanentEntries(const QString& ip) {
        QStringList out;
        for (const QString& line :
             QString::fromLatin1(h.ipIn(h.hostNs(), {"neigh", "show", ip})).split('\n', Qt::SkipEmptyParts)) {
            if (line.contains(QLatin1String("PERMANENT")))
                out << line.simplified();
        }
        return out;
    }

    NetnsHarness h;
    std::unique_ptr<SimulatorProcess> sim;
    FakeMessageBox box;
    std::unique_ptr<WindowFixture> f;
    std::unique_ptr<QSignalSpy> statuses;
};

#define BENCH_REQUIRE(b)                                                                                     \
    do {                                                                                                     \
        NETNS_REQUIRE((b).h);                                                                                \
        QVERIFY2((b).sim && (b).sim->ready(), "the simulator did not start");                                \
        QVERIFY((b).f && (b).f->ready);                                                                      \
    } while (false)

QByteArray signBytes() {
    return (SignMessages::first() + SignMessages::second()).toLatin1();
}
} // namespace

// Whole setup runs from typing to the sign, with real sockets, echo probes and
// neighbour entries, against the simulated adaptor in the test's own namespaces.
class TestEndToEnd : public QObject {
    Q_OBJECT
private slots:
    // Catches any byte of the command-line route out of place, an entry left
    // in the host's neighbour table, or a sign that shows nothing.
    void commandLineRoute() {
        Bench b(85, kFamily2Mac);
        BENCH_REQUIRE(b);
        const QString ip = b.address(50);
        const QString gateway = b.address(254);
        b.type(kFamily2Mac, ip, gateway);
        QCOMPARE(b.f->focusName(), QStringLiteral("setupButton"));
        QTest::mouseClick(b.f->window->setupButton(), Qt::LeftButton);
        // The dialogue has started: the host's entry for the address stands meanwhile.
        QTRY_COMPARE_WITH_TIMEOUT(b.f->binding->controller().progress().stage(), RunStage::CommandLine, 20000);
        QCOMPARE(b.permanentEntries(ip),
                 QStringList({QStringLiteral("%1 dev %2 lladdr 00:80:a3:61:63:dd PERMANENT proto 147")
                                  .arg(ip, b.h.hostInterface())}));

        QTRY_VERIFY_WITH_TIMEOUT(b.shown(Sequencer::kSetupSucceeded), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(b.sim->summary().value("signText").toString(),
                                  QStringLiteral("IP Test Successful"), 10000);
        QCOMPARE(b.sim->received(3001), signBytes());
        // The logout and the sign travel on two connections: the adaptor may
        // record the sign first, and takes the logout in only after recording it.
        QTRY_COMPARE_WITH_TIMEOUT(b.sim->received(23), SimulatorProcess::commandLineBytes(ip, gateway),
                                  10000);
        QTRY_VERIFY_WITH_TIMEOUT(b.sim->config().value("loggedOut").toBool(), 10000);
        const QJsonObject config = b.sim->config();
        QCOMPARE(config.value("ip").toString(), ip);
        QCOMPARE(config.value("gateway").toString(), gateway);
        QCOMPARE(config.value("subnetMask").toString(), QStringLiteral("255.255.255.0"));
        QCOMPARE(config.value("speed").toVariant().toString(), QStringLiteral("9600"));
        QCOMPARE(config.value("parity").toString(), QStringLiteral("NONE"));
        QCOMPARE(b.permanentEntries(ip), QStringList());
        QTRY_COMPARE(b.f->status(), QString()); // the sign test's completion empties it
        QVERIFY(b.f->window->setupButton()->isEnabled());
    }

    // Catches any byte of the setup-menu route out of place, a wrong line end,
    // or host bits that the adaptor does not end up with.
    void setupMenuRoute() {
        Bench b(86, kFamily1Mac);
        BENCH_REQUIRE(b);
        const QString ip = b.address(60);
        const QString gateway = b.address(254);
        b.type(kFamily1Mac, ip, gateway);
        QTest::mouseClick(b.f->window->setupButton(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(b.f->binding->controller().progress().stage(), RunStage::SetupMenu, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(b.shown(Sequencer::kSetupSucceeded), 60000);
        QTRY_COMPARE_WITH_TIMEOUT(b.sim->summary().value("signText").toString(),
                                  QStringLiteral("IP Test Successful"), 10000);
        QCOMPARE(b.sim->received(3001), signBytes());
        // The menu's last answer ("9", save and leave) goes out with the success
        // text, on another connection than the sign's; it is saved once taken in.
        QTRY_COMPARE_WITH_TIMEOUT(b.sim->received(9999), SimulatorProcess::setupMenuBytes(gateway), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(b.sim->config().value("saved").toBool(), 10000);
        const QJsonObject datagram = b.sim->summary().value("datagrams").toArray().first().toObject();
        QVERIFY(datagram.value("accepted").toBool());
        QCOMPARE(datagram.value("hex").toString().right(12), QStringLiteral("2c3d0a4d563c"));
        const QJsonObject config = b.sim->config();
        QCOMPARE(config.value("ip").toString(), ip);
        QCOMPARE(config.value("gateway").toString(), gateway);
        QCOMPARE(config.value("hostBits").toInt(), 8);
        QCOMPARE(config.value("port").toInt(), 3001);
        QCOMPARE(b.permanentEntries(ip), QStringList());
    }

    // Catches a silent adaptor reported as set up, or a host entry left behind.
    void silentAdaptor() {
        Bench b(87, kFamily2Mac, {"silent"});
        BENCH_REQUIRE(b);
        const QString ip = b.address(50);
        b.type(kFamily2Mac, ip, b.address(254));
        QTest::mouseClick(b.f->window->setupButton(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(b.f->status(), Sequencer::kSetupFailed, 20000);
        QVERIFY(b.f->window->setupButton()->isEnabled());
        QCOMPARE(b.permanentEntries(ip), QStringList());
        QCOMPARE(b.sim->received(23), QByteArray());
    }

    // Catches timing that only works with the shortened tick: the whole
    // command-line route once at the program's own 3000 ms pace.
    void commandLineRouteAtRealTick() {
        Bench b(90, kFamily2Mac, {}, SetupController::kTickMs);
        BENCH_REQUIRE(b);
        QCOMPARE(b.f->binding->controller().ports.tickTimer->interval(), 3000);
        b.type(kFamily2Mac, b.address(50), b.address(254));
        QElapsedTimer clock;
        clock.start();
        QTest::mouseClick(b.f->window->setupButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(b.shown(Sequencer::kSetupSucceeded), 120000);
        // Pre-check (4 ticks), probe after the binding (at least 2), eleven dialogue steps.
        QVERIFY2(clock.elapsed() >= 16 * SetupController::kTickMs,
                 qPrintable(QString::number(clock.elapsed())));
        // "Logout" goes out with the success text: the adaptor records it a moment later.
        QTRY_VERIFY_WITH_TIMEOUT(b.sim->received(23).endsWith("CHANGE PARITY NONE\nLogout\n"), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(b.sim->summary().value("signText").toString(),
                                  QStringLiteral("IP Test Successful"), 15000);
    }

    // Catches a refused sign port reported as success or as a hang.

    void signPortRefused() {
        Bench b(88, kFamily2Mac, {"refuse:3001"});
        BENCH_REQUIRE(b);
        b.type(kFamily2Mac, b.address(50), b.address(254));
        QTest::mouseClick(b.f->window->setupButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(b.f->status().endsWith(QStringLiteral(" (SendTest)")), 30000);
        QVERIFY(b.shown(Sequencer::kSetupSucceeded));
        QCOMPARE(b.f->status(), QStringLiteral("1002 - Connection refused by the remote host (SendTest)"));
        QVERIFY(b.f->window->setupButton()->isEnabled());
    }

    // Catches a misbehaving adaptor that leaves the window locked, crashes the
    // program, or ends in a false success.
    void misbehavingAdaptor_data() {
        QTest::addColumn<QString>("mac");
        QTest::addColumn<QString>("misbehave");
        QTest::addColumn<QString>("status"); // what the status line ends with
        QTest::addColumn<bool>("succeeds");
        QTest::newRow("error_wrong_password") << kFamily2Mac << "wrong-password"
                                              << "(Timer, 1 3)" << false;
        QTest::newRow("error_password_prompt_never_comes") << kFamily2Mac << "no-prompt:Password"
                                                           << "(Timer, 1 2)" << false;
        QTest::newRow("error_closes_mid_dialogue") << kFamily2Mac << "close-mid"
                                                   << "(Timer, 1 3)" << false;
        QTest::newRow("error_menu_closes_mid_dialogue") << kFamily1Mac << "close-mid"
                                                        << "(Timer, 3 3)" << false;
        QTest::newRow("ok_flood_with_nul_bytes") << kFamily1Mac << "flood:20"
                                                 << "" << true;
    }
    void misbehavingAdaptor() {
        QFETCH(QString, mac);
        QFETCH(QString, misbehave);
        QFETCH(QString, status);
        QFETCH(bool, succeeds);
        Bench b(91, mac, QStringList{misbehave});
        BENCH_REQUIRE(b);
        b.type(mac, b.address(50), b.address(254));
        QTest::mouseClick(b.f->window->setupButton(), Qt::LeftButton);
        if (succeeds) {
            QTRY_VERIFY_WITH_TIMEOUT(b.shown(Sequencer::kSetupSucceeded), 60000);
            QVERIFY(b.f->binding->controller().ports.transcriptBox->text().size() <= kTranscriptLimit);
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(b.f->status().endsWith(status), 30000);
        QVERIFY(!b.shown(Sequencer::kSetupSucceeded));
        // The window is the user's again: Exit and a new Setup work.
        QVERIFY(b.f->window->setupButton()->isEnabled());
        QVERIFY(b.f->window->exitButton()->isEnabled());
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    }

    // Catches a close of the window during a dialogue that does not log out of

    // the adaptor's command line.
    void closeDuringDialogue() {
        Bench b(89, kFamily2Mac);
        BENCH_REQUIRE(b);
        b.type(kFamily2Mac, b.address(50), b.address(254));
        QTest::mouseClick(b.f->window->setupButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(b.f->binding->controller().run.dialogueStep >= 3, 10000);
        b.f->window->close();
        QVERIFY(b.f->binding->controller().unloaded());
        QTRY_VERIFY_WITH_TIMEOUT(b.sim->received(23).endsWith("logout\n"), 5000);
        QVERIFY(!b.shown(Sequencer::kSetupSucceeded));
    }
};

QTEST_MAIN(TestEndToEnd)
#include "tst_e2e.moc"
