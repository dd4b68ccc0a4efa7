#pragma once

#include "address/AdaptorTarget.h"

#include <QString>
#include <array>
#include <optional>

// One setup as the command line gives it: the target its options make
// through the window's own checks, the octets as the options gave them (plain
// decimal, for what is printed and passed on), and the answer to the "Test IP
// Address" question.
struct SetupRequest {
    AdaptorTarget target;
    std::array<QString, 6> mac;
    std::array<QString, 4> ip, mask, gateway;
    bool signTest = false;
    // An adaptor that already has an address: the address it has, as a
    // dotted quad in plain decimal; empty for the family's own route.
    QString currentIp;
    // What to do with an adaptor that already answers at ip with its own MAC
    // (asked by ARP before the run): AsWindow runs as the window does, whose
    // check then finds the address in use; Leave leaves it as it is; Apply
    // reaches it there and gives it the values again.
    enum class InPlace { AsWindow, Leave, Apply };
    InPlace inPlace = InPlace::AsWindow;
    // The sequencer's tick in milliseconds; 0 keeps the window's own. Tests
    // against the simulator shorten it.
    int tickMs = 0;

    // The MAC as six hexadecimal pairs joined by '-', ':' or nothing, and the
    // addresses as dotted quads of one to three digits an octet, 0 to 255, no
    // sign or other character ("010" is ten); then the window's checks of the
    // values together, which make the target. Nothing, with why ("--ip
    // +1.2.3.4: ...") and the value's name ("ip") where given, otherwise.
    [[nodiscard]] static std::optional<SetupRequest> from(const QString& mac, const QString& ip,
                                                          const QString& mask, const QString& gateway,
                                                          bool signTest, QString* why,
                                                          QString* field = nullptr);
    // Sets currentIp from a dotted quad held to the same rules as --ip;
    // false, with why ("--current-ip ...: ...") and the value's name
    // ("current_ip") where given, otherwise.
    [[nodiscard]] bool setCurrentIp(const QString& text, QString* why, QString* field = nullptr);

    // One dotted quad as its four entry fields would hold it, each octet at
    // most bound; false with why ("--ip 10.1.2.300: ...") otherwise.
    [[nodiscard]] static bool quadFields(const QString& option, const QString& text, int bound,
                                         std::array<QString, 4>& out, QString& why);
};
