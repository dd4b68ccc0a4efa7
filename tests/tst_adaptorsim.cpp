// The adaptor simulator, driven from a host namespace exactly as the tool
// drives a real adaptor: the same datagram, the same ARP-directed packets, the
// same sends in the same order, and the tool's own prompt tests on the latest
// chunk received. Everything runs between two namespaces made here.

#include "NetnsHarness.h"
#include "tools/adaptor-sim/AdaptorPrompts.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkDatagram>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QUdpSocket>

#include <functional>
#include <net/if.h>

namespace {

using Rule = std::function<bool(const QByteArray&)>;

// The tool's prompt tests, on the latest chunk L (the last n characters of a
// shorter L being all of it).
QByteArray trimSpaces(QByteArray s) {
    while (s.startsWith(' '))
        s.remove(0, 1);
    while (s.endsWith(' '))
        s.chop(1);
    return s;
}
bool menuChoice(const QByteArray& l) {
    return l.right(14) == "Your choice ? ";
}
bool choiceAgain(const QByteArray& l) {
    return l.right(9) == "choice ? ";
}
bool gatewayQuestion(const QByteArray& l) {
    return l.right(27).startsWith("Set Gateway IP Address");
}
bool hostBitsQuestion(const QByteArray& l) {
    return trimSpaces(l.right(17).left(12)) == "(0=default)";
}
bool loginPrompt(const QByteArray& l) {
    return l.right(10) == "Username> ";
}
bool userPrompt(const QByteArray& l) {
    return l.right(9).left(6) == "Local_";
}
bool passwordPrompt(const QByteArray& l) {
    return l.right(10) == "Password> ";
}
bool privilegedPrompt(const QByteArray& l) {
    const QByteArray p = l.right(10);
    return p.startsWith("Local_") && p.endsWith(">> ");
}

Rule ruleNamed(const QString& name) {
    static const QHash<QString, Rule> rules{
        {"menuChoice", menuChoice},           {"choiceAgain", choiceAgain},
        {"gatewayQuestion", gatewayQuestion}, {"hostBitsQuestion", hostBitsQuestion},
        {"loginPrompt", loginPrompt},         {"userPrompt", userPrompt},
        {"passwordPrompt", passwordPrompt},   {"privilegedPrompt", privilegedPrompt}};
    return rules.value(name);
}

// One item the tool sends, after the prompt test of its step when it has one.
struct Step {
    Rule rule;
    QByteArray send;
};

// The setup-menu dialogue: 31 sends.
QList<Step> menuSteps(const QByteArray& hostBits, const QList<QByteArray>& gateway) {
    QList<Step> s{{{}, "\r\n"}, {menuChoice, "0\n"}};
    for (int i = 0; i < 4; ++i)
        s << Step{{}, "\r\n"};
    s << Step{gatewayQuestion, "y"};
    for (const QByteArray& octet : gateway)
        s << Step{{}, octet + "\r\n"};
    s << Step{hostBitsQuestion, hostBits + "\r\n"} << Step{{}, "\r\n"} << Step{choiceAgain, "1\r\n"}
      << Step{{}, "9600\r\n"} << Step{{}, "4C\r\n"} << Step{{}, "\r\n"} << Step{{}, "03001\r\n"};
    for (int i = 0; i < 12; ++i)
        s << Step{{}, "\r\n"};
    s << Step{choiceAgain, "9\r\n"};
    return s;
}

// The command-line dialogue: 11 lines, each ended by a line feed alone.
QList<Step> commandSteps(const QByteArray& ip, const QByteArray& gateway, const QByteArray& mask) {
    return {{loginPrompt, "hello\n"},
            {userPrompt, "SET PRIVILEGED\n"},
            {passwordPrompt, "tundra\n"},
            {privilegedPrompt, "CHANGE IPAddress " + ip + "\n"},
            {privilegedPrompt, "CHANGE Gateway " + gateway + "\n"},
            {privilegedPrompt, "CHANGE Subnet Mask " + mask + "\n"},
            {privilegedPrompt, "CHANGE SPEED 9600\n"},
            {privilegedPrompt, "CHANGE CHARSIZE 8\n"},
            {privilegedPrompt, "CHANGE STOPBITS 1\n"},
            {privilegedPrompt, "CHANGE PARITY NONE\n"},
            {privilegedPrompt, "Logout\n"}};
}

const QString kMac1 = QStringLiteral("00-20-4a-1b-2c-3d");
const QString kMac2 = QStringLiteral("00-80-a3-61-63-dd");

QByteArray datagramFor(const QByteArray& keyword, const QByteArray& macTail, const QByteArray& ip) {
    return QByteArray("\x00\x00\x00\xfc", 4) + keyword + QByteArray("\x00\x00", 2) + macTail + ip;
}

// The simulator in the device namespace, stopped when this goes away.
class Simulator {
public:
    ~Simulator() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(3000))
                m_process.kill();
            m_process.waitForFinished(3000);
        }
    }
    bool start(NetnsHarness& h, const QStringList& args) {
        m_process.start(QStringLiteral("ip"),
                        QStringList{"netns", "exec", h.deviceNs(), SIM_PATH, "--interface",
                                    h.deviceInterface(), "--record", m_dir.path()} +
                            args);
        QByteArray out;
        while (!out.contains("ready\n") && m_process.waitForReadyRead(5000))
            out += m_process.readAllStandardOutput();
        return out.contains("ready\n");
    }
    [[nodiscard]] QString errors() { return QString::fromLocal8Bit(m_process.readAllStandardError()); }
    // Still running: it did not crash on what it was sent.
    [[nodiscard]] bool alive() const { return m_process.state() == QProcess::Running; }
    [[nodiscard]] QJsonObject summary() const {
        QFile file(m_dir.filePath(QStringLiteral("summary.json")));
        return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object()
                                              : QJsonObject();
    }
    // Waits until the summary passes the test; answers the last one read.
    QJsonObject waitForSummary(const std::function<bool(const QJsonObject&)>& test, int ms = 3000) const {
        QJsonObject s;
        // The caller checks what it needs from the last summary read.
        (void)QTest::qWaitFor(
            [&] {
                s = summary();
                return test(s);
            },
            ms);
        return s;
    }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
};

