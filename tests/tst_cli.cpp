#include "NetnsHarness.h"
#include "SimulatorProcess.h"
#include "cli/CliRun.h"
#include "setup/Sequencer.h"
#include "signtest/SignMessages.h"

#include <QTimer>

namespace {
const QString kFamily1Mac = QStringLiteral("00:20:4a:1b:2c:3d");
const QString kFamily2Mac = QStringLiteral("0080a36163dd");
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
        QTest::newRow("ok_bare") << "0080a36163dd"
                                 << "010.001.2.3"
                                 << "00 80 a3 61 63 dd 010 001 2 3";
        QTest::newRow("ok_octet_checked_later") << "0080a36163dd"
                                                << "10.1.2.300"
                                                << "00 80 a3 61 63 dd 10 1 2 300";
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
        const auto r = SetupRequest::from(mac, ip, "255.255.255.0", "0.0.0.0", false, &why);
        QCOMPARE(r.has_value(), !fields.isEmpty());
        if (!r) {
            QVERIFY(!why.isEmpty());
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
        const QString digits = QString(mac).remove(':');
        QStringList pairs;
        for (int i = 0; i < 12; i += 2)
            pairs << digits.mid(i, 2);
        SimulatorProcess sim(h, pairs.join('-'),
                             misbehave.isEmpty() ? QStringList() : QStringList{misbehave});
        QVERIFY2(sim.ready(), "the simulator did not start");
        QVERIFY2(h.enterHost(), qPrintable(h.error()));
        const QString gateway = QStringLiteral("10.77.88.254");
        const auto request = SetupRequest::from(mac, ip, "255.255.255.0", gateway, true, nullptr);
        QVERIFY(request);
        QString printed;
        QTextStream out(&printed);
        int status = -1;
        {
            CliRun run(*request, out, QStringLiteral(NETRIKA_HELPER));
            run.form().ui.Timer1->setInterval(150);
            // Ctrl-C once the adaptor has taken the password.
            QTimer watch;
            QObject::connect(&watch, &QTimer::timeout, [&] {
                const RunState& m = run.form().m;
                if (m.mTimerState == RunState::kCommandLine && m.mState >= 3) {
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
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
