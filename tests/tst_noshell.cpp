#include "FakeWindow.h"
#include "WindowFixture.h"

#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>

// What a user types never reaches a command interpreter: the program starts
// the network helper, and a batch netrika-cli itself, each by path with an
// argument vector, and only checked values reach the neighbour table.
class TestNoShell : public QObject {
    Q_OBJECT
private slots:
    // Catches a way into a command interpreter added anywhere in the program,
    // the helper included, and a second process start beside the helper's.
    void programStartsOnlyTheHelper() {
        static const QRegularExpression forbidden(QStringLiteral(
            R"(\b(system|popen|execl|execlp|execle|execv|execvp|execvpe|posix_spawnp?|fork|vfork|clone)\s*\(|QProcess|/bin/sh)"));
        const QString launcher = QStringLiteral(NETRIKA_SOURCE_DIR "/net/NetHelperPosix.cpp");
        int files = 0;
        for (const char* folder : {"app", "setup", "address", "net", "signtest", "cli"}) {
            QDirIterator it(QStringLiteral(NETRIKA_SOURCE_DIR "/") + QLatin1String(folder), {"*.cpp", "*.h"},
                            QDir::Files, QDirIterator::Subdirectories);
            while (it.hasNext()) {
                QFile f(it.next());
                QVERIFY(f.open(QIODevice::ReadOnly));
                const QString text = QString::fromUtf8(f.readAll());
                QStringList found;
                for (auto m = forbidden.globalMatch(text); m.hasNext();)
                    found << m.next().captured(0).simplified();
                // The helper's one start: a fixed program, no search path, no shell.
                const QStringList allowed =
                    f.fileName() == launcher ? QStringList{"posix_spawn("} : QStringList{};
                // A batch starts netrika-cli itself for each row, with QProcess's
                // program and argument vector: no shell.
                if (f.fileName().startsWith(QStringLiteral(NETRIKA_SOURCE_DIR "/cli/BatchRun.")) ||
                    f.fileName().startsWith(QStringLiteral(NETRIKA_SOURCE_DIR "/cli/RowProcess")))
                    found.removeAll(QStringLiteral("QProcess"));
                QCOMPARE(found, allowed);
                ++files;
            }
        }
        QVERIFY(files > 20);
    }

    // Catches a neighbour entry made on Windows with the older IP Helper
    // calls, which can report success and do nothing (and which wine cannot
    // run either, so no test there would notice): only the calls ending in 2.
    void olderNeighbourCallsNeverUsed() {
        static const QRegularExpression older(QStringLiteral(
            R"(\b(CreateIpNetEntry|SetIpNetEntry|DeleteIpNetEntry|FlushIpNetTable|GetIpNetTable)\s*\()"));
        int files = 0;
        for (const char* folder : {"app", "setup", "address", "net", "signtest", "cli", "base", "tools"}) {
            QDirIterator it(QStringLiteral(NETRIKA_SOURCE_DIR "/") + QLatin1String(folder), {"*.cpp", "*.h"},
                            QDir::Files, QDirIterator::Subdirectories);
            while (it.hasNext()) {
                QFile f(it.next());
                QVERIFY(f.open(QIODevice::ReadOnly));
                const auto m = older.match(QString::fromUtf8(f.readAll()));
                QVERIFY2(!m.hasMatch(), qPrintable(f.fileName() + QStringLiteral(": ") + m.captured(0)));
                ++files;
            }
        }
        QVERIFY(files > 20);
    }

    // Catches field texts with shell metacharacters getting past the checks
    // into a host command line.
    void metacharactersNeverLaunched_data() {
        QTest::addColumn<QString>("mac");
        QTest::addColumn<QString>("ip");
        QTest::newRow("error_semicolon_in_mac") << "00-80-a3-;r-63-dd"
                                                << "10.0.0.5";
        QTest::newRow("error_backtick_in_mac") << "00-80-a3-61-`x-dd"
                                               << "10.0.0.5";
        QTest::newRow("error_dollar_in_ip") << "00-80-a3-61-63-dd"
                                            << "10.0.$(x).5";
        QTest::newRow("error_pipe_in_ip") << "00-80-a3-61-63-dd"
                                          << "10.0.0.5|id";
        QTest::newRow("error_newline_in_ip") << "00-80-a3-61-63-dd"
                                             << "10.0.0.5\nrm";
        QTest::newRow("error_ampersand_in_ip") << "00-80-a3-61-63-dd"
                                               << "10&&1.0.0.5";
    }
    void metacharactersNeverLaunched() {
        QFETCH(QString, mac);
        QFETCH(QString, ip);
        FakeWindow w;
        w.fillAddresses(mac, ip);
        w.press();
        QCOMPARE(w.neighbours.calls, QStringList());
        QCOMPARE(w.probe.pinged, QStringList());
        QVERIFY(w.idle());
    }

    // Catches a text that passes the checks yet is no plain address (a sign in
    // front) reaching the host in any form but the number the checks read.
    void signedOctetTravelsAsItsNumber() {
        FakeWindow w;
        w.fillAddresses("00-80-a3-61-63-dd", "+10.0.0.5");
        w.press();
        QCOMPARE(w.probe.pinged.value(0), QStringLiteral("10.0.0.5"));
        QCOMPARE(w.neighbours.calls, QStringList({"bind 10.0.0.5 00-80-a3-61-63-dd", "release 10.0.0.5"}));
    }

    // Catches the entry fields keeping metacharacters that a user types.
    void typedMetacharactersAreEmptied_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("text");
        QTest::newRow("mac_fourth_semicolon") << "mac3"
                                              << "a;"
                                              << "";
        QTest::newRow("mac_second_backtick") << "mac1"
                                             << "`x"
                                             << "";
        QTest::newRow("ip_dollar") << "ip0"
                                   << "$"
                                   << "";
        QTest::newRow("ip_digits_then_pipe") << "ip1"
                                             << "1|"
                                             << "";
        QTest::newRow("gateway_ampersand") << "gateway2"
                                           << "&"
                                           << "";
        QTest::newRow("mask_quote") << "mask3"
                                    << "'"
                                    << "";
    }
    void typedMetacharactersAreEmptied() {
        QFETCH(QString, field);
        QFETCH(QString, keys);
        QFETCH(QString, text);
        WindowFixture f;
        QVERIFY(f.ready);
        f.preset(field, QString());
        f.typeInto(field, keys);
        QCOMPARE(f.edit(field)->text(), text);
    }
};

QTEST_MAIN(TestNoShell)
#include "tst_noshell.moc"
