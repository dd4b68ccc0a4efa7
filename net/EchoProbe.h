#pragma once

#include "base/RunTypes.h"

#include <QByteArray>
#include <QString>

// What an echo probe leaves behind; only the status is read by the sequencer.
struct EchoReply {
    quint32 address = 0; // who answered, host byte order
    Long status = 0;     // 0 for an echo reply from the target
    Long roundTripMs = 0;
    QByteArray data;
};

// Who answers ARP for an address: the identity of the device that holds it.
struct ArpOwner {
    enum Outcome {
        Answered,   // mac holds the answer
        Silent,     // nobody answered
        OffSegment, // the address is on no segment of this host: it cannot be asked
        NotAsked,   // it could not be asked; reason says why
    };
    Outcome outcome = NotAsked;
    QString mac;    // twelve lower-case hexadecimal digits
    QString reason; // why it was not asked
};

// What one probe found out about an address: an answer, a real silence (no
// reply in time, or the network said the address cannot be reached), or
// nothing, because it was never asked (the helper refused it, the helper is
// gone, the request could not be sent). Nothing is never silence.
enum class ProbeVerdict { Answered, Silent, NotAsked };

// The statuses ping and arpProbe answer.
namespace ProbeStatus {
inline constexpr Long Answered = 0;
inline constexpr Long NotConverted = -1; // the all-ones address: never a target
inline constexpr Long TimedOut = 1;      // no reply within the wait
inline constexpr Long Unreachable = 2;   // the network said the target cannot be reached
inline constexpr Long SendFailed = 3;    // the request could not be sent, or was refused
inline constexpr Long NoArpHere = 4;     // arpProbe only: this host cannot ask; the echo's verdict stands
} // namespace ProbeStatus

[[nodiscard]] inline ProbeVerdict verdictOf(Long status) {
    switch (status) {
    case ProbeStatus::Answered:
        return ProbeVerdict::Answered;
    case ProbeStatus::TimedOut:
    case ProbeStatus::Unreachable:
        return ProbeVerdict::Silent;
    default:
        return ProbeVerdict::NotAsked;
    }
}

// One ICMP echo request to an address with a 500 ms wait, and the start and stop
// of the socket library around it.
class EchoProbe {
public:
    virtual ~EchoProbe() = default;
    // False when no probe can be made on this host.
    virtual bool start() = 0;
    // 0 when the address (host byte order) answered; -1 for the all-ones
    // address, never a target; otherwise the status of the failed request.
    virtual Long ping(quint32 address, const QString& data, EchoReply& reply) = 0;
    // False when the library did not stop cleanly.
    virtual bool stop() = 0;
    // Asks the link who has the address, without claiming it: 0 when a host
    // answered, otherwise as ping; NoArpHere where this host cannot ask.
    virtual Long arpProbe(quint32 address) {
        Q_UNUSED(address)
        return ProbeStatus::NoArpHere;
    }
    // Asks the link who has the address, as arpProbe does, and answers who
    // did. A host without this cannot ask.
    virtual ArpOwner whoHas(quint32 address) {
        Q_UNUSED(address)
        return {ArpOwner::NotAsked, {}, QStringLiteral("this host cannot send ARP requests")};
    }
};
