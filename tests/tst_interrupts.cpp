#include "FinishProcess.h"
#include "LanHarness.h"
#include "NetnsHarness.h"
#include "SimulatorProcess.h"
#include "WindowFixture.h"
#include "app/StartUp.h"
#include "cli/CliRun.h"
#include "setup/InterruptSignals.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <array>
#include <csignal>
#include <memory>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const QString kMenuMac = QStringLiteral("00-20-4a-1b-2c-3d");
const QString kCommandMac = QStringLiteral("00-80-a3-61-63-dd");
const QString kMask = QStringLiteral("255.255.255.0");
// The adaptor holds back the prompt that follows the password, or the setup
// menu's gateway question, so that a signal sent once the answer before it
// has arrived finds the dialogue open however loaded the machine: the run
// waits ten ticks for a prompt before it gives up. The two holds come after
// about as many ticks, so a batch has both dialogues open at once.
const QString kHoldAfterPassword = QStringLiteral("no-prompt:Local_1>>");
const QString kHoldAtGateway = QStringLiteral("no-prompt:Set Gateway");
const QByteArray kUpToPassword = "hello\nSET PRIVILEGED\ntundra\n";
const QByteArray kUpToGateway = "\r\n0\n\r\n\r\n\r\n\r\n";
constexpr int kTickMs = 300;

QString readLink(const QString& path) {
    char target[256];
    const ssize_t n = ::readlink(QFile::encodeName(path).constData(), target, sizeof target - 1);
    return n > 0 ? QString::fromLocal8Bit(target, int(n)) : QString();
}

// The pids of the processes that run `program` in the named network
// namespace of the test's own; a line saying why when the namespace is gone.
QStringList processesIn(const QString& ns, const QString& program) {
    struct stat nsFile {};
    if (::stat(QFile::encodeName(QStringLiteral("/run/netns/") + ns).constData(), &nsFile) != 0)
        return {QStringLiteral("no namespace %1").arg(ns)};
    const QString net = QStringLiteral("net:[%1]").arg(nsFile.st_ino);
    const QString exe = QFileInfo(program).canonicalFilePath();
    QStringList pids;
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        if (pid.toInt() <= 0)
            continue;
        const QString dir = QStringLiteral("/proc/") + pid;
        if (readLink(dir + QStringLiteral("/exe")) == exe && readLink(dir + QStringLiteral("/ns/net")) == net)
            pids << pid;
    }
    return pids;
}

QByteArray permanentEntries(const QString& ns) {
    QString error;
    return NetnsHarness::runIp({"-n", ns, "-4", "neigh", "show", "nud", "permanent"}, error);
}

// netrika-cli started as a terminal's shell starts a foreground job: in a
// process group of its own, with SIGINT, SIGTERM and SIGHUP at their
// defaults. It also ends with the test.
class FrontEnd {
public:
    explicit FrontEnd(const QStringList& arguments) {
        m_process.setChildProcessModifier([] {
            ::setpgid(0, 0);
            for (int s : InterruptSignals::kSignals)
                ::signal(s, SIG_DFL);
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        });
        m_process.start(QStringLiteral(NETRIKA_CLI), arguments);
        m_process.waitForStarted(5000);
    }
    ~FrontEnd() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    // To the whole process group, as a terminal sends Ctrl-C, or to the program alone.
    void send(int signal, bool toGroup) const {
        const pid_t pid = pid_t(m_process.processId());
        ::kill(toGroup ? -pid : pid, signal);
    }
    // The exit status, or -1 for a program that did not end by itself in time.
    int finish(int ms) { return finishProcess(m_process, ms, out, err); }
    QString out, err;

private:
    QProcess m_process;
};

// The test process in a process group of its own for a while, so that a
// signal to "the whole group" reaches the window and whatever the window
// starts, but neither ctest nor the simulated adaptor.
class OwnProcessGroup {
public:
    OwnProcessGroup()
        : m_before(::getpgrp()) {
        m_ok = ::setpgid(0, 0) == 0;
    }
    ~OwnProcessGroup() { ::setpgid(0, m_before); }
    [[nodiscard]] bool ok() const { return m_ok; }

private:
    pid_t m_before;
    bool m_ok = false;
};

