#include "FakeWindow.h"
#include "ScriptedPrompts.h"
#include "setup/Sequencer.h"
#include "setup/SetupCommand.h"

#include <QTest>
#include <random>

namespace {
const QString kAddress = QStringLiteral("10.0.0.5");
const QString kArpMac = QStringLiteral("00-80-a3-61-63-dd");
const QString kMenuMac = QStringLiteral("00-20-4a-61-63-dd");

// Delivers what is queued, as the event loop would between user actions.
void deliverEvents(FakeWindow& w) {
    while (!w.pump.events.empty()) {
        auto next = std::move(w.pump.events.front());
        w.pump.events.pop_front();
        next();
    }
}

// A run of the ARP route up to its dialogue: the pre-check finds the address
// free, the adaptor answers once bound, and port 23 takes the connection.
void startArpRun(FakeWindow& w, Long answersAt) {
    w.probe.answer = [answersAt](qsizetype n) { return n == answersAt ? Long(0) : Long(1); };
    w.commandLineSocket.connectOutcome = SocketControl::Connected;
    w.press();
}

// The command-line dialogue as far as its closing question.
void finishCommandLine(FakeWindow& w) {
    for (int i = 0; i < 11 && w.timer.enabled(); ++i) {
        w.clientSends(QStringLiteral("\r\n") + commandPrompt(w.controller->run.dialogueStep));
        w.tick();
    }
}
} // namespace

// Whatever order the user, the timer and the network deliver their events in,
// the window is never left locked with nothing running that could unlock it,
// and the host is never left with the ARP route's entry.
class TestEventOrder : public QObject {
    Q_OBJECT
private slots:
    // Catches a run started inside another: while the sign test waits for
    // its connection the window is busy, so a Setup (or a second sign test)
    // that reaches the logic anyway starts nothing; the test then reports its
    // own refusal, once, and hands the window back.
    void nothingStartsWhileSignTestWaits() {
        FakeWindow w;
        w.fillAddresses(kArpMac, kAddress);
        w.pump.maxTicks = 50;
        w.messageBox.answers = {MessageBox::Yes};
        startArpRun(w, 4);
        bool lockedWhileWaiting = false;
        w.pump.events.push_back([&] {
            lockedWhileWaiting = w.locked() && !w.signTestButton.enabled();
            w.controller->setupClicked();
            w.controller->sendTestClicked();
            w.signSocket.setState(SocketControl::Error);
        });
        finishCommandLine(w);
        deliverEvents(w);
        QVERIFY(lockedWhileWaiting);
        QCOMPARE(w.signSocket.connects, 1);
        QCOMPARE(w.probe.pinged.size(), 4); // no second pre-check
        QCOMPARE(w.status.history.count(SetupCommand::kInProcess), 1);
        QCOMPARE(w.status.message(),
                 QStringLiteral("1002 - Connection refused by the remote host (SendTest)"));
        QCOMPARE(w.controller->result()->outcome, RunOutcome::SignTestFailed);
        QVERIFY(w.idle());
    }

    // Catches a count of ticks without progress carried from one run into the
    // next: the second stalled run never told, or told early.
    void everyStalledRunIsReported_data() {
        QTest::addColumn<int>("firstStall");
        QTest::newRow("after_a_reported_stall") << Sequencer::kStallTicks;
        QTest::newRow("after_a_partial_stall") << 5;
    }
    void everyStalledRunIsReported() {
        QFETCH(int, firstStall);
        FakeWindow w;
        w.fillAddresses(kArpMac, kAddress);
        w.probe.answer = [](qsizetype n) { return n == 4 || n == 8 ? Long(0) : Long(1); };
        w.commandLineSocket.connectOutcome = SocketControl::Connected;
        const QString stalled = RunTimeError(RunTimeError::NoAnswer).report(QStringLiteral(" (Timer, 1 0)"));
        for (int run = 0; run < 2; ++run) {
            w.press();
            QCOMPARE(w.controller->progress().stage(), RunStage::CommandLine);
            const int stall = run == 0 ? firstStall : Sequencer::kStallTicks;
            w.clientSends(QStringLiteral("banner, and no prompt after it"));
            for (int t = 1; t <= stall; ++t) {
                w.tick();
                QCOMPARE(w.status.message() == stalled, t == Sequencer::kStallTicks);
            }
            w.controller->handBack(); // a partial stall: the user gets to Setup another way in the test
        }
    }

