#include "setup/AdaptorScan.h"

#include "address/AddressRules.h"
#include "net/HostNetworks.h"
#include "net/SocketCalls.h"
#include "net/helper/HelperProtocol.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

#include <bit>
#include <chrono>
#include <vector>

namespace {

[[nodiscard]] quint32 maskOf(int length) {
    return length == 0 ? 0 : ~quint32(0) << (32 - length);
}

// Two aligned ranges overlap only when one holds the other.
[[nodiscard]] bool overlap(quint32 a, int aLength, quint32 b, int bLength) {
    const int wider = std::min(aLength, bLength);
    return (a & maskOf(wider)) == (b & maskOf(wider));
}

} // namespace

QString ScanRange::text() const {
    return QStringLiteral("%1 %2/%3").arg(interfaceName, AdaptorScan::addressText(network)).arg(prefixLength);
}

QString AdaptorScan::addressText(quint32 address) {
    return QString::fromStdString(helper::addressText(address));
}

QList<HostInterface> AdaptorScan::hostInterfaces() {
    QList<HostInterface> found;
    for (const HostNetwork& n : HostNetworks::read()) {
        // Tunnels and other links without ARP cannot be swept; a bridge's
        // port carries the bridge's traffic, not addresses of its own.
        if (!n.ethernet || !n.up || n.loopback || !n.arp || n.bridgePort)
            continue;
        HostInterface host{n.name, {}};
        for (const auto& address : n.addresses)
            host.addresses.append(address);
        found.append(host);
    }
    return found;
}

AdaptorScan::Plan AdaptorScan::plan(const ScanRequest& request, const QList<HostInterface>& interfaces) {
    Plan p;
    const auto fail = [&p](const QString& why) {
        p.ranges.clear();
        p.error = why;
        return p;
    };
    QList<HostInterface> chosen;
    for (const HostInterface& i : interfaces)
        if (request.interfaceName.isEmpty() || i.name == request.interfaceName)
            chosen.append(i);
    if (!request.interfaceName.isEmpty() && chosen.isEmpty())
        return fail(QStringLiteral("--interface %1: no Ethernet interface of that name is up")
                        .arg(request.interfaceName));

    const auto add = [&p](const ScanRange& r) {
        if (!p.ranges.contains(r))
            p.ranges.append(r);
    };
    if (request.ranges.isEmpty()) {
        for (const HostInterface& i : chosen)
            for (const auto& [address, length] : i.addresses) {
                if (length > kNarrowestRange)
                    continue; // a point-to-point address: no neighbours to ask
                const int swept = std::max(length, kWidestDefault);
                add({i.name, address & maskOf(swept), swept});
            }
        if (p.ranges.isEmpty())
            return fail(request.interfaceName.isEmpty()
                            ? QStringLiteral("no Ethernet interface that is up has an IPv4 subnet: name the "
                                             "range to sweep with --range and --interface")
                            : QStringLiteral("--interface %1 has no IPv4 subnet: name the range to sweep "
                                             "with --range")
                                  .arg(request.interfaceName));
        return p;
    }

    static const QRegularExpression form(QStringLiteral("^([0-9.]+)/([0-9]{1,2})$"));
    for (const QString& text : request.ranges) {
        const auto m = form.match(text);
        const auto address = AddressRules::readDotted(m.captured(1));
        const int length = m.captured(2).toInt();
        if (!m.hasMatch() || !address || length > 32)
            return fail(QStringLiteral("--range %1: not a range A.B.C.D/LEN").arg(text));
        if (length < kWidestRange)
            return fail(
                QStringLiteral("--range %1: more than a /%2 (%3 addresses); sweep it as smaller ranges")
                    .arg(text)
                    .arg(kWidestRange)
                    .arg(1 << (32 - kWidestRange)));
        if (length > kNarrowestRange)
            return fail(QStringLiteral("--range %1: a range of /%2 or wider is needed")
                            .arg(text)
                            .arg(kNarrowestRange));
        const quint32 network = *address & maskOf(length);
        for (const quint32 end : {network, network | ~maskOf(length)})
            if (const auto why = helper::refusedAddress(end); !why.empty())
                return fail(QStringLiteral("--range %1: holds %2")
                                .arg(text, QString::fromLatin1(why.data(), qsizetype(why.size()))));
        QString where = request.interfaceName;
        if (where.isEmpty()) {
            QSet<QString> holding;
            for (const HostInterface& i : interfaces)
                for (const auto& [a, l] : i.addresses)
                    if (overlap(a, l, network, length))
                        holding.insert(i.name);
            // Else the one interface that is up, or the one with an IPv4 subnet
            // (links without one, such as bridge ports, do not count then).
            QStringList addressed;
            for (const HostInterface& i : interfaces)
                if (!i.addresses.isEmpty())
                    addressed << i.name;
            if (holding.size() == 1)
                where = *holding.begin();
            else if (holding.isEmpty() && interfaces.size() == 1)
                where = interfaces.first().name;
            else if (holding.isEmpty() && addressed.size() == 1)
                where = addressed.first();
            else
                return fail(QStringLiteral("--range %1: %2 Ethernet interfaces could reach it; say which "
                                           "with --interface")
                                .arg(text, holding.isEmpty() ? QString::number(interfaces.size())
                                                             : QString::number(holding.size())));
        }
        add({where, network, length});
    }
    return p;
}