// SIGINT, SIGTERM and SIGHUP at their defaults for a while, as in a program
// a terminal's shell starts in the foreground (the test runner's own
// handlers, or an ignored SIGINT in a background run, put back afterwards).
class DefaultDispositions {
public:
    DefaultDispositions() {
        for (std::size_t i = 0; i < InterruptSignals::kSignals.size(); ++i) {
            struct sigaction action {};
            action.sa_handler = SIG_DFL;
            sigemptyset(&action.sa_mask);
            ::sigaction(InterruptSignals::kSignals[i], &action, &m_before[i]);
        }
    }
    ~DefaultDispositions() {
        for (std::size_t i = 0; i < InterruptSignals::kSignals.size(); ++i)
            ::sigaction(InterruptSignals::kSignals[i], &m_before[i], nullptr);
    }

private:
    std::array<struct sigaction, InterruptSignals::kSignals.size()> m_before{};
};

// Types the adaptor's MAC and the address and gateway to give it, as a
// technician would; the mask stays the window's own 255.255.255.0.
void typeAddresses(WindowFixture& f, const QString& mac, const QString& ip, const QString& gateway) {
    const auto octets = [](const QString& dotted) {
        QString keys;
        for (const QString& o : dotted.split(QLatin1Char('.')))
            keys += o.rightJustified(3, QLatin1Char('0'));
        return keys;
    };
    f.typeInto(QStringLiteral("mac0"), QString(mac).remove(QLatin1Char('-')));
    f.typeInto(QStringLiteral("ip0"), octets(ip));
    for (int i = 0; i < 4; ++i)
        f.preset(QStringLiteral("gateway%1").arg(i), QString());
    f.typeInto(QStringLiteral("gateway0"), octets(gateway));
}
} // namespace

// Ctrl-C in a terminal, the end of a desktop session and a terminal's hang-up
// end a front end as closing the window does, against the simulated adaptor
// in the test's own namespaces: "logout" on the open dialogue, exit status
// 130 on the command line, and nothing left on the host: no neighbour entry
// and no network helper. A helper in the front end's process group would die
// by the same Ctrl-C before it could remove the entry.
class TestInterrupts : public QObject {
    Q_OBJECT
private slots:
    // Catches one of the three signals left at its default, so that the
    // program would end before it logs out, or a signal that was ignored when
    // the program started taken all the same: a batch started under nohup
    // would end when its terminal closes.
    void signalsTaken_data() {
        QTest::addColumn<int>("signal");
        QTest::addColumn<bool>("ignoredBefore");
        QTest::newRow("ok_sigint") << int(SIGINT) << false;
        QTest::newRow("ok_sigterm") << int(SIGTERM) << false;
        QTest::newRow("ok_sighup") << int(SIGHUP) << false;
        QTest::newRow("ignored_sighup_under_nohup") << int(SIGHUP) << true;
        QTest::newRow("ignored_sigint_in_background_job") << int(SIGINT) << true;
    }
    void signalsTaken() {
        QFETCH(int, signal);
        QFETCH(bool, ignoredBefore);
        DefaultDispositions defaults;
        if (ignoredBefore)
            ::signal(signal, SIG_IGN);
        int closes = 0;
        {
            const InterruptSignals interrupts([&closes] { ++closes; });
            QVERIFY(interrupts.installed());
            ::raise(signal);
            QTest::qWait(100); // the byte is there already: one turn of the loop reads it
            QCOMPARE(closes, ignoredBefore ? 0 : 1);
        }
        // What was there before is back once it goes.
        struct sigaction now {};
        ::sigaction(signal, nullptr, &now);
        QVERIFY(now.sa_handler == (ignoredBefore ? SIG_IGN : SIG_DFL));
    }

