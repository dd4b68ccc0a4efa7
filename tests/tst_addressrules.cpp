#include "address/AddressRules.h"

#include <QTest>

using namespace AddressRules;

namespace {
QuadTexts quad(const QString& dotted) {
    const QStringList p = dotted.split(QLatin1Char('|'));
    return {p.value(0), p.value(1), p.value(2), p.value(3)};
}
MacTexts mac(const QString& dashed) {
    const QStringList p = dashed.split(QLatin1Char('|'));
    return {p.value(0), p.value(1), p.value(2), p.value(3), p.value(4), p.value(5)};
}
} // namespace

// Octets are written "a|b|c|d" so that blanks and dots inside a field stay visible.
class TestAddressRules : public QObject {
    Q_OBJECT
private slots:
    // Catches a number test that is too lax (letters, lone signs, blanks only)
    // or too strict (signs, fractions, surrounding blanks).
    void numberReading_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("isNumber");
        QTest::addColumn<double>("value");
        QTest::newRow("ok_plain") << "192" << true << 192.0;
        QTest::newRow("ok_leading_zeros") << "007" << true << 7.0;
        QTest::newRow("ok_blanks_both_ends") << "  12 " << true << 12.0;
        QTest::newRow("ok_negative") << "-1" << true << -1.0;
        QTest::newRow("ok_plus") << "+5" << true << 5.0;
        QTest::newRow("ok_fraction") << "1.5" << true << 1.5;
        QTest::newRow("error_empty") << "" << false << 0.0;
        QTest::newRow("error_blanks_only") << "   " << false << 0.0;
        QTest::newRow("error_lone_minus") << "-" << false << 0.0;
        QTest::newRow("error_lone_plus") << "+" << false << 0.0;
        QTest::newRow("error_letter") << "1a" << false << 0.0;
        QTest::newRow("error_hex_prefix") << "0x1f" << false << 0.0;
        QTest::newRow("error_exponent") << "1e2" << false << 0.0;
        QTest::newRow("error_inner_blank") << "1 2" << false << 0.0;
        QTest::newRow("error_tab_is_not_a_blank") << "\t12" << false << 0.0;
    }
    void numberReading() {
        QFETCH(QString, text);
        QFETCH(bool, isNumber);
        QFETCH(double, value);
        QCOMPARE(AddressRules::isNumber(text), isNumber);
        if (isNumber)
            QCOMPARE(*numberValue(text), value);
    }

    // Catches wrong length, hex-digit or case handling, and a MAC member left
    // half-built after a failure.
    void checkMacAddress_data() {
        QTest::addColumn<QString>("fields");
        QTest::addColumn<QString>("before");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("after");
        QTest::newRow("ok_mixed_case") << "00|20|4A|1b|2C|3d"
                                       << "" << true << "00204a1b2c3d";
        QTest::newRow("ok_blanks_trimmed") << "00|80|a3| 1f |61|dd"
                                           << "" << true << "0080a31f61dd";
        QTest::newRow("ok_appends_to_member") << "00|80|a3|61|63|dd"
                                              << "x" << true << "x0080a36163dd";
        QTest::newRow("error_one_char_keeps_member") << "00|80|a3|6|63|dd"
                                                     << "keep" << false << "keep";
        QTest::newRow("error_three_chars_keeps_member") << "00|80|a3|616|63|dd"
                                                        << "keep" << false << "keep";
        QTest::newRow("error_empty_field") << "00|80|a3|61|63|"
                                           << "keep" << false << "keep";
        QTest::newRow("error_first_char_not_hex_empties") << "00|80|a3|61|63|g1"
                                                          << "keep" << false << "";
        QTest::newRow("error_last_char_not_hex_empties") << "00|80|a3|1:|63|dd"
                                                         << "keep" << false << "";
        QTest::newRow("error_inner_blank_not_hex") << "0 |80|a3|61|63|dd"
                                                   << "" << false << "";
    }
    void checkMacAddress() {
        QFETCH(QString, fields);
        QFETCH(QString, before);
        QFETCH(bool, ok);
        QFETCH(QString, after);
        QString member = before;
        QCOMPARE(checkMac(mac(fields), member), ok);
        QCOMPARE(member, after);
    }

    // Catches off-by-one bounds (255 vs 254), missing lower bound, and joined
    // texts that are trimmed or reformatted wrongly.
    void checkIPAddress_data() {
        QTest::addColumn<QString>("fields");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("joined");
        QTest::newRow("ok_254") << "192|168|1|254" << true << "192.168.1.254";
        QTest::newRow("ok_zeros") << "0|0|0|0" << true << "0.0.0.0";
        QTest::newRow("ok_blank_trimmed") << "192|168|1| 7" << true << "192.168.1.7";
        QTest::newRow("ok_leading_zero_kept") << "192|168|01|7" << true << "192.168.01.7";
        QTest::newRow("error_255") << "192|168|1|255" << false << "";
        QTest::newRow("error_negative") << "-1|168|1|2" << false << "";
        QTest::newRow("error_empty") << "192||1|2" << false << "";
        QTest::newRow("error_letters") << "192|x|1|2" << false << "";
    }
    void checkIPAddress() {
        QFETCH(QString, fields);
        QFETCH(bool, ok);
        QFETCH(QString, joined);
        QString member;
        QCOMPARE(checkIp(quad(fields), member), ok);
        QCOMPARE(member, joined);
    }

    // Catches a gateway lower bound that should not exist, a mask derivation
    // that depends on the gateway verdict, and wrong host-bit rules.
    void checkGateway_data() {
        QTest::addColumn<QString>("gateway");
        QTest::addColumn<QString>("mask");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("joinedGateway");
        QTest::addColumn<QString>("joinedMask");
        QTest::addColumn<int>("hostBits");
        QTest::newRow("ok_zeros") << "0|0|0|0"
                                  << "255|255|255|0" << true << "0.0.0.0"
                                  << "255.255.255.0" << 8;
        QTest::newRow("ok_gateway_negative_octet") << "-1|0|0|1"
                                                   << "255|255|255|0" << true << "-1.0.0.1"
                                                   << "255.255.255.0" << 8;
        QTest::newRow("ok_gateway_254") << "10|0|0|254"
                                        << "255|255|0|0" << true << "10.0.0.254"
                                        << "255.255.0.0" << 16;
        QTest::newRow("ok_mask_class_a") << "0|0|0|0"
                                         << "255|0|0|0" << true << "0.0.0.0"
                                         << "255.0.0.0" << 24;
        QTest::newRow("ok_mask_128_keeps_reset") << "0|0|0|0"
                                                 << "255|255|255|128" << true << "0.0.0.0"
                                                 << "255.255.255.128" << 99;
        QTest::newRow("ok_mask_noncontiguous") << "0|0|0|0"
                                               << "255|0|255|0" << true << "0.0.0.0"
                                               << "255.0.255.0" << 24;
        QTest::newRow("ok_mask_blank_kept") << "0|0|0|0"
                                            << "255|255| 7|0" << true << "0.0.0.0"
                                            << "255.255. 7.0" << 8;
        QTest::newRow("ok_mask_no_zero_keeps_reset") << "0|0|0|0"
                                                     << "255|255|255|252" << true << "0.0.0.0"
                                                     << "255.255.255.252" << 99;
        QTest::newRow("ok_mask_not_number_stops_derivation") << "0|0|0|0"
                                                             << "255|255||0" << true << "0.0.0.0"
                                                             << "255.255..0" << 99;
        QTest::newRow("error_gateway_255_mask_still_derived") << "0|0|0|255"
                                                              << "255|255|0|0" << false << ""
                                                              << "255.255.0.0" << 16;
        QTest::newRow("error_gateway_empty") << "0||0|0"
                                             << "255|0|0|0" << false << ""
                                             << "255.0.0.0" << 24;
    }
    void checkGateway() {
        QFETCH(QString, gateway);
        QFETCH(QString, mask);
        QFETCH(bool, ok);
        QFETCH(QString, joinedGateway);
        QFETCH(QString, joinedMask);
        QFETCH(int, hostBits);
        QString g;
        QString m;
        Integer bits = 99; // stands for whatever the Setup command left there
        QCOMPARE(AddressRules::checkGateway(quad(gateway), quad(mask), g, m, bits), ok);
        QCOMPARE(g, joinedGateway);
        QCOMPARE(m, joinedMask);
        QCOMPARE(int(bits), hostBits);
    }

    // Catches a mask bound that refuses 255 or accepts 256.
    void checkSubnetMask_data() {
        QTest::addColumn<QString>("mask");
        QTest::addColumn<bool>("ok");
        QTest::newRow("ok_all_255") << "255|255|255|255" << true;
        QTest::newRow("ok_zeros") << "0|0|0|0" << true;
        QTest::newRow("error_256") << "255|256|0|0" << false;
        QTest::newRow("error_negative") << "255|-1|0|0" << false;
        QTest::newRow("error_empty_third") << "255|255||0" << false;
    }
    void checkSubnetMask() {
        QFETCH(QString, mask);
        QFETCH(bool, ok);
        QCOMPARE(checkMask(quad(mask)), ok);
    }

    // Catches a family test that is not exact (case, position) or that looks
    // beyond the first three octets.
    // Catches a reader of dotted text that takes any form but the one plain
    // form: octal or hexadecimal parts, shortened addresses, signs, blanks,
    // non-ASCII digits, or text after the address let through.
    void readDotted_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("address"); // empty: no address
        QTest::newRow("ok_plain") << "10.77.80.2"
                                  << "10.77.80.2";
        QTest::newRow("ok_octet_bounds") << "0.255.0.255"
                                         << "0.255.0.255";
        QTest::newRow("ok_broadcast") << "255.255.255.255"
                                      << "255.255.255.255";
        QTest::newRow("ok_leading_zero_is_decimal") << "10.0.07.010"
                                                    << "10.0.7.10";
        QTest::newRow("ok_zeros") << "000.0.00.0"
                                  << "0.0.0.0";
        QTest::newRow("ok_octal_looking_08") << "192.168.08.1"
                                             << "192.168.8.1";
        QTest::newRow("error_four_digit_octet") << "10.77.78.0050"
                                                << "";
        QTest::newRow("error_octet_256") << "10.1.2.256"
                                         << "";
        QTest::newRow("error_short_form") << "10.1"
                                          << "";
        QTest::newRow("error_hexadecimal") << "0x0A.1.2.3"
                                           << "";
        QTest::newRow("error_plus_sign") << "+10.77.80.2"
                                         << "";
        QTest::newRow("error_minus_sign") << "10.77.80.-0"
                                          << "";
        QTest::newRow("error_blanks_around") << " 10.77.80.2"
                                             << "";
        QTest::newRow("error_blank_after_dot") << "10.77. 80.2"
                                               << "";
        QTest::newRow("error_text_after") << "10.77.80.2; true"
                                          << "";
        QTest::newRow("error_trailing_newline") << "10.77.80.2\n"
                                                << "";
        QTest::newRow("error_nul_inside")
            << QStringLiteral("10.77.80.2") + QChar(0) + QStringLiteral("x") << "";
        QTest::newRow("error_five_parts") << "10.5.1.2.3"
                                          << "";
        QTest::newRow("error_empty_part") << "10..2.3"
                                          << "";
        QTest::newRow("error_trailing_dot") << "10.1.2.3."
                                            << "";
        QTest::newRow("error_ipv6") << "::ffff:10.77.80.2"
                                    << "";
        QTest::newRow("error_name") << "adaptor.example"
                                    << "";
        QTest::newRow("error_empty") << ""
                                     << "";
        QTest::newRow("error_arabic_indic_digits") << QString::fromUtf8("10.77.78.\u0665\u0660") << "";
        QTest::newRow("error_fullwidth_digits") << QString::fromUtf8("10.77.78.\uff15\uff10") << "";
    }
    void readDotted() {
        QFETCH(QString, text);
        QFETCH(QString, address);
        const auto read = AddressRules::readDotted(text);
        QCOMPARE(read.has_value(), !address.isEmpty());
        if (read)
            QCOMPARE(AddressRules::dotted(*read), address);
    }

    void macFamily_data() {
        QTest::addColumn<QString>("member");
        QTest::addColumn<int>("family");
        QTest::newRow("family1") << "00204a1b2c3d" << 1;
        QTest::newRow("family2") << "0080a36163dd" << 2;
        QTest::newRow("unknown_4b") << "00204b1b2c3d" << 0;
        QTest::newRow("unknown_upper_case") << "00204A1b2c3d" << 0;
        QTest::newRow("unknown_empty") << "" << 0;
    }
    void macFamily() {
        QFETCH(QString, member);
        QFETCH(int, family);
        QCOMPARE(int(AddressRules::macFamily(member)), family);
    }
};

QTEST_GUILESS_MAIN(TestAddressRules)
#include "tst_addressrules.moc"