// The tool's end of a dialogue connection: it sees chunks, and matches only
// the end of the latest one.
class Terminal {
public:
    Terminal() {
        QObject::connect(&m_socket, &QTcpSocket::readyRead, &m_socket, [this] {
            latest = m_socket.readAll();
            all += latest;
            ++chunks;
        });
    }
    bool connectTo(const QString& ip, quint16 port) {
        m_socket.connectToHost(ip, port);
        return m_socket.waitForConnected(3000);
    }
    void send(const QByteArray& bytes) {
        m_mark = chunks;
        m_socket.write(bytes);
        m_socket.flush();
    }
    // A chunk after the last send whose end passes the rule (any chunk without a rule).
    bool waitFor(const Rule& rule, int ms) {
        return QTest::qWaitFor([&] { return chunks > m_mark && (!rule || rule(latest)); }, ms);
    }
    bool waitClosed(int ms) {
        return QTest::qWaitFor([&] { return m_socket.state() == QAbstractSocket::UnconnectedState; }, ms);
    }
    [[nodiscard]] QAbstractSocket::SocketError error() const { return m_socket.error(); }

    QByteArray latest, all;
    int chunks = 0;

private:
    QTcpSocket m_socket;
    int m_mark = 0;
};

// Long enough for a prompt on a loaded CI machine under the sanitizers, where
// the simulator answers in milliseconds otherwise.
constexpr int kPromptWaitMs = 4000;

// Plays the steps. Paced, each step waits for the adaptor's answer to the one
// before, and a step with a prompt test for a chunk that passes it; typed
// ahead, everything goes out in one piece. Answers the index of the step
// whose prompt never came, or -1.
int drive(Terminal& t, const QList<Step>& steps, bool typedAhead) {
    if (typedAhead) {
        QByteArray everything;
        for (const Step& s : steps)
            everything += s.send;
        t.send(everything);
        return -1;
    }
    for (int i = 0; i < steps.size(); ++i) {
        if ((steps[i].rule || i > 0) && !t.waitFor(steps[i].rule, kPromptWaitMs))
            return i;
        t.send(steps[i].send);
    }
    return -1;
}

