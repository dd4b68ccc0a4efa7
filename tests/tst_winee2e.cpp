#include "NetnsHarness.h"
#include "SimulatorProcess.h"
#include "signtest/SignMessages.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>

// The Windows programs of the cross build, under wine, set up a simulated
// adaptor of the 00-20-4a family in network namespaces of the test's own:
// netrika-cli.exe talks to the network service's console mode over its pipe,
// which probes with IcmpSendEcho2 and keeps its neighbour table in memory
// (wine has no neighbour-table calls). Run from the Windows build's CTest,
// which says where that build is (NETRIKA_WINDOWS_BUILD).
namespace {

const QString kMac = QStringLiteral("00-20-4a-1b-2c-3d");

// A wine prefix of the test's own, made in the namespace the test has
// entered: wine carries out the network in processes of the prefix, which
// stay in the namespace their first program started in.
struct Wine {
    QTemporaryDir prefix;
    QString build = qEnvironmentVariable("NETRIKA_WINDOWS_BUILD");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    bool ready = false;
    Wine() {
        environment.insert(QStringLiteral("WINEPREFIX"), prefix.path());
        environment.insert(QStringLiteral("WINEDEBUG"), QStringLiteral("-all"));
        environment.insert(QStringLiteral("WINEDLLOVERRIDES"),
                           QStringLiteral("mscoree,mshtml=;winemenubuilder.exe=d"));
        QProcess boot;
        boot.setProcessEnvironment(environment);
        boot.start(QStringLiteral(WINE), {QStringLiteral("wineboot"), QStringLiteral("--init")});
        ready = boot.waitForFinished(120000);
    }
    ~Wine() {
        QProcess end;
        end.setProcessEnvironment(environment);
        end.start(QStringLiteral(WINE).replace(QLatin1String("wine64"), QLatin1String("wineserver")), {"-k"});
        end.waitForFinished(30000);
    }
    void start(QProcess& p, const QString& program, const QStringList& args) {
        p.setProcessEnvironment(environment);
        p.start(QStringLiteral(WINE), QStringList{build + QLatin1Char('/') + program} + args);
    }
};

} // namespace

class TestWindowsEndToEnd : public QObject {
    Q_OBJECT
private slots:
    // Catches any byte of the datagram, the setup menu or the sign test out
    // of place in the Windows build, a probe that does not reach the
    // service, or a service that leaves an entry behind.
    void setupMenuRoute() {
        if (qEnvironmentVariableIsEmpty("NETRIKA_WINDOWS_BUILD"))
            QSKIP("NETRIKA_WINDOWS_BUILD is not set: the Windows build's CTest runs this test");
        NetnsHarness h(93);
        NETNS_REQUIRE(h);
        // The adaptor starts without an address: it adopts the one it is given.
        h.ipIn(h.deviceNs(), {"addr", "flush", "dev", h.deviceInterface()});
        SimulatorProcess sim(h, kMac);
        QVERIFY2(sim.ready(), "the simulator did not start");
        QVERIFY2(h.enterHost(), qPrintable(h.error()));
        Wine wine;
        QVERIFY2(wine.ready, "wineboot did not finish");

        QProcess service;
        service.setReadChannel(QProcess::StandardError);
        wine.start(service, QStringLiteral("netrika-net-service.exe"), {"--console", "--table-in-memory"});
        QVERIFY(service.waitForStarted(10000));
        QByteArray serviceLog;
        while (!serviceLog.contains("serving")) {
            QVERIFY2(service.waitForReadyRead(60000), serviceLog.constData());
            serviceLog += service.readAllStandardError();
        }

        const QString ip = h.hostAddress().section('.', 0, 2) + QStringLiteral(".60");
        const QString gateway = h.hostAddress().section('.', 0, 2) + QStringLiteral(".254");
        QProcess cli;
        wine.start(cli, QStringLiteral("netrika-cli.exe"),
                   {"setup", "--mac", kMac, "--ip", ip, "--mask", "255.255.255.0", "--gateway", gateway,
                    "--sign-test", "-v"});
        QVERIFY(cli.waitForFinished(240000));
        const QByteArray said = cli.readAllStandardOutput() + cli.readAllStandardError();
        QVERIFY2(cli.exitCode() == 0, said.constData());

        const QJsonObject datagram = sim.summary().value("datagrams").toArray().first().toObject();
        QVERIFY(datagram.value("accepted").toBool());
        // It ends in the MAC's last two bytes and the address, octet by octet.
        QString tail = QStringLiteral("2c3d");
        for (const QString& octet : ip.split(QLatin1Char('.')))
            tail += QStringLiteral("%1").arg(octet.toInt(), 2, 16, QLatin1Char('0'));
        QCOMPARE(datagram.value("hex").toString().right(12), tail);
        QTRY_COMPARE_WITH_TIMEOUT(sim.received(9999), SimulatorProcess::setupMenuBytes(gateway), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(sim.received(3001),
                                  (SignMessages::first() + SignMessages::second()).toLatin1(), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(sim.config().value("saved").toBool(), 10000);
        const QJsonObject config = sim.config();
        QCOMPARE(config.value("ip").toString(), ip);
        QCOMPARE(config.value("gateway").toString(), gateway);
        QCOMPARE(config.value("hostBits").toInt(), 8);
        QCOMPARE(config.value("port").toInt(), 3001);

        // The end of its standard input ends the service; it failed nothing.
        service.closeWriteChannel();
        QVERIFY(service.waitForFinished(30000));
        serviceLog += service.readAllStandardError();
        QCOMPARE(service.exitCode(), 0);
        QVERIFY2(!serviceLog.contains("failed"), serviceLog.constData());
    }
};

QTEST_GUILESS_MAIN(TestWindowsEndToEnd)
#include "tst_winee2e.moc"
