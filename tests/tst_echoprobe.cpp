#include "NetnsHarness.h"
#include "address/AddressRules.h"
#include "net/HelperProbe.h"
#include "net/NetHelper.h"

#include <QElapsedTimer>

#include <atomic>
#include <cstring>
#include <functional>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>

namespace {
// Echo requests seen in the device namespace: the ICMP part of each one.
struct Capture {
    int fd = -1;
    ~Capture() {
        if (fd >= 0)
            ::close(fd);
    }
    QList<QByteArray> requests() {
        QList<QByteArray> out;
        unsigned char buf[1500];
        pollfd p{fd, POLLIN, 0};
        while (::poll(&p, 1, 50) > 0) {
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 20)
                continue;
            const size_t ihl = (buf[0] & 0x0f) * 4;
            if (buf[ihl] == 8) // echo request
                out << QByteArray(reinterpret_cast<char*>(buf) + ihl, n - ihl);
        }
        return out;
    }
};
} // namespace

class TestEchoProbe : public QObject {
    Q_OBJECT
    std::unique_ptr<NetnsHarness> h;
    Capture capture;

private slots:
    void initTestCase() {
        h = std::make_unique<NetnsHarness>(81);
        if (!h->ok())
            return;
        QVERIFY(h->enterDevice());
        capture.fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
        QVERIFY(capture.fd >= 0);
        QVERIFY(h->enterHost());
    }
    void init() {
        // The conversion rows need no network; the rest do.
        if (QByteArray(QTest::currentTestFunction()) != "convert")
            NETNS_REQUIRE(*h);
        capture.requests(); // drop what earlier tests left
    }
    void cleanupTestCase() { h.reset(); }

    // Catches a probe that reports an answer without one, a wrong payload, or a
    // wait far shorter than the 500 ms the adaptor is given.
    void answeringAndSilent_data() {
        QTest::addColumn<QString>("who");
        QTest::addColumn<bool>("answers");
        QTest::newRow("ok_device_answers") << "device" << true;
        QTest::newRow("error_silent_address") << "silent" << false;
    }
    void answeringAndSilent() {
        QFETCH(QString, who);
        QFETCH(bool, answers);
        const QString target = who == "device" ? h->deviceAddress() : h->silentAddress();
        NetHelper helper(QStringLiteral(NETRIKA_HELPER));
        HelperProbe probe(helper);
        QVERIFY(probe.start());
        EchoReply reply;
        QElapsedTimer clock;
        clock.start();
        const Long status = probe.ping(*AddressRules::readDotted(target), QStringLiteral("Echo This"), reply);
        const qint64 took = clock.elapsed();
        QVERIFY(probe.stop());
        QCOMPARE(status == 0, answers);
        QCOMPARE(reply.status, status);
        if (answers) {
            QCOMPARE(reply.data, QByteArray("Echo This"));
            QCOMPARE(QHostAddress(reply.address).toString(), target);
            const auto seen = capture.requests();
            QCOMPARE(seen.size(), 1);
            QCOMPARE(seen.first().mid(8), QByteArray("Echo This")); // exactly 9 bytes, no terminator
        } else {
            // The whole 500 ms wait, and not much more: a probe blocks the window.
            QVERIFY2(took >= 450 && took < 1000, qPrintable(QString::number(took)));
        }
    }

