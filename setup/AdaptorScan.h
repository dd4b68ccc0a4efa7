#pragma once

// What a search for adaptors sweeps and what it makes of the answers: the
// ranges (the host's own subnets or those named) and which setup ports of an adaptor accept a connection.
// Plain functions; the finder (ScanFinder) runs them off the caller's thread.

#include "setup/AdaptorFinder.h"

#include <QList>
#include <QString>

#include <optional>
#include <utility>

// One Ethernet interface of this host that is up, with its IPv4 subnets.
struct HostInterface {
    QString name;
    QList<std::pair<quint32, int>> addresses; // address (host byte order) and prefix length
};

// One range to sweep, on one interface.
struct ScanRange {
    QString interfaceName;
    quint32 network = 0;
    int prefixLength = 0;
    // "IF A.B.C.D/LEN", as ScanEnd::swept lists it.
    [[nodiscard]] QString text() const;
    bool operator==(const ScanRange&) const = default;
};

class AdaptorScan {
public:
    // A host subnet wider than this is swept as the /22 around the host's address.
    static constexpr int kWidestDefault = 22;
    // What --range may name: 4094 addresses at most, 2 at least.
    static constexpr int kWidestRange = 20;
    static constexpr int kNarrowestRange = 30;
    // The ports an adaptor is set up and reached on, in the order FoundAdaptor lists them.
    static constexpr int kPorts[] = {9999, 23, 3001};
    static constexpr int kPortWaitMs = 1000;
    static constexpr int kPortsAtOnce = 8;

    struct Plan {
        QList<ScanRange> ranges;
        QString error; // what is wrong with the request, for the user; ranges empty then
    };

    // The host's Ethernet interfaces that are up, but loopback, tunnels and bridge ports.
    [[nodiscard]] static QList<HostInterface> hostInterfaces();
    // The ranges a request sweeps on these interfaces, or why it cannot be swept.
    [[nodiscard]] static Plan plan(const ScanRequest& request, const QList<HostInterface>& interfaces);

    // Whether an address lies in a subnet of the named interface.
    [[nodiscard]] static bool onSubnetOf(quint32 address, const QString& interfaceName,
                                         const QList<HostInterface>& interfaces);
    // For each address, those of the ports that accept a TCP connection within
    // waitMs. Each connection is closed without a byte sent; at most atOnce
    // are tried at a time. Blocks until all are known.
    [[nodiscard]] static QList<QList<int>> openPorts(const QList<quint32>& addresses, const QList<int>& ports,
                                                     int waitMs = kPortWaitMs, int atOnce = kPortsAtOnce);
    [[nodiscard]] static QString addressText(quint32 address);
};
