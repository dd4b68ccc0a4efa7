// The network service of the Windows build under wine, reached as the front
// ends reach it: over its pipe, through the front ends' own NetHelper. Run
// in a network namespace of the test's own (with-wine-netns.sh), whose one
// segment is 10.77.98.1/24; the service keeps its neighbour table in memory,
// since wine has none of the table's calls.
#include "net/NetHelper.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTest>

#include <cstdio>
#include <thread>

namespace {

const QString kWhere = QStringLiteral("10.77.98.50");
std::uint32_t at(const char* dotted) {
    return helper::parseRequest(std::string("echo ") + dotted)->address;
}
helper::Request addition(std::uint8_t last) {
    return {helper::Request::NeighAdd, at("10.77.98.50"), {2, 0, 0, 0, 0, last}};
}

// A front end that makes an entry and then waits to be killed: the test's
// own program, started again with --hold-entry.
int holdEntry() {
    NetHelper helper;
    const auto answer = helper.ask(addition(7));
    std::printf("%s\n", answer ? qPrintable(*answer) : "no answer");
    std::fflush(stdout);
    for (;;)
        std::this_thread::sleep_for(std::chrono::seconds(1));
}

} // namespace

class TestServicePipe : public QObject {
    Q_OBJECT
    QProcess service;

private slots:
    void initTestCase() {
        if (qEnvironmentVariableIsEmpty("NETRIKA_SEGMENT"))
            QSKIP("run by with-wine-netns.sh, in a network namespace of its own");
        service.setReadChannel(QProcess::StandardError);
        service.start(QCoreApplication::applicationDirPath() + QStringLiteral("/netrika-net-service.exe"),
                      {"--console", "--table-in-memory"});
        QVERIFY(service.waitForStarted(10000));
        QByteArray said;
        while (!said.contains("serving")) {
            QVERIFY2(service.waitForReadyRead(30000), said.constData());
            said += service.readAllStandardError();
        }
    }
    void cleanupTestCase() {
        service.closeWriteChannel(); // its end of standard input stops it
        QVERIFY(service.waitForFinished(10000));
        QCOMPARE(service.exitCode(), 0);
    }

    // Catches a greeting that offers what wine cannot do, and an echo that
    // does not go out through IcmpSendEcho2 or comes back as a failure.
    void greetsAndProbes() {
        NetHelper helper;
        QVERIFY(helper.start());
        QVERIFY(helper.can("echo") && helper.can("neigh"));
        QVERIFY(!helper.can("arp") && !helper.can("sweep"));
        QCOMPARE(helper.ask({helper::Request::Echo, at("10.77.98.2"), {}}),
                 std::optional<QString>("ok silent"));
        QCOMPARE(
            helper.ask({helper::Request::Echo, at("10.9.0.1"), {}}),
            std::optional<QString>("refused 10.9.0.1 is reached only through a gateway, not on a segment of "
                                   "this host"));
    }

    // Catches a front end that takes over or removes another's entry, and an
    // entry left behind when its front end is killed.
    void aKilledFrontEndsEntryIsRemoved() {
        QProcess holder;
        holder.start(QCoreApplication::applicationFilePath(), {"--hold-entry"});
        QVERIFY(holder.waitForReadyRead(20000));
        QVERIFY2(holder.readAllStandardOutput().startsWith("ok added "), "the holder made no entry");

        NetHelper other;
        QCOMPARE(other.ask(addition(8)),
                 std::optional<QString>("refused " + kWhere + " is bound already by another netrika helper"));
        QCOMPARE(other.ask({helper::Request::NeighDel, at("10.77.98.50"), {}}),
                 std::optional<QString>("refused " + kWhere + " is bound by no entry that this helper made"));
        holder.kill();
        QVERIFY(holder.waitForFinished(10000));
        // Its connection closed with it: the service removed its entry.
        QTRY_VERIFY_WITH_TIMEOUT(other.ask(addition(8)).value_or(QString()).startsWith("ok added "), 10000);
        QCOMPARE(other.ask({helper::Request::NeighDel, at("10.77.98.50"), {}}),
                 std::optional<QString>("ok removed"));
    }
};

int main(int argc, char** argv) {
    if (argc == 2 && qstrcmp(argv[1], "--hold-entry") == 0)
        return holdEntry();
    QCoreApplication app(argc, argv);
    TestServicePipe test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_servicepipe.moc"
