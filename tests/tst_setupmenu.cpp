#include "FakeWindow.h"
#include "setup/Sequencer.h"

#include <QTest>

namespace {
const QString kCrLf = QStringLiteral("\r\n");

// A setup-menu dialogue as the broadcast route leaves it once connecting.
void startDialogue(FakeWindow& w, int hostBits = 8) {
    AdaptorTarget target = FakeWindow::target("192.168.1.20", "255.255.255.0", "192.168.1.1");
    target.hostBits = hostBits;
    w.setupMenuSocket.setState(SocketControl::Connected);
    w.controller->lockWindow();
    w.controller->setupMenu().begin(target, false);
    w.controller->sequencer().startDialogue(RunStage::SetupMenu);
    w.transcriptBox.fill(QStringLiteral("Connected"));
}

// What the adaptor has said last before a tick of the given step.
QString promptFor(Long state) {
    switch (state) {
    case 2:
        return QStringLiteral("1 Channel 1\r\n9 Save and exit\r\nYour choice ? ");
    case 4:
        return QStringLiteral("Set Gateway IP Address (N) "); // the question starts 27 from the end
    case 5:
        return QStringLiteral("Netmask: Number of Bits for Host Part (0=default) (16) ");
    case 9:
    case 6:
        return QStringLiteral("Your choice ? ");
    default:
        return QStringLiteral("(000) ");
    }
}
} // namespace

class TestSetupMenu : public QObject {
    Q_OBJECT
private slots:
    // Catches a wrong item, a wrong line end on "0" or "y", a step out of
    // order, or a closing that removes a host entry on this route.
    void smoothRun() {
        FakeWindow w;
        startDialogue(w, 16);
        // The fields are not the run's: the checked gateway is sent.
        w.field(4, 1).fill(QStringLiteral(" 99"));
        int ticks = 0;
        while (w.timer.enabled() && ticks < 100) {
            if (w.controller->run.dialogueStep != 0)
                w.menuSends(promptFor(w.controller->run.dialogueStep));
            w.tick();
            ++ticks;
        }
        QStringList expected{kCrLf, "0\n",     kCrLf,      kCrLf,    kCrLf,   kCrLf,
                             "y",   "192\r\n", "168\r\n",  "1\r\n",  "1\r\n", "16\r\n",
                             kCrLf, "1\r\n",   "9600\r\n", "4C\r\n", kCrLf,   "03001\r\n"};
        for (int i = 0; i < 12; ++i)
            expected << kCrLf;
        expected << "9\r\n";
        QCOMPARE(w.setupMenuSocket.sent, expected);
        QCOMPARE(ticks, 32);
        QCOMPARE(w.controller->run.dialogueStep, 7);
        QCOMPARE(w.status.message(), Sequencer::kSetupSucceeded);
        QVERIFY(w.idle());
        QCOMPARE(w.setupMenuSocket.closes, 1);
        QCOMPARE(w.neighbours.calls, QStringList());
        QCOMPARE(w.messageBox.shown.size(), size_t(1));
    }

    // Catches prompt windows one character off in the three matched steps.
    void promptMatching_data() {
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("chunk");
        QTest::addColumn<bool>("passes");
        QTest::newRow("ok_choice_with_text_before") << 2 << "menu...\r\nYour choice ? " << true;
        QTest::newRow("error_choice_one_space_short") << 2 << "Your choice ?" << false;
        QTest::newRow("ok_default_space_before") << 5 << "Bits (0=default) (8) " << true;
        QTest::newRow("ok_default_space_after") << 5 << "Bits(0=default) (8)  " << true;
        QTest::newRow("ok_default_exact_window") << 5 << " (0=default)12345" << true;
        QTest::newRow("error_default_six_after") << 5 << " (0=default)123456" << false;
        QTest::newRow("error_default_four_after") << 5 << "xx (0=default)1234" << false;
        QTest::newRow("ok_default_short_chunk_is_all") << 5 << " (0=default)1234" << true;

        QTest::newRow("error_default_not_space_beside") << 5 << "x(0=default)12345" << false;
        QTest::newRow("error_default_elsewhere") << 5 << "(0=default) host bits ? " << false;
        QTest::newRow("ok_save_choice") << 6 << "Your choice ? " << true;
        QTest::newRow("error_save_choice_no_space") << 6 << "choice ?" << false;
    }
    void promptMatching() {
        QFETCH(int, state);
        QFETCH(QString, chunk);
        QFETCH(bool, passes);
        FakeWindow w;
        startDialogue(w);
        w.controller->run.dialogueStep = state;
        w.menuSends(chunk);
        w.tick();
        QCOMPARE(w.setupMenuSocket.sent.size(), passes ? 1 : 0);
        QCOMPARE(w.controller->run.dialogueStep == state, !passes);
        // Matched steps append to the transcript only when they pass.
        QCOMPARE(w.transcriptBox.text().endsWith(kCrLf + chunk + kCrLf + chunk), passes);
    }

    // Catches a gateway step that does not repeat the chunk in the transcript
    // while it waits, or that sends before its question.
    void gatewayWaitAppends() {
        FakeWindow w;
        startDialogue(w);
        w.controller->run.dialogueStep = 4;
        w.controller->run.counter = 0;
        w.menuSends(QStringLiteral("Gateway? "));
        const QString before = w.transcriptBox.text();
        w.tick();
        w.tick();
        QCOMPARE(w.transcriptBox.text(), before + kCrLf + "Gateway? " + kCrLf + "Gateway? ");
        QCOMPARE(w.setupMenuSocket.sent.size(), 0);
    }

    // Catches the host bits sent with padding or in the wrong base.
    void hostBits_data() {
        QTest::addColumn<int>("bits");
        QTest::addColumn<QString>("sent");
        QTest::newRow("bits_24") << 24 << "24\r\n";
        QTest::newRow("bits_16") << 16 << "16\r\n";
        QTest::newRow("bits_8") << 8 << "8\r\n";
    }
    void hostBits() {
        QFETCH(int, bits);
        QFETCH(QString, sent);
        FakeWindow w;
        startDialogue(w, bits);
        w.controller->run.dialogueStep = 5;
        w.menuSends(promptFor(5));
        w.tick();
        QCOMPARE(w.setupMenuSocket.sent, QStringList({sent}));
    }

    // Catches the failures of the first ticks not being reported in the
    // sequencer's form, or not being tried again.
    void earlyFailures_data() {
        QTest::addColumn<int>("state");
        QTest::addColumn<int>("socket");
        QTest::addColumn<QString>("status");
        QTest::newRow("error_not_connected_yet")
            << 0 << int(SocketControl::Connecting)
            << "1001 - Wrong connection state for the requested operation (Timer, 3 0)";
        QTest::newRow("error_nothing_stored")
            << 2 << int(SocketControl::Connected) << "9 - Subscript out of range (Timer, 3 2)";
    }
    void earlyFailures() {
        QFETCH(int, state);
        QFETCH(int, socket);
        QFETCH(QString, status);
        FakeWindow w;
        startDialogue(w);
        w.controller->run.dialogueStep = state;
        w.setupMenuSocket.setState(socket);
        w.tick();
        QCOMPARE(w.status.message(), status);
        QVERIFY(w.idle());
        QVERIFY(w.timer.enabled());
        QCOMPARE(w.controller->run.dialogueStep, state);
    }
};

QTEST_GUILESS_MAIN(TestSetupMenu)
#include "tst_setupmenu.moc"
