#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

// The folders stand like floors of a house: the shared vocabulary at the
// bottom, then the address rules and the network layer, then the window's
// logic with its procedures, then the front ends. Includes only run down.
class TestLayering : public QObject {
    Q_OBJECT
private slots:
    // Catches a lower folder that reaches up for a name that belongs lower down.
    void includesRunDownwards_data() {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QStringList>("mayInclude");
        QTest::newRow("base") << "base" << QStringList{"base"};
        QTest::newRow("address") << "address" << QStringList{"base", "address", "net"};
        QTest::newRow("net") << "net" << QStringList{"base", "address", "net"};
        QTest::newRow("setup") << "setup" << QStringList{"base", "address", "net", "setup", "signtest"};
        QTest::newRow("signtest") << "signtest" << QStringList{"base", "address", "net", "setup", "signtest"};
        // The two front ends stand side by side on top, and never lean on each other.
        QTest::newRow("app") << "app" << QStringList{"base", "address", "net", "setup", "signtest", "app"};
        QTest::newRow("cli") << "cli" << QStringList{"base", "address", "net", "setup", "signtest", "cli"};
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
