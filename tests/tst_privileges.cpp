#include "FakeWindow.h"
#include "NetnsHarness.h"
#include "net/IcmpEchoProbe.h"
#include "setup/Sequencer.h"
#include "setup/SetupCommand.h"

#include <QRegularExpression>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <thread>

namespace {
// Drops one capability from the calling thread only; the rest of the test keeps it.
bool dropInThisThread(int capability) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (::syscall(SYS_capget, &header, data) != 0)
        return false;
    data[CAP_TO_INDEX(capability)].effective &= ~CAP_TO_MASK(capability);
    return ::syscall(SYS_capset, &header, data) == 0;
}
} // namespace

// Without the capability to open an ICMP socket, the user must see the
// socket-library failure, never a false answer either way.
class TestPrivileges : public QObject {
    Q_OBJECT
private slots:
    // Catches a probe that answers 0 (address taken / adaptor answering) when
    // it could not send anything, or a reason that does not name the capability.
    void echoWithoutRawCapability() {
        NetnsHarness h(83);
        NETNS_REQUIRE(h);
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral("CAP_NET_RAW.*setcap cap_net_raw\\+ep")));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("echo probe not sent")));
        bool entered = false;
        bool dropped = false;
        bool initialized = true;
        Long status = 0;
        std::thread worker([&] {
            entered = h.enterHost();
            dropped = entered && dropInThisThread(CAP_NET_RAW);
            if (!dropped)
                return;
            IcmpEchoProbe probe;
            initialized = probe.SocketsInitialize();
            EchoReply reply;
            status = probe.Ping(h.deviceAddress(), QStringLiteral("Echo This"), reply);
        });
        worker.join();
        QVERIFY2(entered, qPrintable(h.error()));
        QVERIFY(dropped);
        QVERIFY(!initialized);
        QVERIFY(status != 0);
    }

    // Catches a pre-check that reports "IP address already exists" for an
    // answering address it could not probe, instead of the failure box.
    void preCheckWithoutRawCapability() {
        NetnsHarness h(84);
        NETNS_REQUIRE(h);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("CAP_NET_RAW")));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("CAP_NET_RAW")));
        bool dropped = false;
        QStringList statuses;
        size_t boxes = 0;
        std::thread worker([&] {
            dropped = h.enterHost() && dropInThisThread(CAP_NET_RAW);
            if (!dropped)
                return;
            IcmpEchoProbe probe;
            FakeWindow w(&probe);
            w.fillAddresses(QStringLiteral("00-80-a3-61-63-dd"), h.deviceAddress());
            w.atTick[3] = [&] { w.form->Form_Unload(); }; // the user gives up and closes the window
            w.form->SetupIP_Click();
            statuses = w.status.history;
            boxes = w.messageBox.shown.size();
        });
        worker.join();
        QVERIFY(dropped);
        QCOMPARE(boxes, size_t(2));
        QVERIFY(!statuses.contains(Sequencer::kAddressExists));
        QCOMPARE(statuses, QStringList({SetupCommand::kInProcess}));
    }
};

QTEST_GUILESS_MAIN(TestPrivileges)
#include "tst_privileges.moc"
