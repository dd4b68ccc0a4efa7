#include "FakeWindow.h"
#include "setup/Sequencer.h"

#include <QTest>

namespace {
// A command-line dialogue as the ARP route leaves it once connected.
void startDialogue(FakeWindow& w) {
    w.commandLineSocket.setState(SocketControl::Connected);
    w.controller->lockWindow();
    w.controller->commandLine().begin(FakeWindow::target("201.23.12.82", "255.255. 255.0", "201.23.12.2"),
                                      true);
    w.controller->sequencer().startDialogue(RunStage::CommandLine);
}
} // namespace

class TestCommandLine : public QObject {
    Q_OBJECT
private slots:
    // Catches a wrong line, a carriage return, a step out of order, a mask
    // sent as typed rather than as checked (blanks and all), or a closing
    // without the host entry's removal.
    void smoothRun() {
        FakeWindow w;
        startDialogue(w);
        const QStringList prompts{"Username> ", "Local_1> ",  "Password> ", "Local_1>> ",
                                  "Local_1>> ", "Local_1>> ", "Local_1>> ", "Local_1>> ",
                                  "Local_1>> ", "Local_1>> ", "Local_1>> "};
        QList<Long> states;
        for (const QString& p : prompts) {
            w.clientSends(QStringLiteral("banner\r\n") + p);
            w.tick();
            states << w.controller->run.dialogueStep;
        }
        QCOMPARE(states, QList<Long>({1, 2, 3, 4, 5, 10, 14, 15, 16, 6, 7}));
        QCOMPARE(w.commandLineSocket.sent,
                 QStringList({"hello\n", "SET PRIVILEGED\n", "tundra\n", "CHANGE IPAddress 201.23.12.82\n",
                              "CHANGE Gateway 201.23.12.2\n", "CHANGE Subnet Mask 255.255.255.0\n",
                              "CHANGE SPEED 9600\n", "CHANGE CHARSIZE 8\n", "CHANGE STOPBITS 1\n",
                              "CHANGE PARITY NONE\n", "Logout\n"}));
        QVERIFY(!w.commandLineSocket.sent.join(QString()).contains(QChar(13)));
        QCOMPARE(w.status.message(), Sequencer::kSetupSucceeded);
        QVERIFY(w.idle());
        QVERIFY(!w.timer.enabled());
        QCOMPARE(w.neighbours.calls, QStringList({"release 201.23.12.82"}));
        QCOMPARE(w.messageBox.shown.size(), size_t(1));
        QCOMPARE(w.messageBox.shown[0].title, QStringLiteral("Test IP Address"));
        QCOMPARE(w.commandLineSocket.closes, 0); // the adaptor ends the connection itself
    }

    // Catches prompt windows one character off, or a case-insensitive match.
    void promptMatching_data() {
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("chunk");
        QTest::addColumn<bool>("passes");
        QTest::addColumn<QString>("shown");
        QTest::newRow("ok_username") << 0 << "Welcome\r\nUsername> " << true << "Username> ";
        QTest::newRow("error_username_no_space") << 0 << "Username>" << false << "";
        QTest::newRow("error_username_lower") << 0 << "username> " << false << "";
        QTest::newRow("ok_local_any_three_chars") << 1 << "Local_9>x" << true << "Local_";
        QTest::newRow("ok_local_nine_window") << 1 << "hello\r\nLocal_1> " << true << "Local_";
        QTest::newRow("error_local_ten_window") << 1 << "Local_1>> " << false << "";
        QTest::newRow("ok_password") << 2 << "Password> " << true << "Password> ";
        QTest::newRow("ok_privileged_prompt") << 3 << "xx\r\nLocal_1>> " << true << "Local_1>> ";
        QTest::newRow("error_privileged_single_angle") << 3 << "xx\r\nLocal_1> " << false << "";
        QTest::newRow("error_privileged_short_chunk") << 4 << "Local>> " << false << "";
    }
    void promptMatching() {
        QFETCH(int, state);
        QFETCH(QString, chunk);
        QFETCH(bool, passes);
        QFETCH(QString, shown);
        FakeWindow w;
        startDialogue(w);
        w.controller->run.dialogueStep = state;
        w.transcriptBox.fill(QStringLiteral("before"));
        w.clientSends(chunk);
        w.transcriptBox.fill(QStringLiteral("before"));
        w.tick();
        QCOMPARE(w.commandLineSocket.sent.size(), passes ? 1 : 0);
        QCOMPARE(w.transcriptBox.text(), passes ? shown : QStringLiteral("before"));
        QCOMPARE(w.controller->run.dialogueStep == state, !passes);
    }

    // Catches privileged steps that wait for new text: the same prompt still
    // being the latest chunk lets the next command through at once.
    void stalePromptPassesAgain() {
        FakeWindow w;
        startDialogue(w);
        w.controller->run.dialogueStep = 3;
        w.clientSends(QStringLiteral("Local_1>> "));
        w.tick();
        w.tick();
        w.tick();
        QCOMPARE(w.controller->run.dialogueStep, 10);
        QCOMPARE(w.commandLineSocket.sent.size(), 3);
    }

