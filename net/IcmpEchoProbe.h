#pragma once

#include "net/EchoProbe.h"

#include <QString>
#include <optional>

// The echo probe over an ICMP socket of the host: an unprivileged datagram
// ICMP socket where the host allows it (net.ipv4.ping_group_range), else a raw
// one, which needs CAP_NET_RAW.
class IcmpEchoProbe : public EchoProbe {
public:
    // Statuses of a request that got no echo reply from the target.
    enum Status : Long {
        Answered = 0,
        NotConverted = -1,
        TimedOut = 1,    // no echo reply within the wait
        Unreachable = 2, // the network said the target cannot be reached
        SendFailed = 3,  // the request could not be sent at all
    };
    static constexpr int kTimeoutMs = 500;

    // False, with the reason on standard error, when no ICMP socket can be opened.
    bool SocketsInitialize() override;
    Long Ping(const QString& address, const QString& data, EchoReply& reply) override;
    bool SocketsCleanup() override { return true; }

    // The address in host byte order as the classic numbers-and-dots reading
    // gives it (octal for a leading zero, hex for 0x, short forms); nothing for
    // a text it refuses, including 255.255.255.255.
    [[nodiscard]] static std::optional<quint32> convert(const QString& address);

private:
    [[nodiscard]] static int openSocket(bool& datagram, int& error);
    quint16 m_sequence = 0;
};
