#include "NetnsHarness.h"
#include "base/RunTimeError.h"
#include "net/NeighbourCommand.h"
#include "net/NetHelper.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

#include <linux/capability.h>
#include <sys/prctl.h>
#include <thread>
#include <unistd.h>

using ArpRequest = NeighbourCommand::ArpRequest;
using Mac = std::array<quint8, 6>;
Q_DECLARE_METATYPE(Mac)

namespace {

constexpr int kSubnet = 78;
const QString kTarget = QStringLiteral("10.77.78.50");
const QString kAdaptorMac = QStringLiteral("00-80-a3-61-63-dd");
const Mac kAdaptorBytes{0x00, 0x80, 0xa3, 0x61, 0x63, 0xdd};

// A file that only a shell running the injected text would create.
QString injectionMarker() {
    return QDir::tempPath() + QStringLiteral("/nk-neigh-injected-%1").arg(::getpid());
}

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
    return {QStringLiteral("%1 dev %2 lladdr %3 PERMANENT proto 147").arg(address, h.hostInterface(), lladdr)};
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

class TestNeighbourCommand : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { QFile::remove(injectionMarker()); }

    // Catches a MAC or address read wrongly (case, separator, byte order, octal
    // reading of a leading zero) or a set line mistaken for a delete.
    void parseAccepted_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("kind");
        QTest::addColumn<quint32>("address");
        QTest::addColumn<Mac>("mac");
        QTest::newRow("ok_set_dashed_lower") << "arp -s 201.23.12.82 00-80-a3-61-63-dd"
                                             << int(ArpRequest::Set) << 0xc9170c52u << kAdaptorBytes;
        QTest::newRow("ok_set_dashed_upper") << "arp -s 201.23.12.82 00-80-A3-61-63-DD"
                                             << int(ArpRequest::Set) << 0xc9170c52u << kAdaptorBytes;
        QTest::newRow("ok_set_colon") << "arp -s 201.23.12.82 00:80:a3:61:63:dd" << int(ArpRequest::Set)
                                      << 0xc9170c52u << kAdaptorBytes;
        QTest::newRow("ok_set_all_ff") << "arp -s 10.0.0.1 ff-FF-fF-ff-ff-ff" << int(ArpRequest::Set)
                                       << 0x0a000001u << Mac{0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
        QTest::newRow("ok_delete") << "arp -d 201.23.12.82" << int(ArpRequest::Delete) << 0xc9170c52u
                                   << Mac{};
        QTest::newRow("ok_octet_bounds")
            << "arp -d 0.255.0.255" << int(ArpRequest::Delete) << 0x00ff00ffu << Mac{};
        QTest::newRow("ok_leading_zero_is_decimal")
            << "arp -d 10.0.07.010" << int(ArpRequest::Delete) << 0x0a00070au << Mac{};
    }
    void parseAccepted() {
        QFETCH(QString, line);
        QFETCH(int, kind);
        QFETCH(quint32, address);
        QFETCH(Mac, mac);
        const auto request = NeighbourCommand::parse(line);
        QVERIFY(request.has_value());
        QCOMPARE(int(request->kind), kind);
        QCOMPARE(request->address, address);
        QCOMPARE(request->mac, mac);
    }