bool AdaptorScan::onSubnetOf(quint32 address, const QString& interfaceName,
                             const QList<HostInterface>& interfaces) {
    for (const HostInterface& i : interfaces)
        if (i.name == interfaceName)
            for (const auto& [a, l] : i.addresses)
                if (l <= kNarrowestRange && overlap(a, l, address, 32))
                    return true;
    return false;
}

QList<QList<int>> AdaptorScan::openPorts(const QList<quint32>& addresses, const QList<int>& ports, int waitMs,
                                         int atOnce) {
    using Clock = std::chrono::steady_clock;
    struct Attempt {
        qsizetype adaptor = 0;
        int port = 0;
        SocketCalls::Handle fd = SocketCalls::kNoSocket;
        Clock::time_point until;
    };
    QList<QList<int>> open(addresses.size());
    QList<std::pair<qsizetype, int>> waiting;
    for (qsizetype a = 0; a < addresses.size(); ++a)
        for (int port : ports)
            waiting.append({a, port});
    std::vector<Attempt> running;
    qsizetype next = 0;
    const auto finish = [&](Attempt& t, bool accepted) {
        if (accepted)
            open[t.adaptor].append(t.port);
        SocketCalls::close(t.fd); // nothing was sent: the adaptor's dialogue never starts
        t.fd = SocketCalls::kNoSocket;
    };
    while (next < waiting.size() || !running.empty()) {
        while (next < waiting.size() && int(running.size()) < atOnce) {
            const auto [adaptor, port] = waiting[next++];
            Attempt t{adaptor, port, SocketCalls::openStream(), Clock::now() + std::chrono::milliseconds(waitMs)};
            if (t.fd == SocketCalls::kNoSocket)
                continue;
            const int r = SocketCalls::connect(t.fd, addresses[adaptor], quint16(port));
            if (r == 0 || SocketCalls::kindOf(r) == SocketCalls::Kind::InProgress)
                running.push_back(t);
            else
                finish(t, false);
            if (r == 0)
                finish(running.back(), true);
        }
        std::vector<SocketCalls::Handle> attempts;
        for (const Attempt& t : running)
            attempts.push_back(t.fd);
        const auto now = Clock::now();
        auto soonest = now + std::chrono::milliseconds(waitMs);
        for (const Attempt& t : running)
            soonest = std::min(soonest, t.until);
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(soonest - now).count();
        std::vector<bool> ended;
        SocketCalls::waitForAttempts(attempts, int(std::max<qint64>(left, 0)), ended);
        for (std::size_t i = 0; i < running.size(); ++i) {
            Attempt& t = running[i];
            if (t.fd == SocketCalls::kNoSocket)
                continue;
            if (ended[i]) {
                finish(t, SocketCalls::pendingError(t.fd) == 0);
            } else if (Clock::now() >= t.until) {
                finish(t, false);
            }
        }
        std::erase_if(running, [](const Attempt& t) { return t.fd == SocketCalls::kNoSocket; });
    }
    for (QList<int>& list : open) {
        QList<int> ordered;
        for (int port : ports)
            if (list.contains(port))
                ordered.append(port);
        list = ordered;
    }
    return open;
}