    // Catches a step that reads before anything arrived without reporting it,
    // or that stops the timer or changes the step.
    void nothingReceivedYet() {
        FakeWindow w;
        startDialogue(w);
        w.tick();
        QCOMPARE(w.status.message(), QStringLiteral("9 - Subscript out of range (Timer, 1 0)"));
        QVERIFY(w.idle());
        QVERIFY(w.timer.enabled());
        w.clientSends(QStringLiteral("Username> "));
        w.tick();
        QCOMPARE(w.controller->run.dialogueStep, 1);
    }

    // Catches a failed send that still advances the step, so a line would be skipped.
    void failedSendRepeatsLine() {
        FakeWindow w;
        startDialogue(w);
        w.controller->run.dialogueStep = 3;
        w.clientSends(QStringLiteral("Local_1>> "));
        w.commandLineSocket.setState(SocketControl::Closed);
        w.tick();
        QCOMPARE(w.status.message(),
                 QStringLiteral("1001 - Wrong connection state for the requested operation (Timer, 1 3)"));
        QCOMPARE(w.controller->run.dialogueStep, 3);
        w.commandLineSocket.setState(SocketControl::Connected);
        w.tick();
        QCOMPARE(w.commandLineSocket.sent, QStringList({"CHANGE IPAddress 201.23.12.82\n"}));
    }

    // Catches a prompt that never comes leaving the window locked for good (a
    // wrong password, for one), or a stall reported more than once.
    void stalledPromptUnlocksOnce() {
        FakeWindow w;
        startDialogue(w);
        w.controller->run.dialogueStep = 3;
        w.clientSends(QStringLiteral("Invalid password\r\nLocal_1> "));
        for (int t = 0; t < Sequencer::kStallTicks - 1; ++t)
            w.tick();
        QVERIFY(w.locked());
        w.tick();
        QCOMPARE(w.status.message(), QStringLiteral("1008 - The adaptor has stopped answering (Timer, 1 3)"));
        QVERIFY(w.idle());
        QVERIFY(w.timer.enabled()); // still listening for the prompt
        w.status.showMessage(QString());
        for (int t = 0; t < Sequencer::kStallTicks; ++t)
            w.tick();
        QCOMPARE(w.status.message(), QString());
        // The prompt comes after all: the dialogue goes on.
        w.clientSends(QStringLiteral("Local_1>> "));
        w.tick();
        QCOMPARE(w.controller->run.dialogueStep, 4);
    }

    // Catches a stall count that goes on from one step to the next, so that a
    // slow adaptor whose every prompt comes is reported as stopped, or a limit
    // one tick off.
    void slowPromptsEachJustInTime_data() {
        QTest::addColumn<int>("waits");   // ticks without a prompt before each one
        QTest::addColumn<int>("reports"); // how often the stall is shown
        QTest::newRow("ok_each_wait_just_under_the_limit") << Sequencer::kStallTicks - 1 << 0;
        QTest::newRow("error_each_wait_at_the_limit") << Sequencer::kStallTicks << 11;
    }
    void slowPromptsEachJustInTime() {
        QFETCH(int, waits);
        QFETCH(int, reports);
        FakeWindow w;
        startDialogue(w);
        const QStringList prompts{"Username> ", "Local_1> ",  "Password> ", "Local_1>> ",
                                  "Local_1>> ", "Local_1>> ", "Local_1>> ", "Local_1>> ",
                                  "Local_1>> ", "Local_1>> ", "Local_1>> "};
        w.clientSends(QStringLiteral("Welcome\r\n"));
        for (const QString& p : prompts) {
            for (int t = 0; t < waits; ++t)
                w.tick();
            w.clientSends(p);
            w.tick();
            // The adaptor echoes the line: the prompt is no longer the latest chunk.
            w.clientSends(
                QString(w.commandLineSocket.sent.last()).replace(QChar(10), QStringLiteral("\r\n")));
        }
        QCOMPARE(w.commandLineSocket.sent.size(), prompts.size());
        QCOMPARE(w.status.message(), Sequencer::kSetupSucceeded);
        QCOMPARE(
            int(w.status.history.filter(QStringLiteral("1008 - The adaptor has stopped answering")).size()),
            reports);
    }

    // Catches a chunk from before the reset being matched by the dialogue.

    void chunkBeforeResetIsNeverRead() {
        FakeWindow w;
        startDialogue(w);
        w.controller->run.counter = 3;
        w.clientSends(QStringLiteral("Username> ")); // stored at index 3
        w.controller->run.counter = 0;               // the route resets on connecting
        w.tick();
        QVERIFY(w.status.message().startsWith(QStringLiteral("9 - ")));
        QCOMPARE(w.commandLineSocket.sent.size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
