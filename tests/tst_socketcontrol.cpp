#include "NetnsHarness.h"
#include "address/AddressRules.h"
#include "net/HostSocketControl.h"

#include <QNetworkDatagram>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>

#include <arpa/inet.h>

namespace {
// A test's own dotted address, in host byte order.
quint32 at(const QString& address) {
    return AddressRules::readDotted(address).value_or(0);
}

QString allBytes() {
    QString s;
    for (int c = 0; c < 256; ++c)
        s += QChar(c);
    return s;
}

// Counts the wake-ups of every socket notifier in the program: a notifier
// left on for data nobody takes wakes the event loop without end.
struct NotifierWakeups : QObject {
    int count = 0;
    NotifierWakeups() { QCoreApplication::instance()->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::SockAct)
            ++count;
        return false;
    }
};
} // namespace

// The socket control over real sockets, between two namespaces of the test's own.
class TestSocketControl : public QObject {
    Q_OBJECT
    std::unique_ptr<NetnsHarness> h;
    std::unique_ptr<QTcpServer> server; // in the device namespace
    std::unique_ptr<QUdpSocket> listener;

    // The peer's end of the latest connection.
    QTcpSocket* acceptPeer() {
        if (!server->hasPendingConnections() && !server->waitForNewConnection(5000))
            return nullptr;
        return server->nextPendingConnection();
    }

    // Connects the control to the listener in the device namespace and hands
    // back the listener's end.
    void connectPair(HostSocketControl& ws, std::unique_ptr<QTcpSocket>& peer) {
        ws.setRemoteAddress(at(h->deviceAddress()));
        ws.setRemotePort(23);
        ws.connect();
        QTRY_COMPARE(ws.state(), int(SocketControl::Connected));
        peer.reset(acceptPeer());
        QVERIFY(peer);
    }

private slots:
    void initTestCase() {
        h = std::make_unique<NetnsHarness>(80);
        if (!h->ok())
            return;
        QVERIFY(h->enterDevice());
        server = std::make_unique<QTcpServer>();
        QVERIFY(server->listen(QHostAddress(h->deviceAddress()), 23));
        listener = std::make_unique<QUdpSocket>();
        QVERIFY(listener->bind(QHostAddress::AnyIPv4, 30718));
        // A second segment of the host's, 10.88.80.0/24, where no adaptor listens.
        const QString other = QStringLiteral("nkx%1").arg(::getpid());
        const QString end = QStringLiteral("nky%1").arg(::getpid());
        for (const QStringList& args :
             {QStringList{"link", "add", other, "type", "veth", "peer", "name", end},
              QStringList{"addr", "add", "10.88.80.1/24", "brd", "+", "dev", other},
              QStringList{"link", "set", other, "up"}, QStringList{"link", "set", end, "up"}})
            QVERIFY2(!h->ipIn(h->hostNs(), args).isNull(), qPrintable(h->error()));
        QVERIFY(h->enterHost());
    }
    void init() { NETNS_REQUIRE(*h); }
    void cleanupTestCase() {
        server.reset();
        listener.reset();
        h.reset();
    }

    // Catches bytes above 127 or NUL mangled by a text conversion, data split
    // into several arrivals, or a missing send-complete event.
    void tcpRoundTripLatin1() {
        HostSocketControl ws;
        QCOMPARE(ws.state(), int(SocketControl::Closed));
        ws.setRemoteAddress(at(h->deviceAddress()));
        ws.setRemotePort(23);
        ws.connect();
        QCOMPARE(ws.state(), int(SocketControl::Connecting));
        QTRY_COMPARE(ws.state(), int(SocketControl::Connected));
        std::unique_ptr<QTcpSocket> peer(acceptPeer());
        QVERIFY(peer);

        int completes = 0;

        ws.onSendComplete = [&] { ++completes; };
        ws.sendData(allBytes());
        QTRY_COMPARE(completes, 1);
        QByteArray got;
        QTRY_VERIFY((got += peer->readAll()).size() == 256);
        for (int c = 0; c < 256; ++c)
            QCOMPARE(quint8(got.at(c)), quint8(c));

        QList<Long> arrivals;
        ws.onDataArrival = [&](Long n) { arrivals << n; };
        peer->write(allBytes().toLatin1());
        QTRY_VERIFY(!arrivals.isEmpty());
        QCOMPARE(ws.getData(), allBytes());
        QCOMPARE(ws.getData(), QString());

        int closes = 0;
        ws.onClose = [&] { ++closes; };
        peer->disconnectFromHost();
        QTRY_COMPARE(closes, 1);
        QVERIFY(ws.state() != SocketControl::Connected);
        ws.close();
        QCOMPARE(ws.state(), int(SocketControl::Closed));
        QCOMPARE(closes, 1); // our own close is no event
    }

