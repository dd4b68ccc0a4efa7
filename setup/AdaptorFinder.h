#pragma once

// Finding the adaptors on the cable: every front end asks through this port,
// the real search runs the network helper's ARP sweep and checks the setup
// ports, and tests give a finder that answers as told.

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// One answer of the sweep.
struct FoundAdaptor {
    QString mac;           // twelve lower-case hexadecimal digits
    int family = 0;        // 1 for 00-20-4a, 2 for 00-80-a3, 0 for any other maker (listed on request)
    QString address;       // the address it answers at, dotted
    QString interfaceName; // where it answered
    // On a subnet of this host, where its ports could be tried; only then is
    // openPorts meaningful.
    bool onHostSubnet = false;
    QList<int> openPorts; // of 9999, 23 and 3001, in that order
    bool operator==(const FoundAdaptor&) const = default;
};

struct ScanRequest {
    QString interfaceName; // empty: every Ethernet interface that is up
    QStringList ranges;    // "A.B.C.D/LEN"; empty: the subnets of those interfaces
    bool all = false;      // every answer, not only the two adaptor families
};

struct ScanEnd {
    QString error;     // empty when the search ran to its end
    QStringList swept; // "IF A.B.C.D/LEN", each range as asked
    bool cancelled = false;
};

class AdaptorFinder {
public:
    using Found = std::function<void(const FoundAdaptor&)>;
    using Done = std::function<void(const ScanEnd&)>;

    virtual ~AdaptorFinder() = default;
    // Starts a search. found is called for each adaptor once all it reports
    // is known, done once at the end; both on the caller's thread, from its
    // event loop, never from within start.
    virtual void start(const ScanRequest& request, Found found, Done done) = 0;
    // Ends a search under way soon; done is called with cancelled set. Nothing
    // happens for a search that has ended.
    virtual void cancel() = 0;

    // Each adaptor as soon as the sweep hears it, before its ports are tried
    // (found comes later), for a front end that shows finds as they come; on
    // the caller's thread. A finder may never call it.
    using Heard = std::function<void(const FoundAdaptor&)>;
    void onHeard(Heard heard) { m_heard = std::move(heard); }

protected:
    Heard m_heard;
};
