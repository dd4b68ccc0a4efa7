#include "FakeWindow.h"
#include "ScriptedPrompts.h"
#include "setup/Sequencer.h"
#include "setup/SignTest.h"

#include <QTest>

namespace {
using Stage = RunProgress::Stage;
const QString kAddress = QStringLiteral("10.0.0.5");

enum class Script { Succeeds, AdaptorSilent, AddressTaken, DialogueStalls };

// One whole run with the fakes: the probes answer as the script says, the
// adaptor shows each prompt before the tick that waits for it, and the sign
// test is asked for. Every send, with the tick it went at, is the run's
// timeline.
struct ScriptedRun {
    FakeWindow w;
    QStringList timeline;
    QList<RunProgress::Snapshot> seen;

    ScriptedRun(const QString& mac, Script script, bool observe) {
        w.fillAddresses(mac, kAddress);
        if (observe) {
            w.controller->progress().observe([this](const RunProgress::Snapshot& s) { seen.append(s); });
            w.controller->transcript().observe([](const DialogueTranscript::Entry&) {});
        }
        w.controller->setClock([this] { return qint64(w.ticks) * SetupController::kTickMs; });
        const bool menu = mac.startsWith(QLatin1String("00-20-4a"));
        w.probe.answer = [script](qsizetype n) {
            if (script == Script::AddressTaken)
                return Long(0);
            return n == 4 && script != Script::AdaptorSilent ? Long(0) : Long(1);
        };
        w.commandLineSocket.connectOutcome = SocketControl::Connected;
        w.setupMenuSocket.connectOutcome = SocketControl::Connected;
        w.signSocket.connectOutcome = SocketControl::Connected;
        w.messageBox.answers = {MessageBox::Yes};
        w.pump.maxTicks = 80;
        // Before each tick: note what went out at the last one, and let the
        // adaptor show its next prompt (none when it stalls).
        w.pump.refill = [this, menu, script] {
            note();
            const RunStage stage = w.controller->progress().stage();
            if (isProbeCycle(stage))
                return;
            if (script == Script::DialogueStalls) {
                if (stage == RunStage::CommandLine && w.controller->run.counter == 0)
                    w.clientSends(QStringLiteral("banner, and no prompt after it"));
                return;
            }
            if (menu && stage == RunStage::SetupMenu &&
                w.setupMenuSocket.state() == SocketControl::Connected)
                w.menuSends(QStringLiteral("\r\n") + menuPrompt(w.controller->run.dialogueStep));
            else if (!menu && stage == RunStage::CommandLine)
                w.clientSends(QStringLiteral("\r\n") + commandPrompt(w.controller->run.dialogueStep));
        };
        w.press();
        // The dialogue runs on the ticks after the Setup command returned.
        for (int t = 0; t < 60 && w.timer.enabled(); ++t) {
            w.pump.refill();
            w.tick();
            while (!w.pump.events.empty()) {
                auto next = std::move(w.pump.events.front());
                w.pump.events.pop_front();
                next();
            }
        }
        if (w.signSocket.state() == SocketControl::Connected)
            w.controller->signMessagesSent();
        note();
    }

    void note() {
        for (auto [name, socket] :
             {std::pair{"30718", &w.datagramSocket}, std::pair{"9999", &w.setupMenuSocket},
              std::pair{"23", &w.commandLineSocket}, std::pair{"3001", &w.signSocket}}) {
            for (qsizetype i = m_noted[name]; i < socket->sent.size(); ++i)
                timeline << QStringLiteral("tick %1 %2 %3")
                                .arg(w.ticks)
                                .arg(QLatin1String(name), socket->sent.at(i));
            m_noted[name] = socket->sent.size();
        }
    }

private:
    std::map<std::string, qsizetype> m_noted;
};

// The stages in the order they were seen, each once.
QList<Stage> stagesOf(const QList<RunProgress::Snapshot>& seen) {
    QList<Stage> stages;
    for (const RunProgress::Snapshot& s : seen)
        if (stages.isEmpty() || stages.back() != s.stage)
            stages << s.stage;
    return stages;
}
} // namespace

Q_DECLARE_METATYPE(Script)

