#include "NetnsHarness.h"
#include "base/RunTimeError.h"
#include "net/HelperNeighbourTable.h"
#include "net/NetHelper.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

#include <linux/capability.h>
#include <sys/prctl.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr int kSubnet = 78;
const QString kTarget = QStringLiteral("10.77.78.50");
constexpr quint32 kTargetAddress = 0x0a4d4e32;
const AddressRules::MacOctets kAdaptorMac{0x00, 0x80, 0xa3, 0x61, 0x63, 0xdd};

// The host namespace's IPv4 neighbour entries for one address, one line each
// as the ip tool shows them, with its spacing evened out.
QStringList neighbours(NetnsHarness& h, const QString& address) {
    const QByteArray out = h.ipIn(h.hostNs(), {"-4", "neigh", "show", address});
    if (out.isNull())
        return {h.error()};
    QStringList lines;
    for (const QString& line : QString::fromLatin1(out).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        lines << line.simplified();
    return lines;
}

QStringList permanentEntry(NetnsHarness& h, const QString& address, const QString& lladdr) {
    return {
        QStringLiteral("%1 dev %2 lladdr %3 PERMANENT proto 147").arg(address, h.hostInterface(), lladdr)};
}

int openDescriptors() {
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size());
}

// Takes CAP_NET_ADMIN out of the calling thread's bounding set, so that a
// helper it starts runs without it; the rest of the test keeps it.
bool dropNetAdminInThisThread() {
    return ::prctl(PR_CAPBSET_DROP, CAP_NET_ADMIN, 0, 0, 0) == 0;
}

} // namespace

class TestNeighbourTable : public QObject {
    Q_OBJECT
private slots:
    // Catches an entry made on the wrong interface, in the wrong state or with
    // the MAC misread, and a netlink socket left open after each launch.
    void setEntry() {
        NetnsHarness h(kSubnet);
        NETNS_REQUIRE(h);
        QVERIFY2(h.enterHost(), qPrintable(h.error()));
        NetHelper helper(QStringLiteral(NETRIKA_HELPER));
        HelperNeighbourTable table(helper);
        QVERIFY(helper.start());
        const int descriptors = openDescriptors();
        table.bind(kTargetAddress, kAdaptorMac);
        QCOMPARE(openDescriptors(), descriptors);
        QCOMPARE(neighbours(h, kTarget), permanentEntry(h, kTarget, "00:80:a3:61:63:dd"));
    }

    // Catches a binding that takes over an address another entry holds (a
    // live host's, a permanent one made by someone else), or one that keeps
    // the old MAC or state of a stale entry it may replace; and a delete that
    // removes an entry this program did not make.
    void foreignEntry_data() {
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<bool>("bind");     // or release
        QTest::addColumn<QString>("after"); // lladdr and state left, or "" for none
        const bool set = true;
        const bool del = false;
        QTest::newRow("ok_replace_stale") << QStringList{"lladdr", "00:80:a3:01:02:03", "nud", "stale"} << set
                                          << "00:80:a3:61:63:dd PERMANENT proto 147";
        QTest::newRow("error_keep_reachable")
            << QStringList{"lladdr", "00:80:a3:01:02:03", "nud", "reachable"} << set
            << "00:80:a3:01:02:03 REACHABLE";
        QTest::newRow("error_keep_foreign_permanent")
            << QStringList{"lladdr", "00:80:a3:01:02:03", "nud", "permanent"} << set
            << "00:80:a3:01:02:03 PERMANENT";
        QTest::newRow("error_delete_foreign_permanent")
            << QStringList{"lladdr", "00:80:a3:61:63:dd", "nud", "permanent"} << del
            << "00:80:a3:61:63:dd PERMANENT";
        QTest::newRow("error_delete_foreign_stale")
            << QStringList{"lladdr", "00:80:a3:61:63:dd", "nud", "stale"} << del << "00:80:a3:61:63:dd STALE";
        QTest::newRow("ok_delete_absent") << QStringList{} << del << "";
    }
    void foreignEntry() {
        QFETCH(QStringList, before);
        QFETCH(bool, bind);
        QFETCH(QString, after);
        NetnsHarness h(kSubnet);
        NETNS_REQUIRE(h);
        if (!before.isEmpty())
            QVERIFY2(
                !h.ipIn(h.hostNs(), QStringList{"neigh", "add", kTarget, "dev", h.hostInterface()} + before)
                     .isNull(),
                qPrintable(h.error()));
        QVERIFY2(h.enterHost(), qPrintable(h.error()));
        NetHelper helper(QStringLiteral(NETRIKA_HELPER));
        HelperNeighbourTable table(helper);
        if (bind)
            table.bind(kTargetAddress, kAdaptorMac);
        else
            table.release(kTargetAddress);
        const QStringList expected =
            after.isEmpty()
                ? QStringList()
                : QStringList{QStringLiteral("%1 dev %2 lladdr %3").arg(kTarget, h.hostInterface(), after)};
        QCOMPARE(neighbours(h, kTarget), expected);
    }

    // Catches a set and a delete that disagree on the interface, so that the
    // binding outlives the ARP route.
    void setThenDelete() {
        NetnsHarness h(kSubnet);
        NETNS_REQUIRE(h);
        QVERIFY2(h.enterHost(), qPrintable(h.error()));
        NetHelper helper(QStringLiteral(NETRIKA_HELPER));
        HelperNeighbourTable table(helper);
        table.bind(kTargetAddress, kAdaptorMac);
        QCOMPARE(neighbours(h, kTarget), permanentEntry(h, kTarget, "00:80:a3:61:63:dd"));
        table.bind(kTargetAddress, {0x00, 0x80, 0xa3, 0x61, 0x63, 0xde});
        QCOMPARE(neighbours(h, kTarget), permanentEntry(h, kTarget, "00:80:a3:61:63:de"));
        table.release(kTargetAddress);
        QCOMPARE(neighbours(h, kTarget), QStringList());
    }

    // Catches a missing privilege that throws, goes unreported, or is reported
    // without naming CAP_NET_ADMIN and how to grant it to the helper.
    void withoutCapability() {
        NetnsHarness h(kSubnet);
        NETNS_REQUIRE(h);
        QTest::ignoreMessage(
            QtWarningMsg, QRegularExpression(
                              QStringLiteral("CAP_NET_ADMIN.*a build's helper: never give it capabilities")));
        bool dropped = false;
        bool threw = false;
        // The network namespace and the bounding set both belong to a thread.
        std::thread worker([&] {
            dropped = h.enterHost() && dropNetAdminInThisThread();
            if (!dropped)
                return;
            try {
                NetHelper helper(QStringLiteral(NETRIKA_HELPER));
                HelperNeighbourTable(helper).bind(kTargetAddress, kAdaptorMac);
            } catch (...) {
                threw = true;
            }
        });
        worker.join();
        QVERIFY2(dropped, qPrintable(h.error()));
        QVERIFY(!threw);
        QCOMPARE(neighbours(h, kTarget), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestNeighbourTable)
#include "tst_neighbourtable.moc"