bool ping(NetnsHarness& h, const QString& ip) {
    QProcess p;
    p.start(QStringLiteral("ip"), {"netns", "exec", h.hostNs(), "ping", "-c1", "-W1", ip});
    const bool finished = p.waitForFinished(5000) && p.exitStatus() == QProcess::NormalExit;
    if (finished &&
        p.exitCode() > 1) // 1 is "no answer"; anything else means ping itself failed (iputils-ping?)
        qWarning().noquote() << p.readAllStandardError();
    return finished && p.exitCode() == 0;
}

// Answers as the tool probes: up to three echo requests.
bool answersWithinThreeProbes(NetnsHarness& h, const QString& ip) {
    for (int i = 0; i < 3; ++i) {
        if (ping(h, ip))
            return true;
    }
    return false;
}

// The assignment datagram to 255.255.255.255, out of the host's veth (the
// host namespace has no default route). Call from the host namespace.
bool broadcast(NetnsHarness& h, const QByteArray& bytes) {
    QUdpSocket udp;
    if (!udp.bind(QHostAddress::AnyIPv4, 0)) // an IPv4 socket: the interface choice fails on a dual-stack one
        return false;
    QNetworkDatagram datagram(bytes, QHostAddress::Broadcast, 30718);
    datagram.setInterfaceIndex(::if_nametoindex(h.hostInterface().toLocal8Bit().constData()));
    return udp.writeDatagram(datagram) == bytes.size();
}

bool holds(NetnsHarness& h, const QString& ip) {
    return h.ipIn(h.deviceNs(), {"-4", "addr", "show", "dev", h.deviceInterface()})
        .contains(ip.toLatin1() + "/");
}

QByteArray concatenated(const QList<Step>& steps) {
    QByteArray bytes;
    for (const Step& s : steps)
        bytes += s.send;
    return bytes;
}

QJsonObject connection(const QJsonObject& summary, int port) {
    for (const QJsonValue& c : summary.value("connections").toArray()) {
        if (c.toObject().value("port").toInt() == port)
            return c.toObject();
    }
    return {};
}

const QByteArray kSignMessage1("\x00\x00\x00\x00\x00\x01Z00\x02"
                               "E$AAU0100FF00\x04",
                               24);
const QByteArray kSignMessage2("\x00\x00\x00\x00\x00\x01Z00\x02"
                               "AA\x1b bIP Test Successful\x04",
                               34);

} // namespace

class TestAdaptorSim : public QObject {
    Q_OBJECT

private slots:
    // Catches a question the tool would not recognise (one character too many, two-digit host bits).
    void promptRules_data() {
        namespace P = AdaptorPrompts;
        QTest::addColumn<QByteArray>("chunk");
        QTest::addColumn<QString>("rule");
        QTest::addColumn<bool>("passes");
        QTest::newRow("ok_main_menu") << P::mainMenu("IP addr 0.0.0.0\r\n") << "menuChoice" << true;
        QTest::newRow("ok_main_menu_again") << P::mainMenu("IP addr 0.0.0.0\r\n") << "choiceAgain" << true;
        QTest::newRow("ok_gateway_question_none_set")
            << P::gatewayQuestion(false) << "gatewayQuestion" << true;
        QTest::newRow("ok_gateway_question_one_set") << P::gatewayQuestion(true) << "gatewayQuestion" << true;
        QTest::newRow("ok_host_bits_0") << P::hostBitsQuestion(0) << "hostBitsQuestion" << true;
        QTest::newRow("ok_host_bits_8") << P::hostBitsQuestion(8) << "hostBitsQuestion" << true;
        QTest::newRow("ok_host_bits_16") << P::hostBitsQuestion(16) << "hostBitsQuestion" << true;
        QTest::newRow("ok_host_bits_24_after_octet")
            << P::gatewayOctetQuestion(3, 254) + P::hostBitsQuestion(24) << "hostBitsQuestion" << true;
        QTest::newRow("ok_login") << P::loginPrompt() << "loginPrompt" << true;
        QTest::newRow("ok_user_level") << P::userPrompt() << "userPrompt" << true;
        QTest::newRow("ok_password") << P::passwordPrompt() << "passwordPrompt" << true;
        QTest::newRow("ok_privileged_level") << P::privilegedPrompt() << "privilegedPrompt" << true;
        // The tool must not take the user level for the privileged one after a refused password.
        QTest::newRow("error_user_level_is_not_privileged")
            << P::wrongPassword() + P::userPrompt() << "privilegedPrompt" << false;
        // The rules themselves are as strict as the tool's.
        QTest::newRow("error_rule_gateway_tail_too_long")
            << QByteArray("Set Gateway IP Address (N) ? ") << "gatewayQuestion" << false;
        QTest::newRow("error_rule_host_bits_tail_too_long")
            << QByteArray("Part (0=default) (8) ? ") << "hostBitsQuestion" << false;
        QTest::newRow("error_rule_host_bits_no_space_before")
            << QByteArray("Part:(0=default) (8) ") << "hostBitsQuestion" << false;
        QTest::newRow("error_rule_choice_one_space_short")
            << QByteArray("Your choice ?") << "menuChoice" << false;
    }
    void promptRules() {
        QFETCH(QByteArray, chunk);
        QFETCH(QString, rule);
        QFETCH(bool, passes);
        QCOMPARE(ruleNamed(rule)(chunk), passes);
    }