    // Catches an arrival that hands over an unbounded amount at once, or data
    // left behind when the reader keeps up chunk by chunk.
    void floodArrivesInBoundedChunks() {
        HostSocketControl ws;
        std::unique_ptr<QTcpSocket> peer;
        connectPair(ws, peer);
        if (QTest::currentTestFailed())
            return;
        qint64 total = 0;
        qint64 largest = 0;
        ws.onDataArrival = [&](Long) {
            const qint64 n = ws.getData().size();
            total += n;
            largest = std::max(largest, n);
        };
        const QByteArray flood(1024 * 1024, '\0');
        peer->write(flood);
        QTRY_COMPARE_WITH_TIMEOUT(total, flood.size(), 10000);
        QVERIFY(largest <= HostSocketControl::kMaxChunk);
        ws.close();
    }

    // Catches a flood read into memory while nothing is taken, a notifier that
    // spins the event loop while data waits on either side, bytes lost or
    // reordered once the reader catches up, and a send-complete raised before
    // the last byte of a large send has gone or more than once.
    void heldBackBothWays_data() {
        QTest::addColumn<bool>("inbound");
        QTest::newRow("ok_peer_floods_nothing_taken") << true;
        QTest::newRow("ok_send_to_peer_not_reading") << false;
    }
    void heldBackBothWays() {
        QFETCH(bool, inbound);
        HostSocketControl ws;
        std::unique_ptr<QTcpSocket> peer;
        connectPair(ws, peer);
        if (QTest::currentTestFailed())
            return;
        // More than the kernel buffers of both ends hold.
        QByteArray pattern(20 * 1024 * 1024, Qt::Uninitialized);
        for (qsizetype i = 0; i < pattern.size(); ++i)
            pattern[i] = char(i * 7 % 251);
        QByteArray got;
        qint64 largest = 0;
        int completes = 0;
        if (inbound) {
            QList<Long> arrivals;
            ws.onDataArrival = [&](Long n) { arrivals << n; };
            peer->write(pattern);
            QTRY_VERIFY(!arrivals.isEmpty() && arrivals.last() == HostSocketControl::kMaxChunk);
        } else {
            peer->setReadBufferSize(64 * 1024);
            ws.onSendComplete = [&] { ++completes; };
            ws.sendData(QString::fromLatin1(pattern));
            QTRY_COMPARE(peer->bytesAvailable(), qint64(64 * 1024));
        }
        NotifierWakeups wakeups;
        QTest::qWait(300);
        QVERIFY2(wakeups.count < 50,
                 qPrintable(QString::number(wakeups.count) + " wake-ups while held back"));
        if (inbound) {
            QVERIFY(peer->bytesToWrite() > 0); // the rest waits with the peer
            ws.onDataArrival = [&](Long) {
                const QByteArray chunk = ws.getData().toLatin1();
                largest = std::max(largest, qint64(chunk.size()));
                got += chunk;
            };
            got += ws.getData().toLatin1();
        } else {
            QCOMPARE(completes, 0);
            QObject::connect(peer.get(), &QTcpSocket::readyRead, peer.get(), [&] { got += peer->readAll(); });
            got += peer->readAll();
        }
        QTRY_COMPARE_WITH_TIMEOUT(got.size(), pattern.size(), 60000);
        QVERIFY(got == pattern);
        QVERIFY(largest <= HostSocketControl::kMaxChunk);
        if (!inbound)
            QTRY_COMPARE(completes, 1);
        ws.close();
    }

    // Catches a close that waits, raises the peer-close event, or loses a
    // logout sent just before it.
    void closeRightAfterSend() {
        HostSocketControl ws;
        std::unique_ptr<QTcpSocket> peer;
        connectPair(ws, peer);
        if (QTest::currentTestFailed())
            return;
        int closes = 0;
        ws.onClose = [&] { ++closes; };
        ws.sendData(QStringLiteral("logout\n"));
        ws.close();
        QCOMPARE(ws.state(), int(SocketControl::Closed));
        QByteArray got;
        QTRY_COMPARE(got += peer->readAll(), QByteArray("logout\n"));
        QCOMPARE(closes, 0);
        ws.close(); // harmless when closed
    }

