#pragma once

#include "net/EchoProbe.h"

#include <QString>
#include <optional>

class NetHelper;

// The client of the network helper's probes: the echo and ARP probes are
// sent by the helper, since the window itself holds no capability to open an
// ICMP or packet socket.
class HelperProbe : public EchoProbe {
public:
    // Statuses of a request that got no echo reply from the target.
    enum Status : Long {
        Answered = ProbeStatus::Answered,
        NotConverted = ProbeStatus::NotConverted,
        TimedOut = ProbeStatus::TimedOut,
        Unreachable = ProbeStatus::Unreachable,
        SendFailed = ProbeStatus::SendFailed,
        NoArpHere = ProbeStatus::NoArpHere,
    };
    static constexpr int kTimeoutMs = 500;
    // The only data the helper sends.
    static constexpr const char* kData = "Echo This";

    explicit HelperProbe(NetHelper& helper)
        : m_helper(helper) {}

    // False, with the reason on standard error, when the helper cannot be
    // started or cannot send echo requests.
    bool start() override;
    Long ping(quint32 address, const QString& data, EchoReply& reply) override;
    bool stop() override { return true; }
    // Through the helper; where it cannot send ARP probes, the pre-check is
    // echo-only and standard error says so once.
    Long arpProbe(quint32 address) override;
    // Through the helper's ARP probe, which names the MAC that answered.
    ArpOwner whoHas(quint32 address) override;
    // The helper's answer to an ARP probe, read as whoHas answers.
    [[nodiscard]] static ArpOwner ownerFrom(const QString& answer);

private:
    NetHelper& m_helper;
    bool m_warned = false;
    bool m_warnedArp = false;
};
