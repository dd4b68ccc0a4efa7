#include "FakeWindow.h"
#include "setup/Sequencer.h"
#include "signtest/SignMessages.h"

#include <QTest>

namespace {
QByteArray bytes(const QString& s) {
    return s.toLatin1();
}
// The sign's side of a smooth connection attempt.
void connectsWhenAsked(FakeWindow& w) {
    w.pump.events.push_back([&w] { w.signSocket.setState(SocketControl::Connected); });
}
} // namespace

class TestSignTest : public QObject {
    Q_OBJECT
private slots:
    // Catches a frame byte out of place or a wrong length in either message.
    void messages_data() {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QByteArray>("hex");
        QTest::newRow("first_24_bytes") << SignMessages::first()
                                        << QByteArray("0000000000015a303002452441415530313030464630300"
                                                      "4");
        QTest::newRow("second_34_bytes") << SignMessages::second()
                                         << QByteArray("0000000000015a3030024141"
                                                       "1b2062"
                                                       "4950205465737420537563636573736675"
                                                       "6c"
                                                       "04");
    }
    void messages() {
        QFETCH(QString, message);
        QFETCH(QByteArray, hex);
        QCOMPARE(bytes(message).toHex(), hex);
    }

    // Catches a test sent to the wrong port or address, messages out of order,
    // or a connection left open after the messages went out.
    void smoothTest() {
        FakeWindow w;
        w.controller->signTest().aimAt(0xc9170c52); // 201.23.12.82
        w.status.showMessage(Sequencer::kSetupSucceeded);
        QStringList transcriptBox;
        w.pump.events.push_back([&] { transcriptBox << w.transcriptBox.text(); });
        connectsWhenAsked(w);
        w.sendTest();
        QCOMPARE(transcriptBox, QStringList({"Connecting"}));
        QCOMPARE(w.transcriptBox.text(), QStringLiteral("Connected"));
        QCOMPARE(w.signSocket.host, QStringLiteral("201.23.12.82"));
        QCOMPARE(w.signSocket.port, 3001);
        QCOMPARE(w.signSocket.protocol, SocketControl::Tcp);
        QCOMPARE(w.signSocket.sent, QStringList({SignMessages::first(), SignMessages::second()}));
        QVERIFY(w.controller->signTest().handedOver());
        QCOMPARE(w.signSocket.closes, 0);
        w.controller->signMessagesSent();
        QCOMPARE(w.signSocket.closes, 1);
        QCOMPARE(w.status.message(), QString());
        w.controller->signMessagesSent(); // a late notice changes nothing
        QCOMPARE(w.signSocket.state(), int(SocketControl::Closed));
    }

    // Catches an earlier test connection that is reused instead of closed once.
    void stillConnectedIsClosedFirst() {
        FakeWindow w;
        w.controller->signTest().aimAt(0xc9170c52); // 201.23.12.82
        w.signSocket.setState(SocketControl::Connected);
        connectsWhenAsked(w);
        w.sendTest();
        QCOMPARE(w.signSocket.closes, 1);
        QCOMPARE(w.signSocket.connects, 1);
        QCOMPARE(w.signSocket.sent.size(), 2);
    }

    // Catches a failed connection that hangs the wait, is not reported, or
    // leaves a completion notice able to close something.
    void refusedConnection() {
        FakeWindow w;
        w.controller->signTest().aimAt(0xc9170c52); // 201.23.12.82
        w.pump.events.push_back([&] { w.signSocket.setState(SocketControl::Error); });
        w.sendTest();
        QCOMPARE(w.status.message(),
                 QStringLiteral("1002 - Connection refused by the remote host (SendTest)"));
        QVERIFY(w.idle());
        QCOMPARE(w.signSocket.sent, QStringList());
        QVERIFY(!w.controller->signTest().handedOver());
        w.controller->signMessagesSent();
        QCOMPARE(w.signSocket.closes, 0);
    }

    // Catches a closing that asks before stopping the timer, asks the wrong
    // question, or sends the test on No.
    void closingQuestion_data() {
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("tests");
        QTest::newRow("yes_sends_test") << int(MessageBox::Yes) << 1;
        QTest::newRow("no_sends_nothing") << int(MessageBox::No) << 0;
    }
    void closingQuestion() {
        QFETCH(int, answer);
        QFETCH(int, tests);
        FakeWindow w;
        w.controller->signTest().aimAt(0xc9170c52); // 201.23.12.82
        w.controller->lockWindow();
        w.timer.setEnabled(true);
        w.messageBox.answers.push_back(answer);
        bool cleanedUpBeforeQuestion = false;
        if (tests)
            connectsWhenAsked(w);
        w.controller->sequencer().closing(
            [&] { cleanedUpBeforeQuestion = w.messageBox.shown.empty() && w.idle(); });
        QVERIFY(cleanedUpBeforeQuestion);
        QVERIFY(!w.timer.enabled());
        QCOMPARE(w.messageBox.shown.size(), size_t(1));
        QCOMPARE(w.messageBox.shown[0].text,
                 QStringLiteral("Do you want to send a test message to the sign? \n"
                                "(Before sending test message, you need reboot adaptor)"));
        QCOMPARE(w.messageBox.shown[0].buttons, MessageBox::YesNo);
        QCOMPARE(w.messageBox.shown[0].icon, MessageBox::NoIcon);
        QCOMPARE(w.messageBox.shown[0].title, QStringLiteral("Test IP Address"));
        QCOMPARE(w.signSocket.connects, tests);
        QCOMPARE(w.status.message(), Sequencer::kSetupSucceeded);
    }
};

QTEST_GUILESS_MAIN(TestSignTest)
#include "tst_signtest.moc"
