// Inputs that the fuzz targets of tests/fuzz found breaking a rule, cut down to
// the smallest text that shows it; the original inputs are kept in
// tests/fuzz/crashes/. A row for a fault still open is marked with
// QEXPECT_FAIL, which turns into an unexpected pass once the fault is mended.
//
// Line feeds: the number and hex readings anchored their patterns with '$',
// which also matches just before a final line feed, so "12\n" read as 12 and
// an octet pasted with its line end reached the adaptor's command line
// (found by fuzz_addressrules and fuzz_builders).

#include "FakeWindow.h"
#include "address/AddressRules.h"
#include "setup/SetupCommand.h"

#include <QTest>

class TestFuzzRegressions : public QObject {
    Q_OBJECT
private slots:
    // Catches a number reading that lets a line end (pasted along with an
    // octet) through as part of the number.
    void numberReading_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("isNumber");
        QTest::newRow("error_line_feed_end") << "12\n" << false;
        QTest::newRow("error_blank_then_line_feed_end") << " 7\n" << false;
        QTest::newRow("error_fraction_line_feed_end") << "1.5\n" << false;
        QTest::newRow("ok_two_line_feeds_refused") << "12\n\n" << false;
        QTest::newRow("ok_line_feed_first_refused") << "\n12" << false;
        QTest::newRow("error_line_feed_then_blank") << "12\n " << false;
    }
    void numberReading() {
        QFETCH(QString, text);
        QFETCH(bool, isNumber);
        QCOMPARE(AddressRules::isNumber(text), isNumber);
    }

    // Catches an address check that passes an octet with a line end, which
    // would then split the command line sent to the adaptor in two.
    void addressWithLineEnd_data() {
        QTest::addColumn<int>("array");
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("message");
        QTest::newRow("error_ip_line_feed") << 2 << 3 << "5\n" << SetupCommand::kIpMessage;
        QTest::newRow("error_gateway_line_feed") << 4 << 0 << "1\n" << SetupCommand::kGatewayMessage;
        QTest::newRow("error_mask_line_feed") << 3 << 3 << "0\n" << SetupCommand::kMaskMessage;
    }
    void addressWithLineEnd() {
        QFETCH(int, array);
        QFETCH(int, index);
        QFETCH(QString, text);
        QFETCH(QString, message);
        FakeWindow w;
        w.fillAddresses(QStringLiteral("00-80-a3-61-63-dd"), QStringLiteral("10.0.0.5"));
        w.field(array, index).fill(text);
        w.probe.answer = [](qsizetype) { return 0; };
        w.press();
        QCOMPARE(w.status.message(), message);
    }

    // Catches an entry field that keeps a pasted octet with a line end instead
    // of refusing it like any other character that is not part of a number.
    void typedLineEnd_data() {
        QTest::addColumn<int>("array");
        QTest::addColumn<QString>("text");
        QTest::newRow("error_ip_line_feed") << 2 << "1\n";
        QTest::newRow("error_mask_line_feed") << 3 << "0\n";
        QTest::newRow("error_gateway_four_chars_line_feed") << 4 << "123\n";
    }
    void typedLineEnd() {
        QFETCH(int, array);
        QFETCH(QString, text);
        FakeWindow w;
        w.field(array, 0).type(text);
        // The field emptied, with the message.
        QCOMPARE(QStringList({w.field(array, 0).text(), w.status.message()}),
                 QStringList({QString(), EntryFields::kFormatMessage}));
    }
};

QTEST_GUILESS_MAIN(TestFuzzRegressions)
#include "tst_fuzzregressions.moc"
