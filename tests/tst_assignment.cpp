#include "FakeWindow.h"
#include "ScriptedPrompts.h"
#include "net/AssignmentDatagram.h"
#include "setup/Sequencer.h"

#include <QTest>

namespace {
constexpr Long kSilent = 1;

// Pings 1-3 are the pre-check; the adaptor answers from ping `answersFrom` on (0: never).
std::function<Long(qsizetype)> adaptorAnswersFrom(int answersFrom) {
    return [answersFrom](qsizetype n) { return answersFrom && n >= answersFrom ? 0 : kSilent; };
}
} // namespace

class TestAssignment : public QObject {
    Q_OBJECT
private slots:
    // Catches a datagram byte out of place or an octet in the wrong order.
    void datagram_data() {
        QTest::addColumn<int>("mac5");
        QTest::addColumn<int>("mac6");
        QTest::addColumn<QString>("ip");
        QTest::addColumn<QByteArray>("tail"); // the six bytes after the header, in hex
        QTest::newRow("ok_example") << 0x2c << 0x3d << "192.168.1.20" << QByteArray("2c3dc0a80114");
        QTest::newRow("ok_zero_and_ff") << 0x00 << 0xff << "10.0.7.254" << QByteArray("00ff0a0007fe");
        QTest::newRow("ok_255_inside_host") << 0x01 << 0x02 << "10.78.255.254" << QByteArray("01020a4efffe");
    }
    void datagram() {
        QFETCH(int, mac5);
        QFETCH(int, mac6);
        QFETCH(QString, ip);
        QFETCH(QByteArray, tail);
        const QByteArray d =
            AssignmentDatagram::build(quint8(mac5), quint8(mac6), *AddressRules::readDotted(ip)).toLatin1();
        QCOMPARE(d.size(), 20);
        QCOMPARE(d.left(14).toHex(),
                 QByteArray("000000fc") + QByteArray("NE-TRIKA").toHex() + QByteArray("0000"));
        QCOMPARE(d.mid(14).toHex(), tail);
    }

    // Catches the broadcast route connecting before the probe cycle has
    // stopped, to the wrong port, or leaving the datagram socket open.
    void broadcastRouteStartsMenu() {
        FakeWindow w;
        w.fillAddresses("00-20-4a-1b-2C-3d", "192.168.1.20");
        w.probe.answer = adaptorAnswersFrom(4);
        w.datagramSocket.setState(SocketControl::Open); // left open by something earlier
        w.press();
        QCOMPARE(w.datagramSocket.sent.size(), 1);
        QCOMPARE(w.datagramSocket.sent[0].toLatin1().mid(14).toHex(), QByteArray("2c3dc0a80114"));
        QCOMPARE(w.datagramSocket.protocol, SocketControl::Udp);
        QCOMPARE(w.datagramSocket.host, QStringLiteral("255.255.255.255"));
        QCOMPARE(w.datagramSocket.port, 30718);
        QCOMPARE(w.datagramSocket.state(), int(SocketControl::Closed));
        // Pre-check: ticks 1-4; the adaptor answers on tick 5, the cycle stops on tick 6.
        QCOMPARE(w.ticks, 6);
        QCOMPARE(w.setupMenuSocket.connects, 1);
        QCOMPARE(w.setupMenuSocket.host, QStringLiteral("192.168.1.20"));
        QCOMPARE(w.setupMenuSocket.port, 9999);
        QCOMPARE(w.controller->progress().stage(), RunStage::SetupMenu);
        QCOMPARE(w.controller->run.dialogueStep, 0);
        QCOMPARE(int(w.controller->run.menuChunkCount), 0);
        QVERIFY(w.timer.enabled());
        QVERIFY(w.locked());
    }

    // Catches a failed send that is reported instead of left to the probe cycle.
    void broadcastSendFailureIgnored() {
        FakeWindow w;
        w.fillAddresses("00-20-4a-1b-2c-3d", "192.168.1.20");
        w.datagramSocket.failSend = true;
        w.press();
        QCOMPARE(w.status.message(), Sequencer::kSetupFailed);
        QCOMPARE(w.neighbours.calls, QStringList({"release 192.168.1.20"}));
        QCOMPARE(w.setupMenuSocket.connects, 0);
        QVERIFY(w.idle());
    }