    // Catches a control that a handler of its own closes and that then
    // touches what it freed, or raises an event more: the window's
    // procedures close the socket from inside any of its events.
    void closedFromItsOwnEvent_data() {
        QTest::addColumn<QString>("event");
        QTest::newRow("ok_closed_on_arrival") << "arrival";
        QTest::newRow("ok_closed_on_send_complete") << "sent";
        QTest::newRow("ok_closed_on_peer_close") << "close";
    }
    void closedFromItsOwnEvent() {
        QFETCH(QString, event);
        HostSocketControl ws;
        std::unique_ptr<QTcpSocket> peer;
        connectPair(ws, peer);
        if (QTest::currentTestFailed())
            return;
        int events = 0;
        const auto closing = [&] {
            ++events;
            ws.close();
        };
        if (event == "arrival")
            ws.onDataArrival = [&](Long) { closing(); };
        else if (event == "sent")
            ws.onSendComplete = closing;
        else
            ws.onClose = closing;
        if (event == "sent")
            ws.sendData(QStringLiteral("logout\n"));
        else if (event == "arrival")
            peer->write("hello\r\n");
        else
            peer->close();
        QTRY_COMPARE(events, 1);
        QCOMPARE(ws.state(), int(SocketControl::Closed));
        if (peer->state() == QAbstractSocket::ConnectedState)
            peer->write("more\r\n");
        QTest::qWait(200); // a further event would have come by now
        QCOMPARE(events, 1);
        // And the control serves a new connection after it.
        ws.onDataArrival = nullptr;
        ws.onSendComplete = nullptr;
        ws.onClose = nullptr;
        connectPair(ws, peer);
    }

    // Catches a receive that the kernel answers "nothing yet" (EAGAIN) taken
    // for the peer's close: the readable event is fed again by hand once its
    // data has been taken, as a spurious wake-up would.
    void readableWithNothingToRead() {
        HostSocketControl ws;
        std::unique_ptr<QTcpSocket> peer;
        connectPair(ws, peer);
        if (QTest::currentTestFailed())
            return;
        // The control's read notifier, as the event loop reaches it.
        struct ReadNotifier : QObject {
            QSocketNotifier* seen = nullptr;
            bool eventFilter(QObject* o, QEvent* e) override {
                if (e->type() == QEvent::SockAct)
                    if (auto* n = qobject_cast<QSocketNotifier*>(o); n && n->type() == QSocketNotifier::Read)
                        seen = n;
                return false;
            }
        } watch;
        QCoreApplication::instance()->installEventFilter(&watch);
        int closes = 0;
        QString got;
        ws.onClose = [&] { ++closes; };
        ws.onDataArrival = [&](Long) { got += ws.getData(); };
        peer->write("hello\r\n");
        QTRY_COMPARE(got, QStringLiteral("hello\r\n"));
        QCoreApplication::instance()->removeEventFilter(&watch);
        QVERIFY(watch.seen);
        QEvent wakeUp(QEvent::SockAct);
        QCoreApplication::sendEvent(watch.seen, &wakeUp);
        QCOMPARE(closes, 0);
        QCOMPARE(ws.state(), int(SocketControl::Connected));
        peer->write("again\r\n");
        QTRY_COMPARE(got, QStringLiteral("hello\r\nagain\r\n"));
        ws.close();
    }

    // Catches a failed attempt that looks like a pending one forever (the
    // waits would hang), or reports the wrong cause.
    void failedAttempts_data() {
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::addColumn<int>("timeoutMs");
        QTest::addColumn<int>("error");
        QTest::newRow("error_refused_port")
            << "device" << 3001 << 10000 << int(RunTimeError::ConnectionRefused);
        QTest::newRow("error_nobody_at_address")
            << "silent" << 23 << 700 << int(RunTimeError::ConnectionTimedOut);
        QTest::newRow("error_no_route") << "192.0.2.1" << 23 << 10000 << int(RunTimeError::HostUnreachable);
        // On the segment, but nobody answers ARP: the kernel gives up after
        // its few seconds of asking, before the attempt's own time-out.
        QTest::newRow("error_nobody_on_segment_kernel_gives_up")
            << "silent" << 23 << 10000 << int(RunTimeError::HostUnreachable);
    }
    void failedAttempts() {
        QFETCH(QString, host);
        QFETCH(int, port);
        QFETCH(int, timeoutMs);
        QFETCH(int, error);
        HostSocketControl ws;
        ws.setConnectTimeout(timeoutMs);
        ws.setRemoteAddress(at(host == "device"   ? h->deviceAddress()
                               : host == "silent" ? h->silentAddress()
                                                  : host));
        ws.setRemotePort(port);
        ws.connect();
        QTRY_COMPARE_WITH_TIMEOUT(ws.state(), int(SocketControl::Error), 8000);
        QCOMPARE(ws.lastError().number(), error);
        QVERIFY_THROWS_EXCEPTION(RunTimeError, ws.sendData(QStringLiteral("x")));
        ws.close();
        QCOMPARE(ws.state(), int(SocketControl::Closed));
    }