    // Catches a reader that takes a valid prefix and ignores the rest, lets
    // shell text through to anything, or accepts non-ASCII digits; and a
    // refusal that is not reported as a command that could not be started.
    void refused_data() {
        QTest::addColumn<QString>("line");
        const QString m = injectionMarker();
        QTest::newRow("error_mac_too_short") << "arp -s 10.77.78.50 00-80-a3-61-63";
        QTest::newRow("error_mac_short_pair") << "arp -s 10.77.78.50 00-80-a3-6-63-dd";
        QTest::newRow("error_mac_too_long") << "arp -s 10.77.78.50 00-80-a3-61-63-dd-ee";
        QTest::newRow("error_mac_bad_hex") << "arp -s 10.77.78.50 00-80-a3-61-63-dg";
        QTest::newRow("error_mac_mixed_separators") << "arp -s 10.77.78.50 00-80:a3-61-63-dd";
        QTest::newRow("error_mac_dot_separators") << "arp -s 10.77.78.50 00.80.a3.61.63.dd";
        QTest::newRow("error_mac_no_separators") << "arp -s 10.77.78.50 0080a36163dd";
        QTest::newRow("error_mac_missing") << "arp -s 10.77.78.50";
        QTest::newRow("error_ip_octet_256") << "arp -s 10.77.78.256 00-80-a3-61-63-dd";
        QTest::newRow("error_ip_three_octets") << "arp -s 10.77.78 00-80-a3-61-63-dd";
        QTest::newRow("error_ip_five_octets") << "arp -d 10.77.78.50.1";
        QTest::newRow("error_ip_empty_octet") << "arp -d 10.77..50";
        QTest::newRow("error_ip_four_digit_octet") << "arp -d 10.77.78.0050";
        QTest::newRow("error_ip_letters") << "arp -d 10.77.78.5a";
        QTest::newRow("error_ip_hex_form") << "arp -d 0x0a.77.78.50";
        QTest::newRow("error_ip_sign") << "arp -d 10.77.78.+5";
        QTest::newRow("error_ip_host_name") << "arp -d localhost";
        QTest::newRow("error_ip_arabic_indic_digits") << QString::fromUtf8("arp -d 10.77.78.\u0665\u0660");
        QTest::newRow("error_ip_fullwidth_digits") << QString::fromUtf8("arp -d 10.77.78.\uff15\uff10");
        QTest::newRow("error_shell_metacharacters")
            << "arp -s 10.77.78.50 00-80-a3-61-63-dd; rm -rf " + m + "; touch " + m;
        QTest::newRow("error_shell_semicolon_glued") << "arp -s 10.77.78.50 00-80-a3-61-63-dd;touch " + m;
        QTest::newRow("error_shell_pipe") << "arp -d 10.77.78.50|touch " + m;
        QTest::newRow("error_shell_and") << "arp -s 10.77.78.50 00-80-a3-61-63-dd && touch " + m;
        QTest::newRow("error_shell_backticks") << "arp -d `touch " + m + "`";
        QTest::newRow("error_shell_dollar_paren") << "arp -d $(touch " + m + ")";
        QTest::newRow("error_shell_redirect") << "arp -d 10.77.78.50>" + m;
        QTest::newRow("error_shell_quotes") << "arp -d '10.77.78.50'";
        QTest::newRow("error_shell_double_quotes") << "arp -s \"10.77.78.50\" 00-80-a3-61-63-dd";
        QTest::newRow("error_newline_injection") << "arp -s 10.77.78.50 00-80-a3-61-63-dd\ntouch " + m;
        QTest::newRow("error_trailing_newline") << "arp -d 10.77.78.50\n";
        QTest::newRow("error_nul_inside")
            << QStringLiteral("arp -d 10.77.78.50") + QChar(0) + QStringLiteral("1");
        QTest::newRow("error_extra_field_set") << "arp -s 10.77.78.50 00-80-a3-61-63-dd 10.77.78.1";
        QTest::newRow("error_extra_field_delete") << "arp -d 10.77.78.50 00-80-a3-61-63-dd";
        QTest::newRow("error_unknown_option") << "arp -x 10.77.78.50";
        QTest::newRow("error_other_program") << "rm -d 10.77.78.50";
        QTest::newRow("error_program_upper_case") << "ARP -d 10.77.78.50";
        QTest::newRow("error_empty") << "";
        QTest::newRow("error_only_spaces") << "   ";
        QTest::newRow("error_leading_space") << " arp -s 10.77.78.50 00-80-a3-61-63-dd";
        QTest::newRow("error_trailing_space") << "arp -s 10.77.78.50 00-80-a3-61-63-dd ";
        QTest::newRow("error_double_space") << "arp -s 10.77.78.50  00-80-a3-61-63-dd";
        QTest::newRow("error_tab_separator") << "arp -s\t10.77.78.50 00-80-a3-61-63-dd";
    }
    void refused() {
        QFETCH(QString, line);
        QString why;
        QVERIFY(!NeighbourCommand::parse(line, &why).has_value());
        QVERIFY(!why.isEmpty());

        NetnsHarness h(kSubnet);
        NETNS_REQUIRE(h);
        QVERIFY2(h.enterHost(), qPrintable(h.error()));
        NetHelper helper(QStringLiteral(NETRIKA_HELPER));
        NeighbourCommand command(helper);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("refused")));
        try {
            command.launch(line, HostCommand::kMinimizedFocus);
            QFAIL("a refused line was carried out");
        } catch (const RunTimeError& e) {
            QCOMPARE(e.number(), int(RunTimeError::CommandNotStarted));
        }
        QCOMPARE(h.ipIn(h.hostNs(), {"-4", "neigh", "show", "nud", "permanent"}), QByteArray(""));
        QVERIFY(!QFile::exists(injectionMarker()));
    }

    // Catches an entry made on the wrong interface, in the wrong state or with
    // the MAC misread, and a netlink socket left open after each launch.
    void setEntry_data() {
        QTest::addColumn<QString>("mac");
        QTest::newRow("ok_set_entry") << kAdaptorMac;
        QTest::newRow("ok_set_entry_upper_case") << "00-80-A3-61-63-DD";
        QTest::newRow("ok_set_entry_colon") << "00:80:a3:61:63:dd";
    }
    void setEntry() {
        QFETCH(QString, mac);
        NetnsHarness h(kSubnet);
        NETNS_REQUIRE(h);
        QVERIFY2(h.enterHost(), qPrintable(h.error()));
        NetHelper helper(QStringLiteral(NETRIKA_HELPER));
        NeighbourCommand command(helper);
        QVERIFY(helper.start());
        const int descriptors = openDescriptors();
        command.launch("arp -s " + kTarget + " " + mac, HostCommand::kMinimizedFocus);
        QCOMPARE(openDescriptors(), descriptors);
        QCOMPARE(neighbours(h, kTarget), permanentEntry(h, kTarget, "00:80:a3:61:63:dd"));
    }

    // Catches a binding that takes over an address another entry holds (a
    // live host's, a permanent one made by someone else), or one that keeps
    // the old MAC or state of a stale entry it may replace; and a delete that
    // removes an entry this program did not make.
    void foreignEntry_data() {
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("after"); // lladdr and state left, or "" for none
        const QString set = "arp -s " + kTarget + " " + kAdaptorMac;
        const QString del = "arp -d " + kTarget;
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
        QFETCH(QString, line);
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
        NeighbourCommand command(helper);
        command.launch(line, HostCommand::kMinimizedFocus);
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
        NeighbourCommand command(helper);
        command.launch("arp -s " + kTarget + " " + kAdaptorMac, HostCommand::kMinimizedFocus);
        QCOMPARE(neighbours(h, kTarget), permanentEntry(h, kTarget, "00:80:a3:61:63:dd"));
        command.launch("arp -s " + kTarget + " 00-80-a3-61-63-de", HostCommand::kMinimizedFocus);
        QCOMPARE(neighbours(h, kTarget), permanentEntry(h, kTarget, "00:80:a3:61:63:de"));
        command.launch("arp -d " + kTarget, HostCommand::kMinimizedFocus);
        QCOMPARE(neighbours(h, kTarget), QStringList());
    }

    // Catches a missing privilege that throws, goes unreported, or is reported
    // without naming CAP_NET_ADMIN and how to grant it to the helper.
    void withoutCapability() {
        NetnsHarness h(kSubnet);
        NETNS_REQUIRE(h);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral(
                                               "CAP_NET_ADMIN.*a build's helper: never give it capabilities")));
        bool dropped = false;
        bool threw = false;
        // The network namespace and the bounding set both belong to a thread.
        std::thread worker([&] {
            dropped = h.enterHost() && dropNetAdminInThisThread();
            if (!dropped)
                return;
            try {
                NetHelper helper(QStringLiteral(NETRIKA_HELPER));
                NeighbourCommand(helper).launch("arp -s " + kTarget + " " + kAdaptorMac,
                                                HostCommand::kMinimizedFocus);
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

QTEST_GUILESS_MAIN(TestNeighbourCommand)
#include "tst_neighbourcommand.moc"