    // Catches a setup menu whose connection can never stand reported as a
    // wrong connection state on every tick, with the window left to it.
    void failedMenuConnectionEndsTheRun_data() {
        QTest::addColumn<int>("failure");
        QTest::newRow("error_refused") << int(RunTimeError::ConnectionRefused);
        QTest::newRow("error_timed_out") << int(RunTimeError::ConnectionTimedOut);
        QTest::newRow("error_unreachable") << int(RunTimeError::HostUnreachable);
    }
    void failedMenuConnectionEndsTheRun() {
        QFETCH(int, failure);
        FakeWindow w;
        w.fillAddresses(kMenuMac, kAddress);
        w.probe.answer = [](qsizetype n) { return n == 4 ? Long(0) : Long(1); };
        w.setupMenuSocket.connectOutcome = SocketControl::Error;
        w.setupMenuSocket.failure = RunTimeError::Code(failure);
        w.press();
        deliverEvents(w);
        for (int t = 0; t < 3 && w.timer.enabled(); ++t)
            w.tick();
        const QString report =
            RunTimeError(RunTimeError::Code(failure)).report(QStringLiteral(" (Timer, 3 0)"));
        QCOMPARE(w.status.history.count(report), 1);
        QCOMPARE(w.status.message(), report);
        QVERIFY(!w.timer.enabled());
        QVERIFY(w.idle());
    }

    // Catches the ARP route's permanent entry outliving a run that ends other
    // than by its own clean-up, and an entry removed twice.
    void noEntryLeftBehind_data() {
        QTest::addColumn<QString>("ending");
        QTest::addColumn<QStringList>("launched");
        const QString set = "bind " + kAddress + " " + kArpMac;
        const QString del = "release " + kAddress;
        QTest::newRow("error_port_23_refused") << "refused" << QStringList{set, del};
        QTest::newRow("window_closed_in_dialogue") << "close" << QStringList{set, del};
        QTest::newRow("new_setup_in_dialogue") << "setup" << QStringList{set, del};
        QTest::newRow("ok_own_clean_up_once") << "smooth" << QStringList{set, del};
    }
    void noEntryLeftBehind() {
        QFETCH(QString, ending);
        QFETCH(QStringList, launched);
        FakeWindow w;
        w.fillAddresses(kArpMac, kAddress);
        // The second run's pre-check finds the address taken and ends there.
        w.probe.answer = [](qsizetype n) { return n == 4 || n == 5 ? Long(0) : Long(1); };
        w.commandLineSocket.connectOutcome =
            ending == "refused" ? SocketControl::Error : SocketControl::Connected;
        w.press();
        if (ending == "close") {
            w.tick();
            w.controller->unload();
        } else if (ending == "setup") {
            for (int t = 0; t < Sequencer::kStallTicks; ++t)
                w.tick();
            QVERIFY(w.idle());
            w.press();
            QCOMPARE(w.status.message(), Sequencer::kAddressExists);
        } else if (ending == "smooth") {
            finishCommandLine(w);
            QCOMPARE(w.status.message(), Sequencer::kSetupSucceeded);
            w.controller->unload();
        }
        QCOMPARE(w.neighbours.calls, launched);
    }

    // Catches any order of clicks, ticks, connection outcomes, chunks and
    // answers that leaves the window locked while neither a timer runs nor a
    // connection attempt is under way (nothing can ever unlock it then), a run
    // started inside another, or an entry left on the host. Each seed is one
    // random interleaving from typed values to the end.
    void anyEventOrderLeavesAWayOut() {
        constexpr int kSeeds = 400;
        for (int seed = 1; seed <= kSeeds; ++seed) {
            const QString failure = runOneOrder(quint32(seed));
            QVERIFY2(failure.isEmpty(), qPrintable(QStringLiteral("seed %1: %2").arg(seed).arg(failure)));
        }
        // The orders must reach the ends that matter: closings and sign tests.
        QVERIFY2(s_succeeded >= 10 && s_signTests >= 100,
                 qPrintable(QStringLiteral("%1 closings, %2 sign tests").arg(s_succeeded).arg(s_signTests)));
    }

private:
    inline static int s_succeeded = 0;
    inline static int s_signTests = 0;