    // Catches a family 1 adaptor taking an address from a datagram not for it, or not answering there.
    void datagramAdoption_data() {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<QStringList>("misbehave");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<bool>("adopted");
        const QByteArray tail("\x2c\x3d"), ip("\x0a\x4d\x5a\x14"); // 10.77.90.20
        const QByteArray right = datagramFor("NE-TRIKA", tail, ip);
        QTest::newRow("ok_family1_right_datagram") << right << QStringList() << true << true;
        QTest::newRow("error_wrong_keyword")
            << datagramFor("NE-TRIKB", tail, ip) << QStringList() << false << false;
        QTest::newRow("error_wrong_mac")
            << datagramFor("NE-TRIKA", "\x2c\x3e", ip) << QStringList() << false << false;
        QTest::newRow("error_wrong_lead_byte")
            << QByteArray(right).replace(3, 1, "\xfd") << QStringList() << false << false;
        QTest::newRow("error_nonzero_padding")
            << QByteArray(right).replace(13, 1, "\x01") << QStringList() << false << false;
        QTest::newRow("error_short_datagram") << right.left(19) << QStringList() << false << false;
        QTest::newRow("error_silent_adaptor")
            << right << QStringList{"--misbehave", "silent"} << true << false;
    }
    void datagramAdoption() {
        QFETCH(QByteArray, datagram);
        QFETCH(QStringList, misbehave);
        QFETCH(bool, accepted);
        QFETCH(bool, adopted);
        NetnsHarness h(90);
        NETNS_REQUIRE(h);
        QVERIFY2(!h.ipIn(h.deviceNs(), {"addr", "flush", "dev", h.deviceInterface()}).isNull(),
                 qPrintable(h.error()));
        Simulator sim;
        QVERIFY2(sim.start(h, QStringList{"--mac", kMac1} + misbehave), qPrintable(sim.errors()));
        QVERIFY(h.enterHost());

        QVERIFY(broadcast(h, datagram));
        // The datagram is recorded before the address is taken on: wait for both.
        const QJsonObject s = sim.waitForSummary([adopted](const QJsonObject& s) {
            return !s.value("datagrams").toArray().isEmpty() && (!adopted || !s.value("adoptedIp").toString().isEmpty());
        });

        const QJsonObject seen = s.value("datagrams").toArray().first().toObject();
        QCOMPARE(seen.value("hex").toString(), QString::fromLatin1(datagram.toHex()));
        QCOMPARE(seen.value("accepted").toBool(), accepted);
        QCOMPARE(s.value("adoptedIp").toString(), adopted ? QStringLiteral("10.77.90.20") : QString());
        if (adopted)
            QVERIFY(answersWithinThreeProbes(h, "10.77.90.20"));
        else
            QVERIFY(!holds(h, "10.77.90.20"));
        QVERIFY2(sim.alive(), qPrintable(sim.errors()));
    }

