#include "FakeWindow.h"
#include "NetnsHarness.h"
#include "net/HelperProbe.h"
#include "net/NetHelper.h"
#include "setup/Sequencer.h"
#include "setup/SetupCommand.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <thread>

// The window holds no capability: without a usable network helper the user
// sees the socket-library failure, never a false answer either way, and
// standard error says what to do.
class TestPrivileges : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

    // A helper that the user may not run (outside the group), one that is not
    // there, and one that runs without CAP_NET_RAW.
    void cases() {
        QTest::addColumn<QString>("program");
        QTest::addColumn<bool>("dropRaw");
        QTest::addColumn<QString>("reason");
        const QString copy = dir.filePath(QStringLiteral("netrika-net-helper"));
        if (!QFile::exists(copy)) {
            QFile::copy(QStringLiteral(NETRIKA_HELPER), copy);
            QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
        }
        QTest::newRow("error_outside_group")
            << copy << false << R"(group "netrika" may run it.*sudo adduser \$USER netrika, then log out)";
        QTest::newRow("error_helper_missing")
            << dir.filePath(QStringLiteral("missing")) << false << "Reinstall";
        // Only an installed helper may be given capabilities; a build's helper
        // never (whoever may write its tree could change it).
        const QString installed = dir.filePath(QStringLiteral("usr/libexec/netrika/netrika-net-helper"));
        if (!QFile::exists(installed)) {
            QDir().mkpath(QFileInfo(installed).path());
            QFile::copy(QStringLiteral(NETRIKA_HELPER), installed);
        }
        QTest::newRow("error_installed_helper_without_raw")
            << installed << true
            << R"(lacks the capability CAP_NET_RAW\. Give it with: sudo setcap cap_net_raw,cap_net_admin\+ep /.*/usr/libexec/netrika/netrika-net-helper$)";
        QTest::newRow("error_build_helper_without_raw")
            << QStringLiteral(NETRIKA_HELPER) << true
            << R"(lacks the capability CAP_NET_RAW\. /.* is a build's helper: never give it capabilities.*run as root)";
    }

    // Runs f in a thread of its own inside the host namespace, where the helper
    // it starts inherits a bounding set without CAP_NET_RAW when asked.
    template <typename F> void inHost(NetnsHarness& h, bool dropRaw, F f) {
        bool ready = false;
        std::thread worker([&] {
            ready = h.enterHost() && (!dropRaw || ::prctl(PR_CAPBSET_DROP, CAP_NET_RAW, 0, 0, 0) == 0);
            if (ready)
                f();
        });
        worker.join();
        QVERIFY2(ready, qPrintable(h.error()));
    }

private slots:
    void echoWithoutHelper_data() { cases(); }
    // Catches a probe that answers 0 (address taken / adaptor answering) when
    // it could not send anything, or a reason that does not say what to do.
    void echoWithoutHelper() {
        QFETCH(QString, program);
        QFETCH(bool, dropRaw);
        QFETCH(QString, reason);
        NetnsHarness h(83);
        NETNS_REQUIRE(h);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(reason));
        bool initialized = true;
        Long status = 0;
        inHost(h, dropRaw, [&] {
            NetHelper helper(program);
            HelperProbe probe(helper);
            initialized = probe.start();
            EchoReply reply;
            status =
                probe.ping(*AddressRules::readDotted(h.deviceAddress()), QStringLiteral("Echo This"), reply);
        });
        QVERIFY(!initialized);
        QVERIFY(status != 0);
    }

    void preCheckWithoutHelper_data() { cases(); }
    // Catches a pre-check that reports "IP address already exists" for an
    // answering address it could not probe, instead of the failure box.
    void preCheckWithoutHelper() {
        QFETCH(QString, program);
        QFETCH(bool, dropRaw);
        QFETCH(QString, reason);
        NetnsHarness h(84);
        NETNS_REQUIRE(h);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(reason));
        QStringList statuses;
        size_t boxes = 0;
        inHost(h, dropRaw, [&] {
            NetHelper helper(program);
            HelperProbe probe(helper);
            FakeWindow w(&probe);
            w.fillAddresses(QStringLiteral("00-80-a3-61-63-dd"), h.deviceAddress());
            w.atTick[3] = [&] { w.controller->unload(); }; // the user gives up and closes the window
            w.press();
            statuses = w.status.history;
            boxes = w.messageBox.shown.size();
        });
        QCOMPARE(boxes, size_t(2));
        QVERIFY(!statuses.contains(Sequencer::kAddressExists));
        QCOMPARE(statuses, QStringList({SetupCommand::kInProcess}));
    }
};

QTEST_GUILESS_MAIN(TestPrivileges)
#include "tst_privileges.moc"
