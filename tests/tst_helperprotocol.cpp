#include "net/helper/HelperProtocol.h"

#include <QTest>

#include <string>

// The lines a front end sends to the network helper, read and written as the
// helper and the front ends both do: plain functions over text, no helper
// started and no network namespace.
class TestHelperProtocol : public QObject {
    Q_OBJECT
private slots:
    // Catches a request reader that takes more than the one strict form of
    // each request, and a formatter the reader does not read back.
    void parseRequest_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("ok_echo") << "echo 10.77.85.2" << true;
        QTest::newRow("ok_arp_probe") << "arp-probe 0.255.0.255" << true;
        QTest::newRow("ok_neigh_add") << "neigh-add 10.77.85.50 00:80:a3:61:63:dd" << true;
        QTest::newRow("ok_neigh_del") << "neigh-del 10.77.85.50" << true;
        QTest::newRow("error_upper_case_verb") << "ECHO 10.77.85.2" << false;
        QTest::newRow("error_double_space") << "echo  10.77.85.2" << false;
        QTest::newRow("error_trailing_space") << "echo 10.77.85.2 " << false;
        QTest::newRow("error_four_digit_octet") << "echo 10.77.85.0002" << false;
        QTest::newRow("error_octet_256") << "echo 10.77.85.256" << false;
        QTest::newRow("error_short_form") << "echo 10.1" << false;
        QTest::newRow("error_leading_zero") << "echo 10.077.85.2" << false;
        QTest::newRow("error_sign") << "echo +10.77.85.2" << false;
        QTest::newRow("error_mac_upper_case") << "neigh-add 10.77.85.50 00:80:A3:61:63:DD" << false;
        QTest::newRow("error_mac_dashes") << "neigh-add 10.77.85.50 00-80-a3-61-63-dd" << false;
        QTest::newRow("error_mac_missing") << "neigh-add 10.77.85.50" << false;
        QTest::newRow("error_mac_on_delete") << "neigh-del 10.77.85.50 00:80:a3:61:63:dd" << false;
        QTest::newRow("error_nul") << QString::fromLatin1("echo 10.77.85.2\0", 16) << false;
        QTest::newRow("error_too_long")
            << "neigh-add 10.77.85.50 00:80:a3:61:63:dd" + QString(30, ' ') << false;
        QTest::newRow("error_empty") << "" << false;
        QTest::newRow("ok_arp_sweep") << "arp-sweep nkh-1.a_b 10.77.85.0/24" << true;
        QTest::newRow("ok_arp_sweep_widest") << "arp-sweep eth0 10.77.80.0/20" << true;
        QTest::newRow("ok_arp_sweep_narrowest") << "arp-sweep eth0 10.77.85.252/30" << true;
        QTest::newRow("ok_arp_sweep_name_15") << "arp-sweep abcdefghijklmno 10.77.85.0/24" << true;
        QTest::newRow("error_sweep_name_16") << "arp-sweep abcdefghijklmnop 10.77.85.0/24" << false;
        QTest::newRow("error_sweep_name_dot") << "arp-sweep . 10.77.85.0/24" << false;
        QTest::newRow("error_sweep_name_dotdot") << "arp-sweep .. 10.77.85.0/24" << false;
        QTest::newRow("error_sweep_name_slash") << "arp-sweep a/b 10.77.85.0/24" << false;
        QTest::newRow("error_sweep_name_colon") << "arp-sweep eth0:1 10.77.85.0/24" << false;
        QTest::newRow("error_sweep_not_network") << "arp-sweep eth0 10.77.85.1/24" << false;
        QTest::newRow("error_sweep_prefix_19") << "arp-sweep eth0 10.77.64.0/19" << false;
        QTest::newRow("error_sweep_prefix_31") << "arp-sweep eth0 10.77.85.0/31" << false;
        QTest::newRow("error_sweep_prefix_leading_zero") << "arp-sweep eth0 10.77.85.0/024" << false;
        QTest::newRow("error_sweep_prefix_one_digit") << "arp-sweep eth0 10.77.85.0/8" << false;
        QTest::newRow("error_sweep_no_prefix") << "arp-sweep eth0 10.77.85.0" << false;
        QTest::newRow("error_sweep_no_interface") << "arp-sweep 10.77.85.0/24" << false;
        QTest::newRow("error_sweep_trailing") << "arp-sweep eth0 10.77.85.0/24 " << false;
    }
    void parseRequest() {
        QFETCH(QString, line);
        QFETCH(bool, accepted);
        const std::string text = line.toStdString();
        std::string why;
        const auto request = helper::parseRequest(text, &why);
        QCOMPARE(request.has_value(), accepted);
        if (request)
            QCOMPARE(QString::fromStdString(helper::formatRequest(*request)), line);
        else
            QVERIFY(!why.empty());
    }
};

QTEST_GUILESS_MAIN(TestHelperProtocol)
#include "tst_helperprotocol.moc"