    // Catches a family 2 adaptor taking the address of packets to another MAC, or not answering at its own.
    void packetAdoption_data() {
        QTest::addColumn<QString>("neighbourMac");
        QTest::addColumn<QStringList>("misbehave");
        QTest::addColumn<bool>("adopted");
        QTest::newRow("ok_family2_arp_directed") << "00:80:a3:61:63:dd" << QStringList() << true;
        QTest::newRow("error_other_mac") << "00:80:a3:61:63:de" << QStringList() << false;
        QTest::newRow("error_silent_adaptor")
            << "00:80:a3:61:63:dd" << QStringList{"--misbehave", "silent"} << false;
    }
    void packetAdoption() {
        QFETCH(QString, neighbourMac);
        QFETCH(QStringList, misbehave);
        QFETCH(bool, adopted);
        NetnsHarness h(91);
        NETNS_REQUIRE(h);
        QVERIFY2(!h.ipIn(h.deviceNs(), {"addr", "flush", "dev", h.deviceInterface()}).isNull(),
                 qPrintable(h.error()));
        Simulator sim;
        QVERIFY2(sim.start(h, QStringList{"--mac", kMac2} + misbehave), qPrintable(sim.errors()));
        QVERIFY2(!h.ipIn(h.hostNs(), {"neigh", "replace", "10.77.91.20", "lladdr", neighbourMac, "dev",
                                      h.hostInterface(), "nud", "permanent"})
                      .isNull(),
                 qPrintable(h.error()));

        QCOMPARE(adopted ? answersWithinThreeProbes(h, "10.77.91.20") : ping(h, "10.77.91.20"), adopted);
        const QJsonObject s = sim.waitForSummary(
            [&](const QJsonObject& s) { return s.value("adoptedIp").isString() == adopted; });
        QCOMPARE(s.value("adoptedIp").toString(), adopted ? QStringLiteral("10.77.91.20") : QString());
        QCOMPARE(holds(h, "10.77.91.20"), adopted);
        QVERIFY2(sim.alive(), qPrintable(sim.errors()));
    }

    // Catches a setup menu the tool cannot walk: unknown question, lost typed-ahead answer, "y" as a line.
    void menuDialogue_data() {
        QTest::addColumn<QStringList>("misbehave");
        QTest::addColumn<bool>("typedAhead");
        QTest::addColumn<QByteArray>("hostBits");
        QTest::addColumn<int>("stallsAt"); // the step whose prompt never comes, or -1
        const QStringList none;
        QTest::newRow("ok_family1_paced") << none << false << QByteArray("8") << -1;
        QTest::newRow("ok_family1_typed_ahead") << none << true << QByteArray("16") << -1;
        QTest::newRow("ok_family1_flood_after_menu")
            << QStringList{"--misbehave", "flood:1"} << false << QByteArray("24") << -1;
        QTest::newRow("error_gateway_question_withheld")
            << QStringList{"--misbehave", "no-prompt:Set Gateway"} << false << QByteArray("8") << 6;
    }
    void menuDialogue() {
        QFETCH(QStringList, misbehave);
        QFETCH(bool, typedAhead);
        QFETCH(QByteArray, hostBits);
        QFETCH(int, stallsAt);
        NetnsHarness h(92);
        NETNS_REQUIRE(h);
        Simulator sim;
        QVERIFY2(sim.start(h, QStringList{"--mac", kMac1} + misbehave), qPrintable(sim.errors()));
        QVERIFY(h.enterHost());
        QVERIFY(broadcast(h, datagramFor("NE-TRIKA", "\x2c\x3d", "\x0a\x4d\x5c\x14"))); // 10.77.92.20
        QVERIFY(sim.waitForSummary([](const QJsonObject& s) { return s.value("adoptedIp").isString(); })
                    .value("adoptedIp") == "10.77.92.20");

        Terminal t;
        QVERIFY(t.connectTo("10.77.92.20", 9999));
        const QList<Step> steps = menuSteps(hostBits, {"10", "77", "92", "254"});
        QCOMPARE(drive(t, steps, typedAhead), stallsAt);

        const bool finished = stallsAt < 0;
        if (finished)
            QVERIFY(t.waitClosed(15000));
        const QJsonObject s = sim.waitForSummary([&](const QJsonObject& s) {
            return !finished || connection(s, 9999).value("closedBy") == "adaptor";
        });
        const QJsonObject expected{{"ip", "10.77.92.20"},
                                   {"gateway", finished ? "10.77.92.254" : "0.0.0.0"},
                                   {"hostBits", finished ? hostBits.toInt() : 0},
                                   {"baud", finished ? 9600 : 19200},
                                   {"interfaceMode", finished ? "4C" : "7C"},
                                   {"flow", "00"},
                                   {"port", finished ? 3001 : 10001},
                                   {"saved", finished}};
        QCOMPARE(s.value("config").toObject(), expected);
        if (finished) {
            QCOMPARE(connection(s, 9999).value("received").toString(),
                     QString::fromLatin1(concatenated(steps).toHex()));
        }
        if (misbehave.contains("flood:1"))
            QVERIFY(t.all.size() > 1024 * 1024 && t.all.contains('\0'));
        QVERIFY2(sim.alive(), qPrintable(sim.errors()));
    }

