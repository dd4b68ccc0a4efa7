#include "cli/BatchFile.h"
#include "cli/BatchSchedule.h"

#include <QStringDecoder>
#include <QTest>

#include <numeric>
#include <vector>

// The batch file as it is read and checked before anything is sent, and the
// order its rows start in: plain functions over bytes, no segment, no
// adaptor and no netrika-cli process.
class TestBatchFile : public QObject {
    Q_OBJECT
private slots:
    // Catches two broadcast-family rows that the adaptors could not tell
    // apart running side by side, a place left unused, or the file's order lost.
    void schedule_data() {
        QTest::addColumn<QStringList>("keys"); // the rows' datagram keys; "" for the ARP family
        QTest::addColumn<QList<int>>("running");
        QTest::addColumn<int>("jobs");
        QTest::addColumn<QList<int>>("starts");
        const QStringList keys{"2c3d", "2c3d", "", "2c3e", ""};
        QTest::newRow("ok_same_tail_waits") << keys << QList<int>{} << 16 << QList<int>{0, 2, 3, 4};
        QTest::newRow("ok_same_tail_after_first") << keys << QList<int>{2} << 16 << QList<int>{0, 3, 4};
        QTest::newRow("error_same_tail_running") << keys << QList<int>{0} << 16 << QList<int>{2, 3, 4};
        QTest::newRow("ok_jobs_cap_in_file_order") << keys << QList<int>{} << 2 << QList<int>{0, 2};
        QTest::newRow("ok_no_place_left") << keys << QList<int>{2, 4} << 2 << QList<int>{};
    }
    void schedule() {
        QFETCH(QStringList, keys);
        QFETCH(QList<int>, running);
        QFETCH(int, jobs);
        QFETCH(QList<int>, starts);
        std::vector<BatchRow> rows(keys.size());
        std::vector<int> waiting;
        for (int r = 0; r < int(keys.size()); ++r) {
            rows[r].datagramKey = keys[r];
            if (!running.contains(r))
                waiting.push_back(r);
        }
        const auto got = startable(rows, waiting, std::vector<int>(running.begin(), running.end()), jobs);
        QCOMPARE(QList<int>(got.begin(), got.end()), starts);
    }

    // Catches the same-tail rule keyed on the wrong family, or on the MAC as
    // written rather than as the adaptor reads it, from the file to the first starts.
    void scheduleFromFile_data() {
        QTest::addColumn<QStringList>("macs"); // one row each, in the order of the file
        QTest::addColumn<QList<int>>("starts");
        QTest::newRow("error_broadcast_family_same_tail")
            << QStringList{"00-20-4a-00-2c-3d", "00-20-4a-11-2c-3d"} << QList<int>{0};
        QTest::newRow("error_broadcast_family_same_tail_other_spelling")
            << QStringList{"00-20-4a-00-2c-3d", "00:20:4A:11:2C:3D"} << QList<int>{0};
        QTest::newRow("ok_arp_family_same_tail")
            << QStringList{"00-80-a3-00-2c-3d", "00-80-a3-11-2c-3d"} << QList<int>{0, 1};
        QTest::newRow("ok_broadcast_family_other_tail")
            << QStringList{"00-20-4a-00-2c-3d", "00-20-4a-00-3d-2c"} << QList<int>{0, 1};
        QTest::newRow("ok_same_tail_across_families")
            << QStringList{"00-80-a3-00-2c-3d", "00-20-4a-00-2c-3d", "00-80-a3-11-2c-3d", "00-20-4a-11-2c-3d"}
            << QList<int>{0, 1, 2};
    }
    void scheduleFromFile() {
        QFETCH(QStringList, macs);
        QFETCH(QList<int>, starts);
        QString text = QStringLiteral("mac,ip,mask,gateway\n");
        for (int r = 0; r < int(macs.size()); ++r)
            text += QStringLiteral("%1,10.1.2.%2,255.255.255.0,10.1.2.254\n").arg(macs[r]).arg(10 + r);
        const BatchFile file = BatchFile::parse(text);
        QVERIFY2(file.problems.isEmpty(), qPrintable(file.problems.join('\n')));
        QCOMPARE(int(file.rows.size()), int(macs.size()));
        std::vector<int> waiting(file.rows.size());
        std::iota(waiting.begin(), waiting.end(), 0);
        const auto got = startable(file.rows, waiting, {}, 16);
        QCOMPARE(QList<int>(got.begin(), got.end()), starts);
    }

