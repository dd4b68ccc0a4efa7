#pragma once

#include "net/HostCommand.h"

#include <QString>
#include <QtGlobal>
#include <array>
#include <optional>

// Carries out the ARP route's two command lines, "arp -s <ip> <mac>" and
// "arp -d <ip>", directly on the host's neighbour table over rtnetlink: no
// shell and no external tool ever sees the text. The static entry is made on
// the interface that routes to the address, so the probes that follow reach
// the adaptor by its MAC before it has an address of its own.
//
// A line that is not exactly one of the two forms is refused with
// RunTimeError(CommandNotStarted). Anything that goes wrong once the line is
// understood (no route, an address behind a gateway, a missing CAP_NET_ADMIN,
// a kernel error) is written to standard error and otherwise goes unnoticed:
// the adaptor then stays silent and the probe cycle reports the failure.
class NeighbourCommand : public HostCommand {
public:
    struct ArpRequest {
        enum Kind { Set, Delete };
        Kind kind = Set;
        // In host byte order: 10.77.78.50 is 0x0a4d4e32.
        quint32 address = 0;
        // Only meaningful for Set.
        std::array<quint8, 6> mac{};
        bool operator==(const ArpRequest&) const = default;
    };

    // Reads a command line as data. Accepted: "arp -s " + dotted decimal IPv4
    // (four octets of one to three ASCII digits, 0-255) + " " + a MAC of six
    // hexadecimal pairs joined all by "-" or all by ":", in either case; and
    // "arp -d " + the address. Single spaces, nothing before or after. On
    // refusal, why (when given) says what was wrong.
    [[nodiscard]] static std::optional<ArpRequest> parse(const QString& commandLine, QString* why = nullptr);

    // Returns as soon as the kernel has answered (at most about a second).
    // The window style is ignored: nothing here opens a window.
    void launch(const QString& commandLine, int windowStyle) override;
};