// Where a run stands, as both front ends read it: every stage in order, for
// both routes and the ways a run ends, and nothing it does to the run.
class TestProgress : public QObject {
    Q_OBJECT
private slots:
    void stagesInOrder_data() {
        QTest::addColumn<QString>("mac");
        QTest::addColumn<Script>("script");
        QTest::addColumn<QList<Stage>>("stages");
        QTest::addColumn<QString>("result");
        QTest::addColumn<int>("steps"); // the dialogue's lines seen sent
        const auto whole = [](Stage dialogue) {
            return QList<Stage>{Stage::Checking, Stage::Assigning, Stage::Waiting, dialogue,
                                Stage::Ended,    Stage::SignTest,  Stage::Ended};
        };
        QTest::newRow("ok_command_line") << "00-80-a3-61-63-dd" << Script::Succeeds << whole(Stage::CommandLine)
                                         << SignTest::kHandedOver << RunProgress::kCommandLines;
        QTest::newRow("ok_setup_menu") << "00-20-4a-61-63-dd" << Script::Succeeds << whole(Stage::SetupMenu)
                                       << SignTest::kHandedOver << RunProgress::kMenuLines;
        QTest::newRow("error_adaptor_silent")
            << "00-80-a3-61-63-dd" << Script::AdaptorSilent
            << QList<Stage>{Stage::Checking, Stage::Assigning, Stage::Waiting, Stage::Ended}
            << Sequencer::kSetupFailed << 0;
        QTest::newRow("error_address_taken")
            << "00-20-4a-61-63-dd" << Script::AddressTaken << QList<Stage>{Stage::Checking, Stage::Ended}
            << Sequencer::kAddressExists << 0;
        // A stalled dialogue has its result, and still listens for its prompt.
        QTest::newRow("error_dialogue_stalls")
            << "00-80-a3-61-63-dd" << Script::DialogueStalls
            << QList<Stage>{Stage::Checking, Stage::Assigning, Stage::Waiting, Stage::CommandLine}
            << RunTimeError(RunTimeError::NoAnswer).report(QStringLiteral(" (Timer, 1 0)")) << 0;
    }

    // Catches a stage missed or out of order, a step counted twice, progress
    // that goes back within a run, a run that ends short of 100 %, or an end
    // that does not say the run's result.
    void stagesInOrder() {
        QFETCH(QString, mac);
        QFETCH(Script, script);
        QFETCH(QList<Stage>, stages);
        QFETCH(QString, result);
        QFETCH(int, steps);
        ScriptedRun run(mac, script, true);
        QCOMPARE(stagesOf(run.seen), stages);
        int percent = 0;
        int dialogueLines = 0;
        for (const RunProgress::Snapshot& s : run.seen) {
            QVERIFY2(s.percent >= percent, qPrintable(RunProgress::describe(s)));
            percent = s.percent;
            QVERIFY(s.steps == 0 || s.step <= s.steps);
            if (isDialogue(s.stage))
                dialogueLines = s.step;
            if (s.stage == Stage::Checking || s.stage == Stage::Waiting)
                QCOMPARE(s.steps, Sequencer::kProbesPerCycle);
        }
        QCOMPARE(dialogueLines, steps);
        if (stages.last() != Stage::Ended) {
            QCOMPARE(run.w.controller->result()->status, result);
            QVERIFY(run.w.idle());
            QVERIFY(run.w.timer.enabled());
            return;
        }
        const RunProgress::Snapshot last = run.w.controller->progress().now();
        QCOMPARE(last.stage, Stage::Ended);
        QCOMPARE(last.result, result);
        QCOMPARE(last.percent, 100);
        QCOMPARE(last.leftMs, 0);
        QVERIFY(last.elapsedMs > 0);
        QVERIFY(!run.w.controller->progress().running());
    }

    // Catches a model or an observer that changes the run: the same script
    // with observers attached and without sends the same bytes at the same
    // ticks, on every connection.
    void observersChangeNothing_data() { stagesInOrder_data(); }
    void observersChangeNothing() {
        QFETCH(QString, mac);
        QFETCH(Script, script);
        ScriptedRun watched(mac, script, true);
        ScriptedRun unwatched(mac, script, false);
        QVERIFY(!watched.timeline.isEmpty() || script != Script::Succeeds);
        QCOMPARE(watched.timeline, unwatched.timeline);
        QCOMPARE(watched.w.status.history, unwatched.w.status.history);
        QCOMPARE(watched.w.ticks, unwatched.w.ticks);
        // The transcript holds every send of the run, in order.
        QStringList sent;
        for (const DialogueTranscript::Entry& e : watched.w.controller->transcript().entries())
            if (e.direction == DialogueTranscript::Direction::Sent)
                sent << QString::fromLatin1(e.bytes);
        QStringList expected;
        for (const QString& line : watched.timeline)
            expected << line.section(QLatin1Char(' '), 3);
        QCOMPARE(sent.size(), expected.size());
    }
};

QTEST_MAIN(TestProgress)
#include "tst_progress.moc"