    // What reaches the adaptor is what was checked: catches a datagram or a
    // setup-menu gateway built from fields edited during the pre-check (an
    // address nobody checked handed to a sign), or fields left editable while
    // the run is busy.
    void fieldsEditedDuringRunChangeNothing() {
        FakeWindow w;
        w.fillAddresses("00-20-4a-1b-2c-3d", "192.168.1.20", "255.255.255.0", "192.168.1.1");
        w.probe.answer = adaptorAnswersFrom(4);
        bool readOnlyDuringCheck = true;
        w.atTick[2] = [&] {
            for (const auto& f : w.fields)
                readOnlyDuringCheck = readOnlyDuringCheck && f->readOnly();
            // Whatever reaches the fields now (a paste, a program) is not the run's.
            w.fillAddresses("00-20-4a-1b-99-88", "192.168.1.77", "255.255.255.0", "192.1.2.254");
        };
        w.press();
        QVERIFY(readOnlyDuringCheck);
        QVERIFY(!w.signTestButton.enabled());
        QCOMPARE(w.datagramSocket.sent.size(), 1);
        QCOMPARE(w.datagramSocket.sent[0].toLatin1().mid(14).toHex(), QByteArray("2c3dc0a80114"));
        QCOMPARE(w.probe.pinged, QStringList(4, QStringLiteral("192.168.1.20")));
        QCOMPARE(w.setupMenuSocket.host, QStringLiteral("192.168.1.20"));
        // The menu's gateway octets, when their step comes, are the checked ones.
        w.setupMenuSocket.setState(SocketControl::Connected);
        for (int t = 0; t < 20 && w.controller->run.dialogueStep != SetupMenuDialogue::HostBits; ++t) {
            w.menuSends(menuPrompt(w.controller->run.dialogueStep));
            w.tick();
        }
        const qsizetype yes = w.setupMenuSocket.sent.indexOf(QStringLiteral("y"));
        QVERIFY(yes > 0);
        QCOMPARE(w.setupMenuSocket.sent.mid(yes + 1, 4),
                 QStringList({"192\r\n", "168\r\n", "1\r\n", "1\r\n"}));
    }

    // Catches a wrong host command line, a connection made to a silent adaptor,
    // or a missing clean-up of the host entry.
    void arpRoute_data() {
        QTest::addColumn<int>("answersFrom");
        QTest::addColumn<int>("connectOutcome");
        QTest::addColumn<QStringList>("launched");
        QTest::addColumn<QString>("status");
        QTest::addColumn<int>("phaseNumber"); // as the error lines give it
        QTest::addColumn<bool>("unlocked");
        const QString set = QStringLiteral("bind 201.23.12.82 00-80-a3-61-63-dd");
        const QString del = QStringLiteral("release 201.23.12.82");
        QTest::newRow("ok_answers_connects")
            << 4 << int(SocketControl::Connected) << QStringList{set} << "Setup is in process ..."
            << 1 << false;
        QTest::newRow("error_silent_fails_and_cleans")
            << 0 << -1 << QStringList{set, del} << Sequencer::kSetupFailed << 2 << true;
        QTest::newRow("error_connection_refused")
            << 4 << int(SocketControl::Error) << QStringList{set, del}
            << "1002 - Connection refused by the remote host (SetIPAddr, 2,0)" << 2
            << true;
    }
    void arpRoute() {
        QFETCH(int, answersFrom);
        QFETCH(int, connectOutcome);
        QFETCH(QStringList, launched);
        QFETCH(QString, status);
        QFETCH(int, phaseNumber);
        QFETCH(bool, unlocked);
        FakeWindow w;
        w.fillAddresses("00-80-a3-61-63-DD", "201.23.12.82");
        w.probe.answer = adaptorAnswersFrom(answersFrom);
        w.commandLineSocket.connectOutcome = connectOutcome;
        w.press();
        QCOMPARE(w.neighbours.calls, launched);
        QCOMPARE(w.status.message(), status);
        QCOMPARE(w.controller->sequencer().phaseNumber(), phaseNumber);
        QCOMPARE(w.idle(), unlocked);
        QCOMPARE(w.commandLineSocket.connects, answersFrom ? 1 : 0);
        if (connectOutcome == SocketControl::Connected) {
            QCOMPARE(w.transcriptBox.text(), QStringLiteral("Connected"));
            QCOMPARE(w.commandLineSocket.host, QStringLiteral("201.23.12.82"));
            QCOMPARE(w.commandLineSocket.port, 23);
            QCOMPARE(int(w.controller->run.counter), 0);
            QVERIFY(w.timer.enabled());
        }
    }

    // Catches a connection from an earlier run that is reused rather than closed once.
    void arpRouteClosesEarlierConnection() {
        FakeWindow w;
        w.fillAddresses("00-80-a3-61-63-dd", "201.23.12.82");
        w.probe.answer = adaptorAnswersFrom(4);
        w.commandLineSocket.setState(SocketControl::Connected);
        w.commandLineSocket.connectOutcome = SocketControl::Connected;
        w.press();
        QCOMPARE(w.commandLineSocket.closes, 1);
        QCOMPARE(w.commandLineSocket.connects, 1);
    }

    // Catches a host command that cannot be started being ignored, which would
    // probe an adaptor that was never bound.
    void arpCommandNotStarted() {
        FakeWindow w;
        w.fillAddresses("00-80-a3-61-63-dd", "201.23.12.82");
        w.neighbours.fail = true;
        w.press();
        QCOMPARE(w.status.message(), QStringLiteral("1005 - Command could not be started (SetIPAddr, 2,0)"));
        QCOMPARE(w.probe.pinged.size(), 3); // the pre-check only
        QVERIFY(w.idle());
    }
};

QTEST_GUILESS_MAIN(TestAssignment)
#include "tst_assignment.moc"