    // Catches an echo reply counted from whichever address sent it: a probe
    // answered by another host in the target's stead must find the target silent.
    void replyFromAnotherAddress_data() {
        QTest::addColumn<QString>("from"); // the source of the reply to the probe
        QTest::addColumn<bool>("answers");
        QTest::newRow("ok_target_answers") << "target" << true;
        QTest::newRow("error_another_host_answers") << "other" << false;
    }
    void replyFromAnotherAddress() {
        QFETCH(QString, from);
        QFETCH(bool, answers);
        // The target holds its address and answers ARP, but its own stack never
        // answers an echo request: the replies are the test's.
        const QString target = QStringLiteral("10.77.81.3");
        const QString source = from == "target" ? target : h->deviceAddress();
        const auto ignoreEchoes = [this](int on) {
            return !h->ip({"netns", "exec", h->deviceNs(), "sysctl", "-q", "-w",
                           QStringLiteral("net.ipv4.icmp_echo_ignore_all=%1").arg(on)})
                        .isNull();
        };
        struct Undo {
            std::function<void()> undo;
            ~Undo() { undo(); }
        } undo{[&] {
            ignoreEchoes(0);
            h->ipIn(h->deviceNs(), {"addr", "del", target + "/24", "dev", h->deviceInterface()});
        }};
        QVERIFY2(ignoreEchoes(1), qPrintable(h->error()));
        QVERIFY2(
            !h->ipIn(h->deviceNs(), {"addr", "add", target + "/24", "dev", h->deviceInterface()}).isNull(),
            qPrintable(h->error()));

        // The answering side: a socket of the device namespace sending from `source`.
        QVERIFY(h->enterDevice());
        const int sender = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
        QVERIFY(h->enterHost());
        QVERIFY(sender >= 0);
        sockaddr_in bound{};
        bound.sin_family = AF_INET;
        bound.sin_addr.s_addr = htonl(QHostAddress(source).toIPv4Address());
        QVERIFY(::bind(sender, reinterpret_cast<sockaddr*>(&bound), sizeof bound) == 0);
        // Each echo request to the target is answered at once, identifier,
        // sequence and data copied, from the source of this row.
        std::atomic<bool> stop = false;
        std::atomic<int> replies = 0;
        std::thread answerer([&] {
            unsigned char buf[1500];
            while (!stop) {
                pollfd p{capture.fd, POLLIN, 0};
                if (::poll(&p, 1, 20) <= 0)
                    continue;
                sockaddr_in peer{};
                socklen_t size = sizeof peer;
                const ssize_t n =
                    ::recvfrom(capture.fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&peer), &size);
                const size_t ihl = n > 20 ? size_t(buf[0] & 0x0f) * 4 : 0;
                quint32 to = 0;
                std::memcpy(&to, buf + 16, 4);
                if (ihl == 0 || size_t(n) < ihl + 8 || buf[ihl] != 8 ||
                    ntohl(to) != QHostAddress(target).toIPv4Address())
                    continue;
                QByteArray reply(reinterpret_cast<char*>(buf) + ihl, int(n - ihl));
                reply[0] = 0; // echo reply
                reply[2] = reply[3] = 0;
                quint32 sum = 0;
                for (int i = 0; i < reply.size(); i += 2)
                    sum += quint32(quint8(reply[i]) << 8 | (i + 1 < reply.size() ? quint8(reply[i + 1]) : 0));
                while (sum >> 16)
                    sum = (sum & 0xffff) + (sum >> 16);
                reply[2] = char(~sum >> 8);
                reply[3] = char(~sum);
                if (::sendto(sender, reply.constData(), size_t(reply.size()), 0,
                             reinterpret_cast<sockaddr*>(&peer), size) == reply.size())
                    ++replies;
            }
        });
        NetHelper helper(QStringLiteral(NETRIKA_HELPER));
        HelperProbe probe(helper);
        QVERIFY(probe.start());
        EchoReply reply;
        const Long status = probe.ping(*AddressRules::readDotted(target), QStringLiteral("Echo This"), reply);
        stop = true;
        answerer.join();
        ::close(sender);
        QCOMPARE(replies.load(), 1);
        QCOMPARE(status == 0, answers);
        if (answers)
            QCOMPARE(reply.data, QByteArray("Echo This"));
    }

    // Catches the all-ones address taken for a target.
    void allOnesSendsNothing() {
        NetHelper helper(QStringLiteral(NETRIKA_HELPER));
        HelperProbe probe(helper);
        EchoReply reply;
        QCOMPARE(probe.ping(0xffffffff, QStringLiteral("Echo This"), reply), -1);
        QCOMPARE(capture.requests().size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestEchoProbe)
#include "tst_echoprobe.moc"