    // Catches a signal that ends netrika-cli setup without logging out of the
    // adaptor, or with its neighbour entry or its network helper left behind.
    void setupRun_data() {
        QTest::addColumn<int>("signal");
        QTest::addColumn<bool>("toGroup"); // as a terminal sends Ctrl-C; else to the program alone
        QTest::newRow("ctrl_c_to_group") << int(SIGINT) << true;
        QTest::newRow("sighup_alone") << int(SIGHUP) << false;
    }
    void setupRun() {
        QFETCH(int, signal);
        QFETCH(bool, toGroup);
        NetnsHarness h(92);
        NETNS_REQUIRE(h);
        h.ipIn(h.deviceNs(), {"addr", "flush", "dev", h.deviceInterface()});
        SimulatorProcess sim(h, kCommandMac, {kHoldAfterPassword});
        QVERIFY2(sim.ready(), "the simulator did not start");
        QVERIFY2(h.enterHost(), qPrintable(h.error()));
        FrontEnd cli({"setup", "--mac", kCommandMac, "--ip", "10.77.92.50", "--mask", kMask, "--gateway",
                      "10.77.92.254", "--tick-ms", QString::number(kTickMs)});
        QTRY_VERIFY_WITH_TIMEOUT(sim.received(23) == kUpToPassword, 20000);
        // Both stand while the dialogue runs.
        QVERIFY(!permanentEntries(h.hostNs()).isEmpty());
        QCOMPARE(processesIn(h.hostNs(), QStringLiteral(NETRIKA_HELPER)).size(), 1);

        cli.send(signal, toGroup);
        const int status = cli.finish(30000);
        QVERIFY2(status == CliRun::Interrupted,
                 qPrintable(QStringLiteral("exit status %1\n").arg(status) + cli.out + cli.err));
        QTRY_COMPARE(sim.received(23), kUpToPassword + "logout\n");
        QCOMPARE(permanentEntries(h.hostNs()), QByteArray(""));
        QTRY_COMPARE(processesIn(h.hostNs(), QStringLiteral(NETRIKA_HELPER)), QStringList());
    }

    // Catches a batch that leaves a row's dialogue open, a row, an entry or a
    // network helper behind, or exits otherwise than interrupted, whether the
    // signal reached the rows too or the batch alone.
    void batchRun_data() {
        QTest::addColumn<int>("signal");
        QTest::addColumn<bool>("toGroup");
        QTest::newRow("ctrl_c_to_group") << int(SIGINT) << true;
        QTest::newRow("sigterm_alone") << int(SIGTERM) << false;
    }
    void batchRun() {
        QFETCH(int, signal);
        QFETCH(bool, toGroup);
        LanHarness lan(93, 2);
        NETNS_REQUIRE(lan);
        SimulatorProcess menu(lan.deviceNs(0), lan.deviceInterface(0), kMenuMac, {kHoldAtGateway});
        SimulatorProcess command(lan.deviceNs(1), lan.deviceInterface(1), kCommandMac, {kHoldAfterPassword});
        QVERIFY2(menu.ready() && command.ready(), "a simulator did not start");
        QVERIFY(lan.enterHost());
        QTemporaryDir dir;
        QFile csv(dir.filePath(QStringLiteral("rows.csv")));
        QVERIFY(csv.open(QIODevice::WriteOnly));
        csv.write(QStringLiteral("mac,ip,mask,gateway\n%1,%2,%3,%4\n%5,%6,%3,%4\n")
                      .arg(kMenuMac, lan.address(13), kMask, lan.address(254), kCommandMac, lan.address(11))
                      .toLatin1());
        csv.close();
        FrontEnd batch({"batch", csv.fileName(), "--tick-ms", QString::number(kTickMs)});
        QTRY_VERIFY_WITH_TIMEOUT(menu.received(9999) == kUpToGateway && command.received(23) == kUpToPassword,
                                 30000);
        // The batch and its two rows, and the rows' helpers.
        QCOMPARE(processesIn(lan.hostNs(), QStringLiteral(NETRIKA_CLI)).size(), 3);
        QCOMPARE(processesIn(lan.hostNs(), QStringLiteral(NETRIKA_HELPER)).size(), 2);

        batch.send(signal, toGroup);
        const int status = batch.finish(30000);
        QVERIFY2(status == CliRun::Interrupted,
                 qPrintable(QStringLiteral("exit status %1\n").arg(status) + batch.out + batch.err));
        QTRY_COMPARE(command.received(23), kUpToPassword + "logout\n");
        QTRY_COMPARE(menu.received(9999), kUpToGateway + "logout\n");
        QCOMPARE(permanentEntries(lan.hostNs()), QByteArray(""));
        QTRY_COMPARE(processesIn(lan.hostNs(), QStringLiteral(NETRIKA_HELPER)), QStringList());
        QTRY_COMPARE(processesIn(lan.hostNs(), QStringLiteral(NETRIKA_CLI)), QStringList());
    }

