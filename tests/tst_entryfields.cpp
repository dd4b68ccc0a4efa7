#include "WindowFixture.h"
#include "address/EntryFields.h"

#include <QSignalSpy>

namespace {
const QString kMac = EntryFields::kMacPrefixMessage;
const QString kFormat = EntryFields::kFormatMessage;

// "Text1_1=20;Text1_2=4a" → presets.
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
                                             << "Text1_0"
                                             << "7"
                                             << "7"
                                             << ""
                                             << "Text1_0"
                                             << "stale";
        QTest::newRow("ok_first_any_becomes_00") << ""
                                                 << "Text1_0"
                                                 << "7f"
                                                 << "00"
                                                 << ""
                                                 << "Text1_1"
                                                 << "stale";
        QTest::newRow("ok_first_dash_becomes_00") << ""
                                                  << "Text1_0"
                                                  << "0-"
                                                  << "00"
                                                  << ""
                                                  << "Text1_1"
                                                  << "stale";
        QTest::newRow("ok_first_00") << ""
                                     << "Text1_0"
                                     << "00"
                                     << "00"
                                     << ""
                                     << "Text1_1"
                                     << "stale";
        QTest::newRow("ok_second_20_empties_third") << "Text1_2=4a"
                                                    << "Text1_1"
                                                    << "20"
                                                    << "20"
                                                    << "Text1_2="
                                                    << "Text1_2"
                                                    << "";
        QTest::newRow("ok_second_80") << ""
                                      << "Text1_1"
                                      << "80"
                                      << "80"
                                      << ""
                                      << "Text1_2"
                                      << "";
        QTest::newRow("error_second_21") << "Text1_2=4a"
                                         << "Text1_1"
                                         << "21"
                                         << ""
                                         << "Text1_2=4a"
                                         << "Text1_1" << kMac;
        QTest::newRow("error_second_dash") << ""
                                           << "Text1_1"
                                           << "2-"
                                           << ""
                                           << ""
                                           << "Text1_1" << kMac;
        QTest::newRow("ok_third_4A_after_20") << "Text1_1=20"
                                              << "Text1_2"
                                              << "4A"
                                              << "4A"
                                              << ""
                                              << "Text1_3"
                                              << "";
        QTest::newRow("ok_third_A3_after_80") << "Text1_1=80"
                                              << "Text1_2"
                                              << "A3"
                                              << "A3"
                                              << ""
                                              << "Text1_3"
                                              << "";
        QTest::newRow("error_third_a3_after_20") << "Text1_1=20"
                                                 << "Text1_2"
                                                 << "a3"
                                                 << ""
                                                 << ""
                                                 << "Text1_2" << kMac;
        QTest::newRow("error_third_second_empty") << ""
                                                  << "Text1_2"
                                                  << "4a"
                                                  << ""
                                                  << ""
                                                  << "Text1_2" << kMac;
        QTest::newRow("error_third_second_one_char") << "Text1_1=2"
                                                     << "Text1_2"
                                                     << "4a"
                                                     << ""
                                                     << ""
                                                     << "Text1_2" << kMac;
        QTest::newRow("ok_fourth_case_kept") << ""
                                             << "Text1_3"
                                             << "Fe"
                                             << "Fe"
                                             << ""
                                             << "Text1_4"
                                             << "";
        QTest::newRow("error_fourth_g1") << ""
                                         << "Text1_3"
                                         << "g1"
                                         << ""
                                         << ""
                                         << "Text1_3" << kFormat;
        QTest::newRow("error_fifth_1g") << ""
                                        << "Text1_4"
                                        << "1g"
                                        << ""
                                        << ""
                                        << "Text1_4" << kFormat;
        QTest::newRow("error_sixth_dash") << ""
                                          << "Text1_5"
                                          << "1-"
                                          << ""
                                          << ""
                                          << "Text1_5" << kFormat;
        QTest::newRow("error_sixth_dot") << ""
                                         << "Text1_5"
                                         << "1."
                                         << ""
                                         << ""
                                         << "Text1_5" << kFormat;
        QTest::newRow("ok_sixth_moves_to_ip") << ""
                                              << "Text1_5"
                                              << "dd"
                                              << "dd"
                                              << ""
                                              << "Text2_0"
                                              << "";
        QTest::newRow("wait_char_and_space") << ""
                                             << "Text1_4"
                                             << "a "
                                             << "a "
                                             << ""
                                             << "Text1_4"
                                             << "stale";
        QTest::newRow("wait_space_and_char") << ""
                                             << "Text1_4"
                                             << " a"
                                             << " a"
                                             << ""
                                             << "Text1_4"
                                             << "stale";
        QTest::newRow("ok_whole_mac_in_one_go") << ""
                                                << "Text1_0"
                                                << "0080a36163dd"
                                                << "00"
                                                << "Text1_5=dd"
                                                << "Text2_0"
                                                << "";
        QTest::newRow("error_max_two_chars") << ""
                                             << "Text1_3"
                                             << "abc"
                                             << "ab"
                                             << "Text1_4=c"
                                             << "Text1_4"
                                             << "";
    }
    void macTyping() { check(); }

    // Catches a wrong bound per array, a missing normalisation, a dot taken as
    // an octet move, and focus moving to the wrong next field.
    void quadTyping_data() {
        columns();
        QTest::newRow("wait_ip_two_digits") << ""
                                            << "Text2_0"
                                            << "19"
                                            << "19"
                                            << ""
                                            << "Text2_0"
                                            << "";
        QTest::newRow("ok_ip_three_digits") << ""
                                            << "Text2_0"
                                            << "192"
                                            << "192"
                                            << ""
                                            << "Text2_1"
                                            << "";
        QTest::newRow("ok_ip_010_becomes_10") << ""
                                              << "Text2_1"
                                              << "010"
                                              << "10"
                                              << ""
                                              << "Text2_2"
                                              << "";
        QTest::newRow("ok_ip_007_becomes_7") << ""
                                             << "Text2_2"
                                             << "007"
                                             << "7"
                                             << ""
                                             << "Text2_3"
                                             << "";
        QTest::newRow("ok_ip_000_becomes_0") << ""
                                             << "Text2_2"
                                             << "000"
                                             << "0"
                                             << ""
                                             << "Text2_3"
                                             << "";
        QTest::newRow("ok_ip_last_to_mask") << ""
                                            << "Text2_3"
                                            << "254"
                                            << "254"
                                            << ""
                                            << "Text3_0"
                                            << "";
        QTest::newRow("error_ip_255") << ""
                                      << "Text2_0"
                                      << "255"
                                      << ""
                                      << ""
                                      << "Text2_0" << kFormat;
        QTest::newRow("error_gateway_255") << "Text4_1="
                                           << "Text4_1"
                                           << "255"
                                           << ""
                                           << ""
                                           << "Text4_1" << kFormat;
        QTest::newRow("ok_mask_255") << "Text3_1="
                                     << "Text3_1"
                                     << "255"
                                     << "255"
                                     << ""
                                     << "Text3_2"
                                     << "";
        QTest::newRow("error_mask_256") << "Text3_1="
                                        << "Text3_1"
                                        << "256"
                                        << ""
                                        << ""
                                        << "Text3_1" << kFormat;
        QTest::newRow("error_mask_four_digits") << ""
                                                << "Text3_0"
                                                << "5"
                                                << ""
                                                << ""
                                                << "Text3_0" << kFormat;
        QTest::newRow("ok_mask_last_to_gateway") << "Text3_3="
                                                 << "Text3_3"
                                                 << "128"
                                                 << "128"
                                                 << ""
                                                 << "Text4_0"
                                                 << "";
        QTest::newRow("ok_gateway_last_to_setup") << "Text4_3="
                                                  << "Text4_3"
                                                  << "254"
                                                  << "254"
                                                  << ""
                                                  << "SetupIP"
                                                  << "";
        QTest::newRow("error_dot_after_digits") << ""
                                                << "Text2_0"
                                                << "12."
                                                << ""
                                                << ""
                                                << "Text2_0" << kFormat;
        QTest::newRow("error_letter") << ""
                                      << "Text2_0"
                                      << "1a"
                                      << ""
                                      << ""
                                      << "Text2_0" << kFormat;
        QTest::newRow("error_x") << ""
                                 << "Text2_0"
                                 << "x"
                                 << ""
                                 << ""
                                 << "Text2_0" << kFormat;
        QTest::newRow("error_lone_minus") << ""
                                          << "Text2_0"
                                          << "-"
                                          << ""
                                          << ""
                                          << "Text2_0" << kFormat;
        QTest::newRow("error_lone_plus") << ""
                                         << "Text2_0"
                                         << "+"
                                         << ""
                                         << ""
                                         << "Text2_0" << kFormat;
        QTest::newRow("wait_leading_space") << "Text2_0=12"
                                            << "Text2_0"
                                            << "^ "
                                            << " 12"
                                            << ""
                                            << "Text2_0"
                                            << "";
        QTest::newRow("error_space_first_rejected") << ""
                                                    << "Text2_0"
                                                    << " "
                                                    << ""
                                                    << ""
                                                    << "Text2_0" << kFormat;
        QTest::newRow("ok_minus_in_front_moves") << "Text2_0=12"
                                                 << "Text2_0"
                                                 << "^-"
                                                 << "-12"
                                                 << ""
                                                 << "Text2_1"
                                                 << "";
        QTest::newRow("ok_plus_in_front_normalised") << "Text2_0=12"
                                                     << "Text2_0"
                                                     << "^+"
                                                     << "12"
                                                     << ""
                                                     << "Text2_1"
                                                     << "";
        QTest::newRow("error_minus_first_rejected") << ""
                                                    << "Text2_0"
                                                    << "-12"
                                                    << "12"
                                                    << ""
                                                    << "Text2_0"
                                                    << "";
        QTest::newRow("ok_whole_ip_in_one_go") << ""
                                               << "Text2_0"
                                               << "201023012082"
                                               << "201"
                                               << "Text2_3=82"
                                               << "Text3_0"
                                               << "";
    }
    void quadTyping() { check(); }

    // Catches an emptied field that does not complain (the empty text is not a number).
    void deletingLastCharacterComplains() {
        WindowFixture f;
        QVERIFY(f.ready);
        f.typeInto(QStringLiteral("Text4_2"), QString());
        QTest::keyClick(f.edit(QStringLiteral("Text4_2")), Qt::Key_Backspace);
        QCOMPARE(f.edit(QStringLiteral("Text4_2"))->text(), QString());
        QCOMPARE(f.status(), kFormat);
        QCOMPARE(f.focusName(), QStringLiteral("Text4_2"));
    }

    // Catches a write from code that raises Change although the text is
    // unchanged, or fails to raise it when the text differs.
    void nestedChangeCounts_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<int>("changes");
        QTest::newRow("identical_write_00_raises_none") << "Text1_0"
                                                        << "00" << 2;
        QTest::newRow("write_00_over_7f_raises_one") << "Text1_0"
                                                     << "7f" << 3;
        QTest::newRow("emptying_raises_one") << "Text1_3"
                                             << "g1" << 3;
        QTest::newRow("normalising_007_raises_one") << "Text2_0"
                                                    << "007" << 4;
        QTest::newRow("normalising_123_raises_none") << "Text2_0"
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
        QCOMPARE(f.focusName(), QStringLiteral("Text1_0"));
        QCOMPARE(activeCount(), 1);
        for (const char* name : {"Text1_0", "Text2_3", "Text3_1", "Text4_2", "Text1_5"}) {
            f.edit(QLatin1String(name))->setFocus(Qt::TabFocusReason);
            QCOMPARE(activeCount(), 1);
            QVERIFY2(f.isActiveColour(f.edit(QLatin1String(name))), name);
        }
        // Automatic advance moves the highlight along with the focus.
        f.typeInto(QStringLiteral("Text2_0"), QStringLiteral("192"));
        QVERIFY(f.isActiveColour(f.edit(QStringLiteral("Text2_1"))));
        QCOMPARE(activeCount(), 1);
        f.window->setupButton()->setFocus(Qt::TabFocusReason);
        QCOMPARE(activeCount(), 0);
    }
};

QTEST_MAIN(TestEntryFields)
#include "tst_entryfields.moc"