    // Catches a command line the tool cannot walk, a command not applied, or a refused password that works.
    void commandDialogue_data() {
        QTest::addColumn<QStringList>("misbehave");
        QTest::addColumn<bool>("typedAhead");
        QTest::addColumn<int>("stallsAt"); // the step whose prompt never comes, or -1
        QTest::newRow("ok_family2_paced") << QStringList() << false << -1;
        QTest::newRow("ok_family2_typed_ahead") << QStringList() << true << -1;
        QTest::newRow("ok_family2_flood_after_login") << QStringList{"--misbehave", "flood:1"} << false << -1;
        QTest::newRow("error_wrong_password") << QStringList{"--misbehave", "wrong-password"} << false << 3;
        QTest::newRow("error_password_prompt_withheld")
            << QStringList{"--misbehave", "no-prompt:Password"} << false << 2;
        QTest::newRow("error_connection_dropped") << QStringList{"--misbehave", "close-mid"} << false << 3;
    }
    void commandDialogue() {
        QFETCH(QStringList, misbehave);
        QFETCH(bool, typedAhead);
        QFETCH(int, stallsAt);
        NetnsHarness h(93);
        NETNS_REQUIRE(h);
        Simulator sim;
        QVERIFY2(sim.start(h, QStringList{"--mac", kMac2} + misbehave), qPrintable(sim.errors()));
        QVERIFY(h.enterHost());

        Terminal t;
        QVERIFY(t.connectTo(h.deviceAddress(), 23));
        const QList<Step> steps = commandSteps("10.77.93.20", "10.77.93.254", "255.255.255.0");
        QCOMPARE(drive(t, steps, typedAhead), stallsAt);

        const bool finished = stallsAt < 0;
        if (finished)
            QVERIFY(t.waitClosed(15000));
        if (misbehave.contains("wrong-password"))
            QVERIFY(userPrompt(t.latest)); // back at the user level, where the tool waits for ever
        if (misbehave.contains("close-mid"))
            QVERIFY(t.waitClosed(3000));
        const QJsonObject s = sim.waitForSummary([&](const QJsonObject& s) {
            return !finished || connection(s, 23).value("closedBy") == "adaptor";
        });
        const QJsonObject expected{{"ip", finished ? "10.77.93.20" : "0.0.0.0"},
                                   {"gateway", finished ? "10.77.93.254" : "0.0.0.0"},
                                   {"subnetMask", finished ? "255.255.255.0" : "0.0.0.0"},
                                   {"speed", finished ? 9600 : 19200},
                                   {"charsize", finished ? 8 : 7},
                                   {"stopbits", finished ? 1 : 2},
                                   {"parity", finished ? "NONE" : "EVEN"},
                                   {"privilegedLogins", finished ? 1 : 0},
                                   {"loggedOut", finished}};
        QCOMPARE(s.value("config").toObject(), expected);
        if (finished) {
            QCOMPARE(connection(s, 23).value("received").toString(),
                     QString::fromLatin1(concatenated(steps).toHex()));
            QCOMPARE(connection(s, 23).value("closedBy").toString(), QStringLiteral("adaptor"));
        }
        if (misbehave.contains("flood:1"))
            QVERIFY(t.all.size() > 1024 * 1024 && t.all.contains('\0'));
        QVERIFY2(sim.alive(), qPrintable(sim.errors()));
    }

