#include "FakeWindow.h"

#include <QTest>

class TestReceivePath : public QObject {
    Q_OBJECT
private slots:
    // Catches old chunks kept (a stale prompt matched later) or a count that
    // also counts empty arrivals.
    void commandLineKeepsLatestOnly() {
        FakeWindow w;
        w.clientSends(QStringLiteral("Welcome\r\n"));
        w.clientSends(QStringLiteral("Username> "));
        QCOMPARE(int(w.controller->run.counter), 2);
        QCOMPARE(w.controller->run.commandLineChunks.upperBound(), 1);
        QCOMPARE(w.controller->run.commandLineChunks.at(0), QString());
        QCOMPARE(w.controller->run.commandLineChunks.at(1), QStringLiteral("Username> "));
        QCOMPARE(w.transcriptBox.text(), QStringLiteral("Username> "));

        w.clientSends(QString()); // an arrival that delivers nothing
        QCOMPARE(int(w.controller->run.counter), 2);
        QCOMPARE(w.controller->run.commandLineChunks.at(1), QString());
        QCOMPARE(w.transcriptBox.text(), QStringLiteral("Username> "));
    }

    // Catches a first chunk after the reset stored anywhere but index 0.
    void firstChunkAfterReset() {
        FakeWindow w;
        w.controller->run.counter = 5;
        w.clientSends(QStringLiteral("old"));
        w.controller->run.counter = 0;
        w.clientSends(QStringLiteral("Username> "));
        QCOMPARE(w.controller->run.commandLineChunks.upperBound(), 0);
        QCOMPARE(w.controller->run.commandLineChunks.at(0), QStringLiteral("Username> "));
        QCOMPARE(int(w.controller->run.counter), 1);
    }

    // Catches menu chunks stored before the dialogue began, or an array that
    // keeps stale elements from an earlier run.
    void menuStore_data() {
        QTest::addColumn<int>("state");
        QTest::addColumn<int>("countBefore");
        QTest::addColumn<int>("oldElements");
        QTest::addColumn<int>("countAfter");
        QTest::addColumn<int>("upperAfter"); // -2: array untouched
        QTest::newRow("state0_shown_not_stored") << 0 << 0 << 0 << 0 << -2;
        QTest::newRow("state2_first_chunk") << 2 << 0 << 0 << 1 << 0;
        QTest::newRow("state2_shrinks_old_run") << 2 << 0 << 5 << 1 << 0;
        QTest::newRow("state4_grows") << 4 << 3 << 3 << 4 << 3;
    }
    void menuStore() {
        QFETCH(int, state);
        QFETCH(int, countBefore);
        QFETCH(int, oldElements);
        QFETCH(int, countAfter);
        QFETCH(int, upperAfter);
        FakeWindow w;
        if (oldElements > 0)
            w.controller->run.menuChunks.redim(oldElements - 1, false);
        w.controller->run.dialogueStep = state;
        w.controller->run.menuChunkCount = countBefore;
        w.menuSends(QStringLiteral("Your choice ? "));
        QCOMPARE(w.transcriptBox.text(), QStringLiteral("Text5\r\nYour choice ? "));
        QCOMPARE(int(w.controller->run.menuChunkCount), countAfter);
        if (upperAfter == -2) {
            QCOMPARE(w.controller->run.menuChunks.allocated(), oldElements > 0);
        } else {
            QCOMPARE(w.controller->run.menuChunks.upperBound(), upperAfter);
            QCOMPARE(w.controller->run.menuChunks.at(upperAfter), QStringLiteral("Your choice ? "));
        }
    }

    // Catches a transcript or chunk store that grows without bound while a
    // device talks without end.
    void floodStaysBounded() {
        FakeWindow w;
        w.controller->run.dialogueStep = 2;
        const QString big(40000, QLatin1Char('x'));
        for (int i = 0; i < 5; ++i)
            w.menuSends(big + QString::number(i));
        QCOMPARE(w.transcriptBox.text().size(), kTranscriptLimit);
        QVERIFY(w.transcriptBox.text().endsWith(QStringLiteral("x4")));
        QCOMPARE(int(w.controller->run.menuChunkCount), 5);
        QCOMPARE(w.controller->run.menuChunks.upperBound(), 4);
        QCOMPARE(w.controller->run.menuChunks.at(3), QString());
        QCOMPARE(w.controller->run.menuChunks.at(4), big + QStringLiteral("4"));
    }

    // Catches a counter overflow that escapes the handler or loses what was stored.

    void menuCountOverflowIsQuiet() {
        FakeWindow w;
        w.controller->run.dialogueStep = 2;
        w.controller->run.menuChunkCount = 32767;
        w.menuSends(QStringLiteral("x"));
        QCOMPARE(int(w.controller->run.menuChunkCount), 32767);
        QCOMPARE(w.controller->run.menuChunks.at(32767), QStringLiteral("x"));
        QCOMPARE(w.status.message(), QString());
    }

    // Catches a peer close that is not shown or that touches the run.
    void clientClose() {
        FakeWindow w;
        w.controller->progress().enter(RunStage::CommandLine);
        w.controller->run.dialogueStep = 4;
        w.controller->commandLineClosed();
        QCOMPARE(w.transcriptBox.text(), QStringLiteral("Disconnected"));
        QCOMPARE(w.controller->run.dialogueStep, 4);
        QCOMPARE(w.controller->progress().stage(), RunStage::CommandLine);
    }
};

QTEST_GUILESS_MAIN(TestReceivePath)
#include "tst_receivepath.moc"