    // Catches a window that a signal or the session manager's end leaves
    // open, or ends without its close: no logout on the open dialogue, the
    // neighbour entry left, or a network helper that outlives the window.
    void windowRun_data() {
        QTest::addColumn<int>("signal"); // 0: the session manager's end, a Quit event
        QTest::addColumn<bool>("toGroup");
        QTest::newRow("ctrl_c_to_group") << int(SIGINT) << true;
        QTest::newRow("sigterm_alone") << int(SIGTERM) << false;
        QTest::newRow("session_manager_ends_session") << 0 << false;
    }
    void windowRun() {
        QFETCH(int, signal);
        QFETCH(bool, toGroup);
        NetnsHarness h(94);
        NETNS_REQUIRE(h);
        h.ipIn(h.deviceNs(), {"addr", "flush", "dev", h.deviceInterface()});
        SimulatorProcess sim(h, kCommandMac, {}, SimulatorProcess::OwnGroup);
        QVERIFY2(sim.ready(), "the simulator did not start");
        QVERIFY2(h.enterHost(), qPrintable(h.error()));
        // From here on, what the window starts (the network helper) shares
        // its process group, as in a terminal.
        OwnProcessGroup group;
        QVERIFY(group.ok());
        DefaultDispositions defaults;
        FakeMessageBox box;
        auto f =
            std::make_unique<WindowFixture>(WindowServices{.messageBox = &box}, WindowFixture::RealNetwork);
        QVERIFY(f->ready);
        f->binding->controller().ports.tickTimer->setInterval(150);
        auto interrupts = closeOnInterrupt(*f->window); // as main() does
        QVERIFY(interrupts->installed());
        typeAddresses(*f, kCommandMac, QStringLiteral("10.77.94.50"), QStringLiteral("10.77.94.254"));
        QTest::mouseClick(f->window->setupButton(), Qt::LeftButton);
        const SetupController& controller = f->binding->controller();
        QTRY_VERIFY_WITH_TIMEOUT(
            controller.progress().stage() == RunStage::CommandLine && controller.run.dialogueStep >= 3, 10000);
        QVERIFY(!permanentEntries(h.hostNs()).isEmpty());
        QCOMPARE(processesIn(h.hostNs(), QStringLiteral(NETRIKA_HELPER)).size(), 1);

        if (signal == 0) {
            QEvent quit(QEvent::Quit);
            QCoreApplication::sendEvent(QCoreApplication::instance(), &quit);
        } else {
            ::kill(toGroup ? 0 : ::getpid(), signal);
        }
        QTRY_VERIFY_WITH_TIMEOUT(controller.unloaded(), 5000);
        QVERIFY(!f->window->isVisible());
        QTRY_VERIFY(sim.received(23).endsWith("logout\n"));
        QVERIFY(!sim.received(23).contains("Logout\n"));
        QCOMPARE(permanentEntries(h.hostNs()), QByteArray(""));
        // main() returns: the helper's owner goes.
        interrupts.reset();
        f.reset();
        QTRY_COMPARE(processesIn(h.hostNs(), QStringLiteral(NETRIKA_HELPER)), QStringList());
    }
};

QTEST_MAIN(TestInterrupts)
#include "tst_interrupts.moc"