    // Catches a sign that loses a message split across segments or joined to the next, or the wrong text.
    void signMessages_data() {
        QTest::addColumn<QString>("mac");
        QTest::addColumn<int>(
            "pieceSize"); // 0: each message in one write, as the tool sends; -1: both in one
        QTest::addColumn<QStringList>("misbehave");
        QTest::newRow("ok_family1_two_writes") << kMac1 << 0 << QStringList();
        QTest::newRow("ok_family2_one_write") << kMac2 << -1 << QStringList();
        QTest::newRow("ok_family2_split_every_5_bytes") << kMac2 << 5 << QStringList();
        QTest::newRow("ok_family1_byte_by_byte") << kMac1 << 1 << QStringList();
        QTest::newRow("error_port_refused") << kMac2 << 0 << QStringList{"--misbehave", "refuse:3001"};
    }
    void signMessages() {
        QFETCH(QString, mac);
        QFETCH(int, pieceSize);
        QFETCH(QStringList, misbehave);
        NetnsHarness h(94);
        NETNS_REQUIRE(h);
        Simulator sim;
        QVERIFY2(sim.start(h, QStringList{"--mac", mac} + misbehave), qPrintable(sim.errors()));
        QVERIFY(h.enterHost());

        QTcpSocket sign;
        sign.connectToHost(h.deviceAddress(), 3001);
        if (!misbehave.isEmpty()) {
            QVERIFY(!sign.waitForConnected(3000));
            QCOMPARE(sign.error(), QAbstractSocket::ConnectionRefusedError);
            return;
        }
        QVERIFY(sign.waitForConnected(3000));
        const QByteArray both = kSignMessage1 + kSignMessage2;
        QList<QByteArray> pieces;
        if (pieceSize == 0)
            pieces = {kSignMessage1, kSignMessage2};
        else if (pieceSize < 0)
            pieces = {both};
        for (qsizetype i = 0; pieceSize > 0 && i < both.size(); i += pieceSize)
            pieces << both.mid(i, pieceSize);
        for (const QByteArray& piece : pieces) {
            sign.write(piece);
            QVERIFY(sign.waitForBytesWritten(3000));
            if (pieceSize > 0)
                QTest::qWait(5); // let each piece travel as a segment of its own
        }
        sign.disconnectFromHost();

        const QJsonObject s = sim.waitForSummary(
            [](const QJsonObject& s) { return connection(s, 3001).value("closedBy") == "peer"; });
        const QJsonArray messages = s.value("signMessages").toArray();
        QCOMPARE(messages.size(), 2);
        QCOMPARE(messages[0].toObject().value("frameHex").toString(),
                 QString::fromLatin1(kSignMessage1.toHex()));
        QCOMPARE(messages[1].toObject().value("frameHex").toString(),
                 QString::fromLatin1(kSignMessage2.toHex()));
        QCOMPARE(messages[1].toObject().value("body").toString(),
                 QStringLiteral("AA\x1b bIP Test Successful"));
        QCOMPARE(s.value("signText").toString(), QStringLiteral("IP Test Successful"));
        QCOMPARE(connection(s, 3001).value("received").toString(), QString::fromLatin1(both.toHex()));
        QVERIFY2(sim.alive(), qPrintable(sim.errors()));
    }

    // Catches a slow adaptor that is not slow: its first question comes no sooner than four seconds on.
    void slowQuestions() {
        NetnsHarness h(95);
        NETNS_REQUIRE(h);
        Simulator sim;
        QVERIFY2(sim.start(h, {"--mac", kMac2, "--misbehave", "slow"}), qPrintable(sim.errors()));
        QVERIFY(h.enterHost());
        Terminal t;
        QElapsedTimer clock;
        clock.start();
        QVERIFY(t.connectTo(h.deviceAddress(), 23));
        QVERIFY(t.waitFor(loginPrompt, 8000));
        QVERIFY2(clock.elapsed() >= 4000, qPrintable(QString::number(clock.elapsed())));
    }
};

QTEST_GUILESS_MAIN(TestAdaptorSim)
#include "tst_adaptorsim.moc"
