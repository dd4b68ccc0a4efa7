#include "FakeWindow.h"
#include "setup/Sequencer.h"

#include <QTest>

namespace {
constexpr Long kSilent = 1;

// Arms a probe cycle the way the assignment procedures and the pre-check do;
// goesOn counts the times the cycle handed over to what comes next.
// The rows' mode: 2 the pre-check, 0 and 1 the wait after the datagram and
// after the neighbour entry.
RunStage cycleOf(int mode) {
    return mode == 2 ? RunStage::Checking : RunStage::Waiting;
}

void arm(FakeWindow& w, RunStage mode, int* goesOn = nullptr) {
    w.controller->run.probesSent = 0;
    w.controller->lockWindow();
    w.controller->sequencer().armProbeCycle(0xc9170c52, mode, [goesOn] { // 201.23.12.82
        if (goesOn)
            ++*goesOn;
    });
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
        arm(w, cycleOf(mode));
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
        arm(w, RunStage::Waiting);
        w.tick();
        w.tick();
        QCOMPARE(w.status.message(), QString());
        w.tick();
        QCOMPARE(w.status.message(), Sequencer::kSetupFailed);
        QCOMPARE(w.controller->run.probeCycleDone, false);
        QCOMPARE(w.controller->run.cycleOver, true);
    }

    // Catches a socket-library failure after an assignment that counts a
    // probe, keeps the window locked, goes on as if the adaptor had answered,
    // or leaves "Setup is in process ..." standing over an idle window.
    void socketLibraryFailsAfterAssignment() {
        FakeWindow w;
        int goesOn = 0;
        arm(w, RunStage::Waiting, &goesOn);
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
        QCOMPARE(w.status.message(), Sequencer::kNotCheckedAfter);
        QCOMPARE(w.controller->result()->outcome, RunOutcome::NotChecked);
        QCOMPARE(goesOn, 0);
        QCOMPARE(w.probe.pinged.size(), 0);
        QCOMPARE(w.probe.initializations, 1);
    }

    // A probe the helper refused, or could not send, is asked once more in
    // its tick and is never taken for silence: catches a refusal counted as
    // a silent probe (a taken address handed to a sign), a run that goes on
    // after it, or an ARP refusal in the pre-check read as "nobody there".
    void notAskedIsNoVerdict_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QList<int>>("echoes"); // statuses, in order; then silent
        QTest::addColumn<QList<int>>("arps");   // statuses, in order; then silent
        QTest::addColumn<int>("goesOn");        // handed over to the next step
        QTest::addColumn<QString>("status");
        QTest::addColumn<int>("outcome"); // RunOutcome, or -1 for a run that goes on
        const int refused = int(ProbeStatus::SendFailed);
        const int notChecked = int(RunOutcome::NotChecked);
        QTest::newRow("precheck_echo_refused_twice")
            << 2 << QList<int>{refused, refused} << QList<int>{} << 0 << Sequencer::kNotChecked << notChecked;
        QTest::newRow("precheck_echo_refused_once_then_silent")
            << 2 << QList<int>{refused} << QList<int>{} << 1 << QString() << -1;
        QTest::newRow("precheck_arp_refused_twice")
            << 2 << QList<int>{} << QList<int>{refused, refused} << 0 << Sequencer::kNotChecked << notChecked;
        QTest::newRow("precheck_no_arp_here_echo_stands")
            << 2 << QList<int>{} << QList<int>{4, 4, 4} << 1 << QString() << -1;
        QTest::newRow("precheck_unconvertible_address")
            << 2 << QList<int>{-1, -1} << QList<int>{} << 0 << Sequencer::kNotChecked << notChecked;
        QTest::newRow("precheck_unreachable_is_silence")
            << 2 << QList<int>{2, 2, 2} << QList<int>{} << 1 << QString() << -1;
        QTest::newRow("after_datagram_refused_twice") << 0 << QList<int>{1, refused, refused} << QList<int>{}
                                                      << 0 << Sequencer::kNotCheckedAfter << notChecked;
        QTest::newRow("after_binding_refused_once_then_answers")
            << 1 << QList<int>{refused, 0} << QList<int>{} << 1 << QString() << -1;
    }
    void notAskedIsNoVerdict() {
        QFETCH(int, mode);
        QFETCH(QList<int>, echoes);
        QFETCH(QList<int>, arps);
        QFETCH(int, goesOn);
        QFETCH(QString, status);
        QFETCH(int, outcome);
        FakeWindow w;
        w.probe.answer = [echoes](qsizetype n) { return Long(echoes.value(n - 1, kSilent)); };
        w.probe.arpAnswer = [arps](qsizetype n) { return Long(arps.value(n - 1, kSilent)); };
        int handedOver = 0;
        arm(w, cycleOf(mode), &handedOver);
        runCycle(w);
        QCOMPARE(handedOver, goesOn);
        QCOMPARE(w.status.message(), status);
        QCOMPARE(w.controller->result() ? int(w.controller->result()->outcome) : -1, outcome);
        QVERIFY(!w.timer.enabled());
        QCOMPARE(w.probe.open, 0);
        if (outcome == int(RunOutcome::NotChecked))
            QVERIFY(w.idle());
    }

    // Catches a library stop failure that is not shown, or that changes the
    // probe's result.
    void cleanupFailureWarns() {
        FakeWindow w;
        w.probe.answer = [](qsizetype) { return 0; };
        w.probe.cleanupOk = false;
        arm(w, RunStage::Waiting);
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
        arm(w, RunStage::Waiting);
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
        controller.sequencer().armProbeCycle(0xc9170c52, RunStage::Waiting, nullptr);
        controller.tick();
        QCOMPARE(box.shown.size(), size_t(1));
        QCOMPARE(w.probe.initializations, 1);
    }
};

QTEST_GUILESS_MAIN(TestSequencer)
#include "tst_sequencer.moc"
