#include "app/LauncherProgress.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

// A receiver of the dock's signal on the test's own bus.
class Dock : public QObject {
    Q_OBJECT
public:
    QList<QVariantList> updates;
public slots:
    void update(const QDBusMessage& message) { updates.append(message.arguments()); }
};

// The run's progress on the dock's entry, on a session bus of the test's own.
class TestLauncher : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        m_bus.start(QStringLiteral("dbus-daemon"),
                    {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
                     QStringLiteral("--print-address=1")});
        if (!m_bus.waitForStarted(5000) || !m_bus.waitForReadyRead(5000)) {
            if (qEnvironmentVariable("CI") == QLatin1String("true"))
                QFAIL("no dbus-daemon: install the package dbus-daemon");
            QSKIP("no dbus-daemon here: the launcher entry is not tried");
        }
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_bus.readLine().trimmed());
    }
    void cleanupTestCase() {
        m_bus.kill();
        m_bus.waitForFinished(5000);
    }

    // Catches a signal a dock does not understand (another interface, a
    // progress out of 0..1, the entry named otherwise than the desktop file),
    // or a hide sent where nothing was ever shown.
    void dockHearsTheRun() {
        QDBusConnection bus =
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("dock"));
        QVERIFY(bus.isConnected());
        Dock dock;
        QVERIFY(bus.connect(QString(), QString(), LauncherProgress::kInterface, QStringLiteral("Update"),
                            &dock, SLOT(update(QDBusMessage))));
        LauncherProgress launcher(QStringLiteral("org.netrika.Netrika"));
        launcher.show(0, false);
        launcher.show(0.25, true);
        launcher.show(1, false);
        QTRY_COMPARE(dock.updates.size(), 2);
        QTest::qWait(100);
        QCOMPARE(dock.updates.size(), 2);
        for (const QVariantList& update : dock.updates)
            QCOMPARE(update.value(0).toString(), QStringLiteral("application://org.netrika.Netrika.desktop"));
        const auto properties = [&](int i) { return qdbus_cast<QVariantMap>(dock.updates.at(i).value(1)); };
        QCOMPARE(properties(0).value(QStringLiteral("progress")).toDouble(), 0.25);
        QCOMPARE(properties(0).value(QStringLiteral("progress-visible")).toBool(), true);
        QCOMPARE(properties(1).value(QStringLiteral("progress-visible")).toBool(), false);
    }

private:
    QProcess m_bus;
};

QTEST_MAIN(TestLauncher)
#include "tst_launcher.moc"
