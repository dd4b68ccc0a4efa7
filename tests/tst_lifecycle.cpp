#include "FakeWindow.h"

#include <QTest>

class TestLifecycle : public QObject {
    Q_OBJECT
private slots:
    // Catches a wrong title, fields not painted inactive, or a timer left
    // running or at the wrong pace after the load.
    void load() {
        FakeWindow w;
        QCOMPARE(w.frame.title, QStringLiteral("Ethernet Adaptor IP Configuration v1.0.4"));
        for (const auto& f : w.fields)
            QCOMPARE(f->colour(), FieldColour::Inactive);
        QVERIFY(!w.timer.enabled());
        QCOMPARE(w.timer.interval(), 3000);
        QCOMPARE(w.probe.initializations, 0);
        QCOMPARE(w.status.message(), QString());
    }

    // Catches a logout sent on the wrong socket, with the wrong bytes, or a
    // sign-test connection that is sent anything.
    void unload_data() {
        QTest::addColumn<int>("client");
        QTest::addColumn<int>("menu");
        QTest::addColumn<int>("test");
        QTest::addColumn<QStringList>("clientSent");
        QTest::addColumn<QStringList>("menuSent");
        QTest::addColumn<QList<int>>("closes"); // client, menu, test
        const QStringList logout{QStringLiteral("logout\n")};
        QTest::newRow("idle_nothing_open")
            << 0 << 0 << 0 << QStringList() << QStringList() << QList<int>{0, 0, 0};
        QTest::newRow("command_line_connected")
            << 7 << 0 << 0 << logout << QStringList() << QList<int>{1, 0, 0};
        QTest::newRow("setup_menu_connected")
            << 0 << 7 << 0 << QStringList() << logout << QList<int>{0, 1, 0};
        QTest::newRow("sign_test_connected")
            << 0 << 0 << 7 << QStringList() << QStringList() << QList<int>{0, 0, 1};
        QTest::newRow("all_connected") << 7 << 7 << 7 << logout << logout << QList<int>{1, 1, 1};
        QTest::newRow("connecting_left_alone")
            << 6 << 6 << 6 << QStringList() << QStringList() << QList<int>{0, 0, 0};
    }
    void unload() {
        QFETCH(int, client);
        QFETCH(int, menu);
        QFETCH(int, test);
        QFETCH(QStringList, clientSent);
        QFETCH(QStringList, menuSent);
        QFETCH(QList<int>, closes);
        FakeWindow w;
        w.commandLineSocket.setState(client);
        w.setupMenuSocket.setState(menu);
        w.signSocket.setState(test);
        w.controller->exitClicked();
        QCOMPARE(w.commandLineSocket.sent, clientSent);
        QCOMPARE(w.setupMenuSocket.sent, menuSent);
        QCOMPARE(w.signSocket.sent, QStringList());
        QCOMPARE(QList<int>({w.commandLineSocket.closes, w.setupMenuSocket.closes, w.signSocket.closes}),
                 closes);
        QCOMPARE(w.datagramSocket.closes, 0);
        QCOMPARE(w.frame.ended, 1);
        QCOMPARE(w.neighbours.calls, QStringList()); // no ARP clean-up at exit
    }

    // Catches an unload that stops halfway without ending the program when a
    // logout cannot be sent.
    void unloadEndsDespiteSendError() {
        FakeWindow w;
        w.commandLineSocket.setState(SocketControl::Connected);
        w.commandLineSocket.failSend = true;
        w.signSocket.setState(SocketControl::Connected);
        w.controller->unload();
        QCOMPARE(w.commandLineSocket.closes, 0);
        QCOMPARE(w.signSocket.closes, 0);
        QCOMPARE(w.frame.ended, 1);
        // A second close of the window does not run the unload again.
        w.controller->unload();
        QCOMPARE(w.frame.ended, 1);
    }
};

QTEST_GUILESS_MAIN(TestLifecycle)
#include "tst_lifecycle.moc"
