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
        QCOMPARE(int(w.form->m.mCounter), 2);
        QCOMPARE(w.form->m.mRecv.upperBound(), 1);
        QCOMPARE(w.form->m.mRecv.at(0), QString());
        QCOMPARE(w.form->m.mRecv.at(1), QStringLiteral("Username> "));
        QCOMPARE(w.Text5.text(), QStringLiteral("Username> "));

        w.clientSends(QString()); // an arrival that delivers nothing
        QCOMPARE(int(w.form->m.mCounter), 2);
        QCOMPARE(w.form->m.mRecv.at(1), QString());
        QCOMPARE(w.Text5.text(), QStringLiteral("Username> "));
    }

    // Catches a first chunk after the reset stored anywhere but index 0.
    void firstChunkAfterReset() {
        FakeWindow w;
        w.form->m.mCounter = 5;
        w.clientSends(QStringLiteral("old"));
        w.form->m.mCounter = 0;
        w.clientSends(QStringLiteral("Username> "));
        QCOMPARE(w.form->m.mRecv.upperBound(), 0);
        QCOMPARE(w.form->m.mRecv.at(0), QStringLiteral("Username> "));
        QCOMPARE(int(w.form->m.mCounter), 1);
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
            w.form->m.mMenuRecv.redim(oldElements - 1, false);
        w.form->m.mState = state;
        w.form->m.mMenuCount = countBefore;
        w.menuSends(QStringLiteral("Your choice ? "));
        QCOMPARE(w.Text5.text(), QStringLiteral("Text5\r\nYour choice ? "));
        QCOMPARE(int(w.form->m.mMenuCount), countAfter);
        if (upperAfter == -2) {
            QCOMPARE(w.form->m.mMenuRecv.allocated(), oldElements > 0);
        } else {
            QCOMPARE(w.form->m.mMenuRecv.upperBound(), upperAfter);
            QCOMPARE(w.form->m.mMenuRecv.at(upperAfter), QStringLiteral("Your choice ? "));
        }
    }

    // Catches a transcript or chunk store that grows without bound while a
    // device talks without end.
    void floodStaysBounded() {
        FakeWindow w;
        w.form->m.mState = 2;
        const QString big(40000, QLatin1Char('x'));
        for (int i = 0; i < 5; ++i)
            w.menuSends(big + QString::number(i));
        QCOMPARE(w.Text5.text().size(), Form1::kTranscriptLimit);
        QVERIFY(w.Text5.text().endsWith(QStringLiteral("x4")));
        QCOMPARE(int(w.form->m.mMenuCount), 5);
        QCOMPARE(w.form->m.mMenuRecv.upperBound(), 4);
        QCOMPARE(w.form->m.mMenuRecv.at(3), QString());
        QCOMPARE(w.form->m.mMenuRecv.at(4), big + QStringLiteral("4"));
    }

    // Catches a counter overflow that escapes the handler or loses what was stored.

    void menuCountOverflowIsQuiet() {
        FakeWindow w;
        w.form->m.mState = 2;
        w.form->m.mMenuCount = 32767;
        w.menuSends(QStringLiteral("x"));
        QCOMPARE(int(w.form->m.mMenuCount), 32767);
        QCOMPARE(w.form->m.mMenuRecv.at(32767), QStringLiteral("x"));
        QCOMPARE(w.status.simpleText(), QString());
    }

    // Catches a peer close that is not shown or that touches the run.
    void clientClose() {
        FakeWindow w;
        w.form->m.mTimerState = RunState::kCommandLine;
        w.form->m.mState = 4;
        w.form->wsClient_Close();
        QCOMPARE(w.Text5.text(), QStringLiteral("Disconnected"));
        QCOMPARE(w.form->m.mState, 4);
        QCOMPARE(w.form->m.mTimerState, RunState::kCommandLine);
    }
};

QTEST_GUILESS_MAIN(TestReceivePath)
#include "tst_receivepath.moc"
