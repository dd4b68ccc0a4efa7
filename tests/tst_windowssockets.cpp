// The Windows build's host calls over a real network under wine: the socket
// control over Winsock, watched by Qt's event loop, and the host's networks
// from the IP Helper. Run in a network namespace of the test's own (made by
// with-wine-netns.sh), whose one segment is 10.77.98.1/24 on the interface
// named in NETRIKA_SEGMENT.
#include "address/AddressRules.h"
#include "net/HostNetworks.h"
#include "net/HostSocketControl.h"

#include <QNetworkDatagram>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUdpSocket>

#include <memory>

namespace {
const QString kOwn = QStringLiteral("10.77.98.1");
quint32 at(const QString& address) {
    return AddressRules::readDotted(address).value_or(0);
}
} // namespace

class TestWindowsSockets : public QObject {
    Q_OBJECT
    QTcpServer server;

private slots:
    void initTestCase() {
        if (qEnvironmentVariableIsEmpty("NETRIKA_SEGMENT"))
            QSKIP("run by with-wine-netns.sh, in a network namespace of its own");
        QVERIFY(server.listen(QHostAddress(kOwn), 0));
    }

    // Catches the adapter list misread: the segment's interface, up, with its
    // address and prefix, able to broadcast, found as the one that reaches
    // an address of its subnet.
    void segmentListed() {
        const auto networks = HostNetworks::read();
        const auto it = std::find_if(networks.begin(), networks.end(), [](const HostNetwork& n) {
            return n.holds(at(kOwn)) && !n.addresses.empty();
        });
        QVERIFY2(it != networks.end(), "no adapter holds the segment's address");
        QVERIFY(it->up && it->broadcast && !it->loopback);
        QVERIFY((std::find(it->addresses.begin(), it->addresses.end(), std::pair{at(kOwn), 24}) !=
                 it->addresses.end()));
        QCOMPARE(HostNetworks::segmentOf(at(QStringLiteral("10.77.98.7")), networks), it->name);
    }

    // Catches bytes changed on the way (one byte a character, both ways),
    // events out of order, and a peer's close unnoticed.
    void tcpRoundTrip() {
        HostSocketControl control(SocketControl::Tcp);
        int connects = 0, completes = 0, closes = 0;
        QString got;
        control.onConnect = [&] { ++connects; };
        control.onSendComplete = [&] { ++completes; };
        control.onDataArrival = [&](Long) { got += control.getData(); };
        control.onClose = [&] { ++closes; };
        control.setRemoteAddress(at(kOwn));
        control.setRemotePort(server.serverPort());
        control.connect();
        QTRY_COMPARE(connects, 1);
        QCOMPARE(control.state(), int(SocketControl::Connected));
        QTRY_VERIFY(server.hasPendingConnections());
        std::unique_ptr<QTcpSocket> peer(server.nextPendingConnection());
        QString every;
        for (int c = 0; c < 256; ++c)
            every += QChar(c);
        control.sendData(every);
        QByteArray received;
        QTRY_VERIFY((received += peer->readAll()).size() == 256);
        for (int c = 0; c < 256; ++c)
            QCOMPARE(quint8(received.at(c)), quint8(c));
        QTRY_COMPARE(completes, 1);
        peer->write(received);
        QTRY_COMPARE(got, every);
        peer->close();
        QTRY_COMPARE(closes, 1);
        QCOMPARE(control.state(), int(SocketControl::PeerClosing));
    }

    // Catches an attempt with nobody listening that never ends. Windows
    // reports the refusal; wine never signals it, and the attempt then ends
    // at its time limit: either way it ends as a failure, once.
    void nobodyListening() {
        HostSocketControl control(SocketControl::Tcp);
        control.setConnectTimeout(2000);
        int connects = 0;
        control.onConnect = [&] { ++connects; };
        control.setRemoteAddress(at(kOwn));
        control.setRemotePort(9); // nothing listens there
        control.connect();
        QTRY_COMPARE_WITH_TIMEOUT(connects, 1, 5000);
        QCOMPARE(control.state(), int(SocketControl::Error));
        const int error = control.lastError().number();
        QVERIFY2(error == RunTimeError(RunTimeError::ConnectionRefused).number() ||
                     error == RunTimeError(RunTimeError::ConnectionTimedOut).number(),
                 qPrintable(control.lastError().description()));
        QTest::qWait(300);
        QCOMPARE(connects, 1);
    }

    // Catches the assignment datagram lost or changed on its way to the
    // limited broadcast address, out of the segment that holds the address
    // being given.
    void broadcastLeavesBySegment() {
        QUdpSocket receiver;
        QVERIFY(receiver.bind(QHostAddress::AnyIPv4, 0));
        HostSocketControl control(SocketControl::Udp);
        control.setBroadcastScope(at(QStringLiteral("10.77.98.50")));
        control.setRemoteAddress(0xffffffffu);
        control.setRemotePort(receiver.localPort());
        const QString datagram = QString::fromLatin1(QByteArray("\x00\x00\x00\xf8\x0a\x4d\x62\x32\x01\x02", 10));
        control.sendData(datagram);
        QTRY_VERIFY(receiver.hasPendingDatagrams());
        QCOMPARE(receiver.receiveDatagram().data(), datagram.toLatin1());
    }
};

QTEST_MAIN(TestWindowsSockets)
#include "tst_windowssockets.moc"