    // Catches a file refused without saying what was read: a header as it was
    // read with its separator, an encoding by name, a column or a value the
    // batch cannot take.
    void unreadableFiles_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("problem");
        const QByteArray row = "00-80-a3-00-00-01,10.1.2.3,255.255.255.0,10.1.2.254";
        QTest::newRow("error_header_not_understood")
            << QByteArray("MAC;Address;Mask;Gateway\n")
            << "line 1: the header MAC;Address;Mask;Gateway, read with the separator ';', has no column ip";
        QTest::newRow("error_utf32") << QByteArray::fromHex("fffe00006d000000") << "the file is UTF-32";
        QTest::newRow("error_utf16_without_mark")
            << QByteArray::fromHex("6d0061006300") << "line 1: a NUL byte, which no CSV file holds: the file is "
                                                      "damaged, or not text, or UTF-16 without a byte-order mark";
        QTest::newRow("error_stray_nul_is_no_utf16")
            << "mac,ip,mask,gateway\n" + row + "\n" + row.left(20) + QByteArray(1, '\0') + row.mid(20) + "\n"
            << "line 3: a NUL byte, which no CSV file holds";
        QTest::newRow("error_mark_but_not_utf8")
            << "\xef\xbb\xbfmac,ip,mask,gateway,name\n" + row + ",\xe9t\xe9\n"
            << "not UTF-8 with a byte-order mark text";
        QTest::newRow("error_workbook_zip")
            << QByteArray("PK\x03\x04\x14\x00\x06\x00", 8)
            << "a spreadsheet workbook (.xlsx or .ods), not CSV: save the sheet as \"CSV UTF-8\"";
        QTest::newRow("error_workbook_ole") << QByteArray::fromHex("d0cf11e0a1b11ae100003e00")
                                            << "(.xls), not CSV: save the sheet as \"CSV UTF-8\"";
        // Well formed, but the adaptor would be left on a network it cannot work on.
        const QByteArray head = "mac,ip,mask,gateway\n00-80-a3-00-00-01,";
        QTest::newRow("error_gateway_off_subnet")
            << head + "10.77.50.22,255.255.255.0,10.77.60.254\n"
            << "line 2: gateway \"10.77.60.254\": gateway 10.77.60.254 is not on 10.77.50.0/24";
        QTest::newRow("error_gateway_is_ip")
            << head + "10.77.50.22,255.255.255.0,10.77.50.22\n"
            << "line 2: gateway \"10.77.50.22\": gateway 10.77.50.22 is the adaptor's own address";
        QTest::newRow("error_ip_network")
            << head + "10.77.50.64,255.255.255.192,0.0.0.0\n"
            << "line 2: ip \"10.77.50.64\": 10.77.50.64 is the network address of 10.77.50.64/26";
        QTest::newRow("error_ip_broadcast")
            << head + "10.77.50.127,255.255.255.192,0.0.0.0\n"
            << "line 2: ip \"10.77.50.127\": 10.77.50.127 is the broadcast address of 10.77.50.64/26";
        QTest::newRow("error_mask_with_holes")
            << head + "10.77.50.22,255.0.255.0,0.0.0.0\n"
            << "line 2: mask \"255.0.255.0\": 255.0.255.0 is not a contiguous mask from /8 to /30";
        QTest::newRow("error_mask_zero") << head + "10.77.50.22,0.0.0.0,0.0.0.0\n"
                                         << "line 2: mask \"0.0.0.0\": 0.0.0.0 is not a";
        QTest::newRow("error_mask_31") << head + "10.77.50.22,255.255.255.254,0.0.0.0\n"
                                       << "line 2: mask \"255.255.255.254\"";
        QTest::newRow("error_current_ip_multicast")
            << "mac,ip,mask,gateway,current_ip\n" + row + ",224.1.2.3\n"
            << "line 2: current_ip \"224.1.2.3\": 224.1.2.3 is a multicast address";
        QTest::newRow("error_column_twice") << "mac,ip,mask,gateway,IP\n" + row + ",x\n"
                                            << "the column IP is named twice";
        QTest::newRow("error_value_without_column") << "mac,ip,mask,gateway,\n" + row + ",lost\n"
                                                    << "line 2: column 5 has the value \"lost\" but no name";
        QTest::newRow("error_more_values") << "mac,ip,mask,gateway\n" + row + ",extra\n"
                                           << "line 2: 5 values where the header has 4";
        // A huge bad cell is quoted short, with its length, never whole.
        QTest::newRow("error_huge_cell_cut_short")
            << "mac,ip,mask,gateway\n00-80-a3-00-00-01," + QByteArray(3000000, '7') + ",255.255.255.0,0.0.0.0\n"
            << "line 2: ip \"" + QString(80, '7') + "\u2026 (3000000 characters)\": ";
    }
    void unreadableFiles() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, problem);
        const BatchFile file = BatchFile::parse(bytes);
        QVERIFY(file.rows.empty());
        QVERIFY2(file.problems.size() == 1 && file.problems.first().contains(problem),
                 qPrintable(file.problems.join('\n').left(2000)));
        QVERIFY(file.problems.first().size() < 400);
        QVERIFY(file.places.front().value.size() < 400);
    }

    // Catches a row a spreadsheet began with '#' lost without a word: the
    // line is read as a comment, and named.
    void commentLinesNamed() {
        const BatchFile file = BatchFile::parse(
            QByteArray("mac,ip,mask,gateway\n#00-80-a3-00-00-01,10.1.2.3,255.255.255.0,10.1.2.254\n\n"
                       "00-80-a3-00-00-02,10.1.2.4,255.255.255.0,10.1.2.254\n  # note\n"));
        QVERIFY2(file.problems.isEmpty(), qPrintable(file.problems.join('\n')));
        QCOMPARE(file.rows.size(), std::size_t(1));
        QCOMPARE(file.comments, std::vector<int>({2, 5}));
    }

    // Catches a byte of an office file read as another character than the
    // host's own converter reads it, where Qt has one (with ICU): all 256.
    void windows1252AsTheHostReadsIt() {
        QStringDecoder host("windows-1252", QStringConverter::Flag::Stateless);
        if (!host.isValid())
            QSKIP("this Qt has no converter of its own for Windows-1252");
        QByteArray every(256, '\0');
        for (int b = 0; b < 256; ++b)
            every[b] = char(b);
        QCOMPARE(BatchFile::fromWindows1252(every), host(every));
    }

    // Catches an office file refused or misread: not UTF-8 and without a
    // mark, it is Windows-1252, and its accents and symbols are read as such.
    void windows1252File() {
        const BatchFile file =
            BatchFile::parse(QByteArray("Name;MAC;IP;Mask;Gateway\r\nCaf\xe9 \x80 "
                                        "5;00-80-a3-00-00-01;10.1.2.3;255.255.255.0;10.1.2.254\r\n"));
        QVERIFY2(file.problems.isEmpty(), qPrintable(file.problems.join('\n')));
        QCOMPARE(file.encoding, BatchFile::kWindows1252);
        QCOMPARE(file.rows.size(), std::size_t(1));
        QCOMPARE(file.rows[0].cells.value(0), QStringLiteral("Caf\u00e9 \u20ac 5"));
    }

    // Catches a separator found by counting those inside quoted names: four
    // commas in a quoted header name against four semicolons between columns.
    void quotedSeparatorsNotCounted() {
        const BatchFile file = BatchFile::parse(QByteArray(
            "\"Sign, site, road, km, lane\";mac;ip;mask;gateway\n\"A1, north\";00-80-a3-00-00-01;10.1.2.3;"
            "255.255.255.0;10.1.2.254\n"));
        QVERIFY2(file.problems.isEmpty(), qPrintable(file.problems.join('\n')));
        QCOMPARE(file.delimiter, ';');
        QCOMPARE(file.rows.size(), std::size_t(1));
    }

    // Catches one site's rows mixed with another's: each site reads its own
    // rows only, so an address may stand on two sites and another site's bad
    // row stops no one; a name that matches no row, or a file without the
    // column, is refused rather than run as empty.
    void siteRows_data() {
        QTest::addColumn<QString>("site");
        QTest::addColumn<QList<int>>("lines"); // the rows read, by line
        QTest::addColumn<QString>("problem");
        QTest::newRow("ok_north") << "depot-north" << QList<int>{2, 4} << "";
        QTest::newRow("error_south_its_own_bad_row")
            << "depot-south" << QList<int>{} << "line 5: ip \"10.1.2.300\": ";
        QTest::newRow("error_no_such_site")
            << "Depot-North" << QList<int>{} << "no row names the site Depot-North in its column site";
        QTest::newRow("error_no_site_told_to_give_one")
            << "" << QList<int>{} << "line 3: ip \"10.1.2.3\": on line 2 already (the file has a column site: "
                                     "give --site NAME";
        QTest::newRow("error_one_mac_on_two_sites")
            << "depot-east" << QList<int>{} << "line 6: mac \"00-80-A3-00-00-01\": also on line 2, for the site "
                                               "depot-north: one adaptor is at one site";
    }
    void siteRows() {
        QFETCH(QString, site);
        QFETCH(QList<int>, lines);
        QFETCH(QString, problem);
        const QByteArray bytes = "mac;ip;mask;gateway;Site\n"
                                 "00-80-a3-00-00-01;10.1.2.3;255.255.255.0;10.1.2.254;depot-north\n"
                                 "00-80-a3-00-00-02;10.1.2.3;255.255.255.0;10.1.2.254;depot-south\n"
                                 "00-80-a3-00-00-03;10.1.2.4;255.255.255.0;10.1.2.254;depot-north\n"
                                 "00-80-a3-00-00-04;10.1.2.300;255.255.255.0;10.1.2.254;depot-south\n"
                                 "00-80-A3-00-00-01;10.1.3.3;255.255.255.0;10.1.3.254;depot-east\n";
        BatchFile::Options options;
        options.site = site;
        const BatchFile file = BatchFile::parse(bytes, options);
        if (problem.isEmpty())
            QVERIFY2(file.problems.isEmpty(), qPrintable(file.problems.join('\n')));
        else
            QVERIFY2(file.problems.join('\n').contains(problem), qPrintable(file.problems.join('\n')));
        if (!lines.isEmpty()) {
            QList<int> read;
            for (const BatchRow& row : file.rows)
                read << row.line;
            QCOMPARE(read, lines);
            // The site column is the batch's own then, not one it leaves unused.
            QVERIFY(file.otherColumns.isEmpty());
        }
        options.site = site.isEmpty() ? QStringLiteral("any") : site;
        const BatchFile without = BatchFile::parse(QByteArray("mac,ip,mask,gateway\n"), options);
        QVERIFY2(without.problems.join('\n').contains("picks rows by their column site, and this file has none"),
                 qPrintable(without.problems.join('\n')));
        QVERIFY(!without.problems.join('\n').contains("needs mac, ip, mask and gateway"));
    }

    // Catches a current_ip misread, let through twice under two spellings,
    // or a re-addressed row of the broadcast family kept from running beside
    // another with the same MAC tail, though it is sent no datagram.
    void currentIpColumn_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("current"); // each row's, as run; empty: refused
        QTest::addColumn<QString>("problem");
        const QByteArray header = "mac,ip,mask,gateway,current_ip\n";
        QTest::newRow("ok_plain_decimal_and_empty")
            << header + "00-20-4a-00-00-03,10.1.2.3,255.255.255.0,10.1.2.254,010.1.2.099\n"
                        "00-20-4a-00-01-03,10.1.2.4,255.255.255.0,10.1.2.254,\n"
            << QStringList{"10.1.2.99", ""} << "";
        QTest::newRow("error_twice_in_two_spellings")
            << header + "00-80-a3-00-00-01,10.1.2.3,255.255.255.0,10.1.2.254,10.1.2.99\n"
                        "00-80-a3-00-00-02,10.1.2.4,255.255.255.0,10.1.2.254,10.1.2.099\n"
            << QStringList() << "line 3: current_ip \"10.1.2.099\": on line 2 already";
    }
    void currentIpColumn() {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, current);
        QFETCH(QString, problem);
        const BatchFile file = BatchFile::parse(bytes);
        if (!problem.isEmpty()) {
            QCOMPARE(file.problems, QStringList{problem});
            return;
        }
        QCOMPARE(file.problems, QStringList());
        QStringList got;
        for (const BatchRow& row : file.rows)
            got << row.request.currentIp;
        QCOMPARE(got, current);
        QCOMPARE(file.rows.at(0).datagramKey, QString());
        QCOMPARE(file.rows.at(1).datagramKey, QStringLiteral("0103"));
    }
};

QTEST_GUILESS_MAIN(TestBatchFile)
#include "tst_batchfile.moc"