    // Catches a connection that is taken and closed at once reported with
    // the cause of the attempt before it.
    void everyAttemptHasItsOwnCause() {
        HostSocketControl ws;
        ws.setRemoteAddress(at(h->deviceAddress()));
        ws.setRemotePort(3001);
        ws.connect();
        QTRY_COMPARE(ws.state(), int(SocketControl::Error));
        QCOMPARE(ws.lastError().number(), int(RunTimeError::ConnectionRefused));
        ws.close();
        ws.setRemotePort(23);
        ws.connect();
        std::unique_ptr<QTcpSocket> peer(acceptPeer());
        QVERIFY(peer);
        peer->abort();
        QTRY_VERIFY(ws.state() != SocketControl::Connecting && ws.state() != SocketControl::Connected);
        QCOMPARE(ws.lastError().number(), int(RunTimeError::ConnectionClosed));
        ws.close();
    }

    // Catches members that do not refuse a use in the wrong state.
    void wrongState_data() {
        QTest::addColumn<int>("action");
        QTest::newRow("error_send_closed") << 0;
        QTest::newRow("error_get_closed") << 1;
        QTest::newRow("error_connect_twice") << 2;
        QTest::newRow("error_connect_no_address") << 3;
    }
    void wrongState() {
        QFETCH(int, action);
        HostSocketControl ws;
        ws.setRemoteAddress(action == 3 ? 0 : at(h->deviceAddress()));
        ws.setRemotePort(23);
        try {
            if (action == 0)
                ws.sendData(QStringLiteral("x"));
            else if (action == 1)
                (void)ws.getData();
            else {
                ws.connect();
                ws.connect();
            }
            QFAIL("no run-time error");
        } catch (const RunTimeError& e) {
            QCOMPARE(e.number(),
                     action == 3 ? int(RunTimeError::InvalidAddress) : int(RunTimeError::SocketWrongState));
        }
        ws.close();
    }

    // Catches a limited broadcast that follows the routing table and so never
    // leaves a host that has no default route, and one sent onto a segment
    // whose subnet does not hold the address being assigned while another does.
    void broadcastWithoutDefaultRoute_data() {
        QTest::addColumn<QString>("scope");
        QTest::addColumn<bool>("reachesAdaptor");
        QTest::newRow("ok_no_scope_every_segment") << "" << true;
        QTest::newRow("ok_scope_on_adaptor_segment") << "10.77.80.50" << true;
        QTest::newRow("ok_scope_on_no_segment_every_segment") << "192.0.2.7" << true;
        QTest::newRow("error_scope_on_other_segment_only_there") << "10.88.80.50" << false;
    }
    void broadcastWithoutDefaultRoute() {
        QFETCH(QString, scope);
        QFETCH(bool, reachesAdaptor);
        QVERIFY(h->ipIn(h->hostNs(), {"route", "show", "default"}).trimmed().isEmpty());
        while (listener->hasPendingDatagrams())
            listener->receiveDatagram();
        HostSocketControl ws(SocketControl::Udp);
        if (!scope.isEmpty())
            ws.setBroadcastScope(at(scope));
        ws.setRemoteAddress(0xffffffff);
        ws.setRemotePort(30718);
        QString datagram(3, QChar(0));
        datagram += QChar(0xFC) + QStringLiteral("NE-TRIKA") + QString(2, QChar(0)) + QChar(0x2C) +
                    QChar(0x3D) + QChar(10) + QChar(77) + QChar(80) + QChar(50);
        QCOMPARE(datagram.size(), 20);
        ws.sendData(datagram);
        QCOMPARE(ws.state(), int(SocketControl::Open));
        if (!reachesAdaptor) {
            QTest::qWait(300);
            QVERIFY(!listener->hasPendingDatagrams());
            return;
        }
        QTRY_VERIFY(listener->hasPendingDatagrams());
        const QNetworkDatagram got = listener->receiveDatagram();
        QCOMPARE(got.data(), datagram.toLatin1());
        QCOMPARE(got.senderAddress(), QHostAddress(h->hostAddress()));
        ws.close();
        QCOMPARE(ws.state(), int(SocketControl::Closed));
    }
};

QTEST_GUILESS_MAIN(TestSocketControl)
#include "tst_socketcontrol.moc"
