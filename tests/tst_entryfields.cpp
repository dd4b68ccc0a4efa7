#include "WindowFixture.h"
#include "address/EntryFields.h"

#include <QSignalSpy>

namespace {
const QString kMac = EntryFields::kMacPrefixMessage;
const QString kFormat = EntryFields::kFormatMessage;

// "mac1=20;mac2=4a" → presets.
void applyPresets(const WindowFixture& f, const QString& presets) {
    for (const QString& p : presets.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const auto kv = p.split(QLatin1Char('='));
        f.preset(kv.at(0), kv.value(1));
    }
}
} // namespace

class TestEntryFields : public QObject {
    Q_OBJECT
private:
    // Shared columns: presets, the field typed into, the keys, then what is
    // expected of the typed field, of one other field, of the focus and the status.
    static void columns() {
        QTest::addColumn<QString>("presets");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("other"); // "Name=text", or empty
        QTest::addColumn<QString>("focus");
        QTest::addColumn<QString>("status");
    }
    static void check() {
        QFETCH(QString, presets);
        QFETCH(QString, field);
        QFETCH(QString, keys);
        QFETCH(QString, text);
        QFETCH(QString, other);
        QFETCH(QString, focus);
        QFETCH(QString, status);
        WindowFixture f;
        QVERIFY(f.ready);
        applyPresets(f, presets);
        f.presetStatus(QStringLiteral("stale"));
        f.typeInto(field, keys);
        QCOMPARE(f.edit(field)->text(), text);
        if (!other.isEmpty()) {
            const auto kv = other.split(QLatin1Char('='));
            QCOMPARE(f.edit(kv.at(0))->text(), kv.value(1));
        }
        QCOMPARE(f.focusName(), focus);
        QCOMPARE(f.status(), status);
    }

private slots:
    // Catches a wrong prefix rule, a field not emptied on rejection, a focus
    // that moves from a rejected field, and stale complaints left standing.
    void macTyping_data() {
        columns();
        QTest::newRow("wait_first_one_char") << ""
                                             << "mac0"
                                             << "7"
                                             << "7"
                                             << ""
                                             << "mac0"
                                             << "stale";
        QTest::newRow("ok_first_any_becomes_00") << ""
                                                 << "mac0"
                                                 << "7f"
                                                 << "00"
                                                 << ""
                                                 << "mac1"
                                                 << "stale";
        QTest::newRow("ok_first_dash_becomes_00") << ""
                                                  << "mac0"
                                                  << "0-"
                                                  << "00"
                                                  << ""
                                                  << "mac1"
                                                  << "stale";
        QTest::newRow("ok_first_00") << ""
                                     << "mac0"
                                     << "00"
                                     << "00"
                                     << ""
                                     << "mac1"
                                     << "stale";
        QTest::newRow("ok_second_20_empties_third") << "mac2=4a"
                                                    << "mac1"
                                                    << "20"
                                                    << "20"
                                                    << "mac2="
                                                    << "mac2"
                                                    << "";
        QTest::newRow("ok_second_80") << ""
                                      << "mac1"
                                      << "80"
                                      << "80"
                                      << ""
                                      << "mac2"
                                      << "";
        QTest::newRow("error_second_21") << "mac2=4a"
                                         << "mac1"
                                         << "21"
                                         << ""
                                         << "mac2=4a"
                                         << "mac1" << kMac;
        QTest::newRow("error_second_dash") << ""
                                           << "mac1"
                                           << "2-"
                                           << ""
                                           << ""
                                           << "mac1" << kMac;
        QTest::newRow("ok_third_4A_after_20") << "mac1=20"
                                              << "mac2"
                                              << "4A"
                                              << "4A"
                                              << ""
                                              << "mac3"
                                              << "";
        QTest::newRow("ok_third_A3_after_80") << "mac1=80"
                                              << "mac2"
                                              << "A3"
                                              << "A3"
                                              << ""
                                              << "mac3"
                                              << "";
        QTest::newRow("error_third_a3_after_20") << "mac1=20"
                                                 << "mac2"
                                                 << "a3"
                                                 << ""
                                                 << ""
                                                 << "mac2" << kMac;
        QTest::newRow("error_third_second_empty") << ""
                                                  << "mac2"
                                                  << "4a"
                                                  << ""
                                                  << ""
                                                  << "mac2" << kMac;
        QTest::newRow("error_third_second_one_char") << "mac1=2"
                                                     << "mac2"
                                                     << "4a"
                                                     << ""
                                                     << ""
                                                     << "mac2" << kMac;
        QTest::newRow("ok_fourth_case_kept") << ""
                                             << "mac3"
                                             << "Fe"
                                             << "Fe"
                                             << ""
                                             << "mac4"
                                             << "";
        QTest::newRow("error_fourth_g1") << ""
                                         << "mac3"
                                         << "g1"
                                         << ""
                                         << ""
                                         << "mac3" << kFormat;
        QTest::newRow("error_fifth_1g") << ""
                                        << "mac4"
                                        << "1g"
                                        << ""
                                        << ""
                                        << "mac4" << kFormat;
        QTest::newRow("error_sixth_dash") << ""
                                          << "mac5"
                                          << "1-"
                                          << ""
                                          << ""
                                          << "mac5" << kFormat;
        QTest::newRow("error_sixth_dot") << ""
                                         << "mac5"
                                         << "1."
                                         << ""
                                         << ""
                                         << "mac5" << kFormat;
        QTest::newRow("ok_sixth_moves_to_ip") << ""
                                              << "mac5"
                                              << "dd"
                                              << "dd"
                                              << ""
                                              << "ip0"
                                              << "";
        QTest::newRow("wait_char_and_space") << ""
                                             << "mac4"
                                             << "a "
                                             << "a "
                                             << ""
                                             << "mac4"
                                             << "stale";
        QTest::newRow("wait_space_and_char") << ""
                                             << "mac4"
                                             << " a"
                                             << " a"
                                             << ""
                                             << "mac4"
                                             << "stale";
        QTest::newRow("ok_whole_mac_in_one_go") << ""
                                                << "mac0"
                                                << "0080a36163dd"
                                                << "00"
                                                << "mac5=dd"
                                                << "ip0"
                                                << "";
        QTest::newRow("error_max_two_chars") << ""
                                             << "mac3"
                                             << "abc"
                                             << "ab"
                                             << "mac4=c"
                                             << "mac4"
                                             << "";
    }
    void macTyping() { check(); }

