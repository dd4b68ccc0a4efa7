#include "FakeWindow.h"
#include "setup/Sequencer.h"

#include <QTest>

namespace {
constexpr Long kSilent = 1;

// Arms a probe cycle the way the assignment procedures and the pre-check do.
void arm(FakeWindow& w, Long mode) {
    w.controller->run.probesSent = 0;
    w.controller->lockWindow();
    w.controller->sequencer().armProbeCycle(0xc9170c52, mode); // 201.23.12.82
}

// Ticks until the cycle is done; answers the tick on which it became done.
int runCycle(FakeWindow& w) {
    for (int t = 1; t <= 10; ++t) {
        w.tick();
        if (w.controller->run.probeCycleDone)
            return t;
    }
    return -1;
}
} // namespace

class TestSequencer : public QObject {
    Q_OBJECT
private slots:
    // Catches wrong durations, a report in the wrong mode, a missing or doubled
    // ARP clean-up, and a window left locked after a failed assignment.
    void probeCycle_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("answerAt"); // 0: never answers
        QTest::addColumn<int>("doneTick");
        QTest::addColumn<int>("pings");
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("arpDelete");
        QTest::addColumn<bool>("unlocked");
        QTest::newRow("precheck_answers_first")
            << 2 << 1 << 2 << 1 << Sequencer::kAddressExists << false << true;
        QTest::newRow("precheck_answers_third")
            << 2 << 3 << 4 << 3 << Sequencer::kAddressExists << false << true;
        QTest::newRow("precheck_silent") << 2 << 0 << 4 << 3 << QString() << false << false;
        QTest::newRow("arp_silent_fails") << 1 << 0 << 4 << 3 << Sequencer::kSetupFailed << true << true;
        QTest::newRow("arp_answers_first") << 1 << 1 << 2 << 1 << QString() << false << false;
        QTest::newRow("datagram_answers_second") << 0 << 2 << 3 << 2 << QString() << false << false;
        QTest::newRow("datagram_silent_fails") << 0 << 0 << 4 << 3 << Sequencer::kSetupFailed << true << true;
    }
    void probeCycle() {
        QFETCH(int, mode);
        QFETCH(int, answerAt);
        QFETCH(int, doneTick);
        QFETCH(int, pings);
        QFETCH(QString, status);
        QFETCH(bool, arpDelete);
        QFETCH(bool, unlocked);
        FakeWindow w;
        w.probe.answer = [answerAt](qsizetype n) { return n == answerAt ? 0 : kSilent; };
        arm(w, mode);
        QCOMPARE(runCycle(w), doneTick);
        QCOMPARE(w.probe.pinged.size(), pings);
        QCOMPARE(int(w.controller->run.probesSent), pings);
        QCOMPARE(w.controller->run.probeResult == 0, answerAt != 0);
        QCOMPARE(w.status.message(), status);
        QCOMPARE(w.neighbours.calls, arpDelete ? QStringList({"release 201.23.12.82"}) : QStringList());
        QCOMPARE(w.idle(), unlocked);
        QVERIFY(!w.timer.enabled());
        QCOMPARE(w.probe.open, 0);
    }

    // Catches the failure status being shown one tick late (it belongs to the
    // third probe, the stop comes a tick later).
    void failureShownOnThirdTick() {
        FakeWindow w;
        arm(w, RunState::kAfterArpBinding);
        w.tick();
        w.tick();
        QCOMPARE(w.status.message(), QString());
        w.tick();
        QCOMPARE(w.status.message(), Sequencer::kSetupFailed);
        QCOMPARE(w.controller->run.probeCycleDone, false);
        QCOMPARE(w.controller->run.phase, RunState::kStop);
    }

    // Catches a socket-library failure after an assignment that counts a
    // probe, keeps the window locked, or touches the status line.
    void socketLibraryFailsAfterAssignment() {
        FakeWindow w;
        arm(w, RunState::kAfterDatagram);
        w.status.showMessage(QStringLiteral("Setup is in process ..."));
        w.probe.initFailures = 1;
        w.tick();
        QCOMPARE(w.messageBox.shown.size(), size_t(1));
        QVERIFY(w.idle());
        QCOMPARE(w.controller->run.probeResult, -1);
        QCOMPARE(int(w.controller->run.probesSent), 0);
        QCOMPARE(w.controller->run.probeCycleDone, false);
        w.tick();
        QCOMPARE(w.controller->run.probeCycleDone, true);
        QCOMPARE(w.status.message(), QStringLiteral("Setup is in process ..."));
        QCOMPARE(w.probe.pinged.size(), 0);
        QCOMPARE(w.probe.initializations, 1);
    }

    // Catches a library stop failure that is not shown, or that changes the
    // probe's result.
    void cleanupFailureWarns() {
        FakeWindow w;
        w.probe.answer = [](qsizetype) { return 0; };
        w.probe.cleanupOk = false;
        arm(w, RunState::kAfterArpBinding);
        w.tick();
        QCOMPARE(w.messageBox.shown.size(), size_t(1));
        QCOMPARE(w.messageBox.shown[0].text, QStringLiteral("Windows Sockets error occurred in Cleanup."));
        QCOMPARE(w.messageBox.shown[0].icon, MessageBox::Exclamation);
        QCOMPARE(w.controller->run.probeResult, 0);
    }

    // Catches an error line in the wrong form, a stopped timer, or state numbers
    // changed by the failed step.
    void errorInTickKeepsTimer() {
        FakeWindow w;
        w.neighbours.fail = true; // the clean-up command cannot be started
        arm(w, RunState::kAfterArpBinding);
        w.tick();
        w.tick();
        w.tick();
        QCOMPARE(w.status.message(), QStringLiteral("1005 - Command could not be started (Timer, 2 0)"));
        QVERIFY(w.idle());
        QVERIFY(w.timer.enabled());
        w.tick();
        QCOMPARE(w.controller->run.probeCycleDone, true);
    }

    // Catches a tick that runs nested inside its own message box.
    void tickNotReentered() {
        FakeWindow w;
        w.probe.initFailures = 2;
        struct NestedTick : FakeMessageBox {
            SetupController* target = nullptr;
            int show(const QString& t, Buttons b, Icon i, const QString& title) override {
                target->tick(); // a tick falling due while the box is open
                return FakeMessageBox::show(t, b, i, title);
            }
        } box;
        SetupPorts ports = w.controller->ports;
        ports.messageBox = &box;
        SetupController controller(ports);
        box.target = &controller;
        controller.tick();
        QCOMPARE(box.shown.size(), size_t(1));
        QCOMPARE(w.probe.initializations, 1);
    }
};

QTEST_GUILESS_MAIN(TestSequencer)
#include "tst_sequencer.moc"
