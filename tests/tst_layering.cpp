#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

// The folders stand like floors of a house, one above the other: the shared
// vocabulary at the bottom, then the address rules, the network layer, the
// sign's two messages, the window's logic with all its procedures, and the
// two front ends on top. Includes only run down.
class TestLayering : public QObject {
    Q_OBJECT
private slots:
    // Catches a lower folder that reaches up for a name that belongs lower down.
    void includesRunDownwards_data() {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QStringList>("mayInclude");
        QTest::newRow("base") << "base" << QStringList{"base"};
        QTest::newRow("address") << "address" << QStringList{"base", "address"};
        QTest::newRow("net") << "net" << QStringList{"base", "address", "net"};
        QTest::newRow("signtest") << "signtest" << QStringList{"base", "address", "net", "signtest"};
        QTest::newRow("setup") << "setup" << QStringList{"base", "address", "net", "signtest", "setup"};
        // The two front ends stand side by side on top, and never lean on each other.
        QTest::newRow("app") << "app" << QStringList{"base", "address", "net", "signtest", "setup", "app"};
        QTest::newRow("cli") << "cli" << QStringList{"base", "address", "net", "signtest", "setup", "cli"};
    }
    void includesRunDownwards() {
        QFETCH(QString, folder);
        QFETCH(QStringList, mayInclude);
        static const QRegularExpression include(QStringLiteral("^#include \"([a-z]+)/"),
                                                QRegularExpression::MultilineOption);
        int files = 0;
        QDirIterator it(QStringLiteral(NETRIKA_SOURCE_DIR "/") + folder, {"*.cpp", "*.h"}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile f(it.next());
            QVERIFY(f.open(QIODevice::ReadOnly));
            const QString text = QString::fromUtf8(f.readAll());
            for (auto m = include.globalMatch(text); m.hasNext();) {
                const QString to = m.next().captured(1);
                QVERIFY2(mayInclude.contains(to),
                         qPrintable(f.fileName() + QStringLiteral(" includes ") + to));
            }
            ++files;
        }
        QVERIFY(files > 0);
    }
};

QTEST_GUILESS_MAIN(TestLayering)
#include "tst_layering.moc"