    // Catches a wrong bound per array, a missing normalisation, a dot taken as
    // an octet move, and focus moving to the wrong next field.
    void quadTyping_data() {
        columns();
        QTest::newRow("wait_ip_two_digits") << ""
                                            << "ip0"
                                            << "19"
                                            << "19"
                                            << ""
                                            << "ip0"
                                            << "";
        QTest::newRow("ok_ip_three_digits") << ""
                                            << "ip0"
                                            << "192"
                                            << "192"
                                            << ""
                                            << "ip1"
                                            << "";
        QTest::newRow("ok_ip_010_becomes_10") << ""
                                              << "ip1"
                                              << "010"
                                              << "10"
                                              << ""
                                              << "ip2"
                                              << "";
        QTest::newRow("ok_ip_007_becomes_7") << ""
                                             << "ip2"
                                             << "007"
                                             << "7"
                                             << ""
                                             << "ip3"
                                             << "";
        QTest::newRow("ok_ip_000_becomes_0") << ""
                                             << "ip2"
                                             << "000"
                                             << "0"
                                             << ""
                                             << "ip3"
                                             << "";
        QTest::newRow("ok_ip_last_to_mask") << ""
                                            << "ip3"
                                            << "254"
                                            << "254"
                                            << ""
                                            << "mask0"
                                            << "";
        QTest::newRow("error_ip_255") << ""
                                      << "ip0"
                                      << "255"
                                      << ""
                                      << ""
                                      << "ip0" << kFormat;
        QTest::newRow("error_gateway_255") << "gateway1="
                                           << "gateway1"
                                           << "255"
                                           << ""
                                           << ""
                                           << "gateway1" << kFormat;
        QTest::newRow("ok_mask_255") << "mask1="
                                     << "mask1"
                                     << "255"
                                     << "255"
                                     << ""
                                     << "mask2"
                                     << "";
        QTest::newRow("error_mask_256") << "mask1="
                                        << "mask1"
                                        << "256"
                                        << ""
                                        << ""
                                        << "mask1" << kFormat;
        QTest::newRow("error_mask_four_digits") << ""
                                                << "mask0"
                                                << "5"
                                                << ""
                                                << ""
                                                << "mask0" << kFormat;
        QTest::newRow("ok_mask_last_to_gateway") << "mask3="
                                                 << "mask3"
                                                 << "128"
                                                 << "128"
                                                 << ""
                                                 << "gateway0"
                                                 << "";
        QTest::newRow("ok_gateway_last_to_setup") << "gateway3="
                                                  << "gateway3"
                                                  << "254"
                                                  << "254"
                                                  << ""
                                                  << "setupButton"
                                                  << "";
        QTest::newRow("error_dot_after_digits") << ""
                                                << "ip0"
                                                << "12."
                                                << ""
                                                << ""
                                                << "ip0" << kFormat;
        QTest::newRow("error_letter") << ""
                                      << "ip0"
                                      << "1a"
                                      << ""
                                      << ""
                                      << "ip0" << kFormat;
        QTest::newRow("error_x") << ""
                                 << "ip0"
                                 << "x"
                                 << ""
                                 << ""
                                 << "ip0" << kFormat;
        QTest::newRow("error_lone_minus") << ""
                                          << "ip0"
                                          << "-"
                                          << ""
                                          << ""
                                          << "ip0" << kFormat;
        QTest::newRow("error_lone_plus") << ""
                                         << "ip0"
                                         << "+"
                                         << ""
                                         << ""
                                         << "ip0" << kFormat;
        QTest::newRow("wait_leading_space") << "ip0=12"
                                            << "ip0"
                                            << "^ "
                                            << " 12"
                                            << ""
                                            << "ip0"
                                            << "";
        QTest::newRow("error_space_first_rejected") << ""
                                                    << "ip0"
                                                    << " "
                                                    << ""
                                                    << ""
                                                    << "ip0" << kFormat;
        QTest::newRow("ok_minus_in_front_moves") << "ip0=12"
                                                 << "ip0"
                                                 << "^-"
                                                 << "-12"
                                                 << ""
                                                 << "ip1"
                                                 << "";
        QTest::newRow("ok_plus_in_front_normalised") << "ip0=12"
                                                     << "ip0"
                                                     << "^+"
                                                     << "12"
                                                     << ""
                                                     << "ip1"
                                                     << "";
        QTest::newRow("error_minus_first_rejected") << ""
                                                    << "ip0"
                                                    << "-12"
                                                    << "12"
                                                    << ""
                                                    << "ip0"
                                                    << "";
        QTest::newRow("ok_whole_ip_in_one_go") << ""
                                               << "ip0"
                                               << "201023012082"
                                               << "201"
                                               << "ip3=82"
                                               << "mask0"
                                               << "";
    }
    void quadTyping() { check(); }

