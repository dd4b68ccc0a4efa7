#pragma once

#include "net/HostCommand.h"

#include <QString>
#include <QtGlobal>
#include <array>
#include <optional>

class NetHelper;

// Carries out the ARP route's two command lines, "arp -s <ip> <mac>" and
// "arp -d <ip>", on the host's neighbour table through the network helper: no
// shell and no external tool ever sees the text. The helper makes the static
// entry on the interface that reaches the address directly, so the probes that
// follow reach the adaptor by its MAC before it has an address of its own, and
// removes only entries that it made itself.
//
// A line that is not exactly one of the two forms is refused with
// RunTimeError(CommandNotStarted). Anything that goes wrong once the line is
// understood (no route, an address behind a gateway or in use, a missing
// helper or capability, a kernel error) is written to standard error and
// otherwise goes unnoticed: the adaptor then stays silent and the probe cycle
// reports the failure.
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

    explicit NeighbourCommand(NetHelper& helper)
        : m_helper(helper) {}

    // Returns as soon as the helper has answered: at once for a removal, after
    // its 500 ms ARP check for a new entry. The window style is ignored:
    // nothing here opens a window.
    void launch(const QString& commandLine, int windowStyle) override;

private:
    NetHelper& m_helper;
};