    static QString runOneOrder(quint32 seed) {
        std::mt19937 rng(seed);
        const auto chance = [&rng](int percent) { return int(rng() % 100) < percent; };
        FakeWindow w;
        w.fillAddresses(chance(60) ? kArpMac : kMenuMac, kAddress);
        w.pump.maxTicks = 200;
        w.probe.answer = [&](qsizetype) { return chance(35) ? Long(0) : Long(1); };
        w.probe.arpAnswer = [&](qsizetype) { return chance(5) ? Long(0) : Long(1); };
        w.probe.initFailures = chance(10) ? 1 : 0;
        // A connection attempt ends a few events later, not after everything queued.
        std::deque<std::function<void()>> outcomes;
        w.pump.refill = [&] {
            while (!outcomes.empty()) {
                const auto at = std::min<std::size_t>(rng() % 4, w.pump.events.size());
                w.pump.events.insert(w.pump.events.begin() + std::ptrdiff_t(at), std::move(outcomes.front()));
                outcomes.pop_front();
            }
        };
        for (FakeSocket* s : {&w.commandLineSocket, &w.setupMenuSocket, &w.signSocket}) {
            s->events = &outcomes;
            s->connectOutcome = chance(85) ? SocketControl::Connected : SocketControl::Error;
            s->failure = chance(50) ? RunTimeError::ConnectionRefused : RunTimeError::ConnectionTimedOut;
        }
        for (int i = 0; i < 8; ++i)
            w.messageBox.answers.push_back(chance(80) ? MessageBox::Yes : MessageBox::No);

        // What the user, the timer and the adaptor do, in a random order. A
        // click on a disabled button reaches the logic too: it must start nothing.
        const auto act = [&w, chance](int kind) {
            switch (kind) {
            case 0:
                w.controller->setupClicked();
                break;
            case 1:
                if (w.exitButton.enabled() && chance(10))
                    w.controller->exitClicked();
                break;
            case 2:
                if (chance(20))
                    w.controller->sendTestClicked();
                break;
            case 3:
            case 4:
            case 5:
                if (w.timer.enabled())
                    w.tick();
                break;
            case 6:
            case 7:
                if (w.commandLineSocket.state() == SocketControl::Connected)
                    w.clientSends(QStringLiteral("\r\n") + commandPrompt(w.controller->run.dialogueStep));
                if (w.setupMenuSocket.state() == SocketControl::Connected)
                    w.menuSends(QStringLiteral("\r\n") + menuPrompt(w.controller->run.dialogueStep));
                break;
            case 8:
                if (w.commandLineSocket.state() == SocketControl::Connected && chance(30)) {
                    w.commandLineSocket.setState(SocketControl::PeerClosing);
                    w.controller->commandLineClosed();
                } else if (w.commandLineSocket.state() == SocketControl::Connected) {
                    w.clientSends(QStringLiteral("noise\r\n"));
                }
                break;
            default:
                if (w.signSocket.state() == SocketControl::Connected)
                    w.controller->signMessagesSent();
                break;
            }
        };
        for (int i = 0; i < 160; ++i)
            w.pump.events.push_back([act, kind = int(rng() % 10)] { act(kind); });
        const auto stuck = [&w] {
            const bool connecting = w.commandLineSocket.state() == SocketControl::Connecting ||
                                    w.signSocket.state() == SocketControl::Connecting;
            return w.locked() && !w.timer.enabled() && !connecting;
        };
        try {
            w.controller->setupClicked();
            for (w.pump.refill(); !w.pump.events.empty(); w.pump.refill()) {
                const bool busyBefore = w.controller->busy();
                const int pressesBefore = int(w.status.history.count(SetupCommand::kInProcess));
                auto next = std::move(w.pump.events.front());
                w.pump.events.pop_front();
                next();
                if (stuck())
                    return QStringLiteral("locked with nothing under way (status \"%1\")")
                        .arg(w.status.message());
                if (busyBefore && w.status.history.count(SetupCommand::kInProcess) != pressesBefore)
                    return QStringLiteral("a run started inside a busy one");
            }
            // Time passes with nobody touching anything.
            for (int t = 0; t < 40 && w.timer.enabled(); ++t) {
                w.tick();
                w.pump.refill();
                deliverEvents(w);
            }
            if (stuck())
                return QStringLiteral("locked at the end (status \"%1\")").arg(w.status.message());
            w.controller->unload();
        } catch (const std::exception& e) {
            return QString::fromLatin1(e.what());
        }
        s_succeeded += w.status.history.contains(Sequencer::kSetupSucceeded);
        s_signTests += w.signSocket.connects > 0;
        // Every entry made is removed again, the last one included.
        const qsizetype made = w.neighbours.calls.filter(QStringLiteral("bind ")).size();
        if (made > 0 && !w.neighbours.calls.last().startsWith(QLatin1String("release ")))
            return QStringLiteral("entry left behind: %1").arg(w.neighbours.calls.join(QStringLiteral("; ")));
        return {};
    }
};

QTEST_GUILESS_MAIN(TestEventOrder)
#include "tst_eventorder.moc"