    // Catches an emptied field that does not complain (the empty text is not a number).
    void deletingLastCharacterComplains() {
        WindowFixture f;
        QVERIFY(f.ready);
        f.typeInto(QStringLiteral("gateway2"), QString());
        QTest::keyClick(f.edit(QStringLiteral("gateway2")), Qt::Key_Backspace);
        QCOMPARE(f.edit(QStringLiteral("gateway2"))->text(), QString());
        QCOMPARE(f.status(), kFormat);
        QCOMPARE(f.focusName(), QStringLiteral("gateway2"));
    }

    // Catches a write from code that raises Change although the text is
    // unchanged, or fails to raise it when the text differs.
    void nestedChangeCounts_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<int>("changes");
        QTest::newRow("identical_write_00_raises_none") << "mac0"
                                                        << "00" << 2;
        QTest::newRow("write_00_over_7f_raises_one") << "mac0"
                                                     << "7f" << 3;
        QTest::newRow("emptying_raises_one") << "mac3"
                                             << "g1" << 3;
        QTest::newRow("normalising_007_raises_one") << "ip0"
                                                    << "007" << 4;
        QTest::newRow("normalising_123_raises_none") << "ip0"
                                                     << "123" << 3;
    }
    void nestedChangeCounts() {
        QFETCH(QString, field);
        QFETCH(QString, keys);
        QFETCH(int, changes);
        WindowFixture f;
        QVERIFY(f.ready);
        QSignalSpy spy(f.edit(field), &QLineEdit::textChanged);
        f.typeInto(field, keys);
        QCOMPARE(spy.count(), changes);
    }

    // Catches two fields lit at once, or a field left lit when the focus goes
    // to a button.
    void focusHighlight() {
        WindowFixture f;
        QVERIFY(f.ready);
        const auto activeCount = [&] {
            int n = 0;
            for (int i = 0; i < EntryFields::kFieldCount; ++i)
                n += f.isActiveColour(f.window->entry(i));
            return n;
        };
        // The window opens with the focus, and the highlight, in the first MAC field.
        QCOMPARE(f.focusName(), QStringLiteral("mac0"));
        QCOMPARE(activeCount(), 1);
        for (const char* name : {"mac0", "ip3", "mask1", "gateway2", "mac5"}) {
            f.edit(QLatin1String(name))->setFocus(Qt::TabFocusReason);
            QCOMPARE(activeCount(), 1);
            QVERIFY2(f.isActiveColour(f.edit(QLatin1String(name))), name);
        }
        // Automatic advance moves the highlight along with the focus.
        f.typeInto(QStringLiteral("ip0"), QStringLiteral("192"));
        QVERIFY(f.isActiveColour(f.edit(QStringLiteral("ip1"))));
        QCOMPARE(activeCount(), 1);
        f.window->setupButton()->setFocus(Qt::TabFocusReason);
        QCOMPARE(activeCount(), 0);
    }
};

QTEST_MAIN(TestEntryFields)
#include "tst_entryfields.moc"
