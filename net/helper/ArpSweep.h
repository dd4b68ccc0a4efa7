#pragma once

// The arp-sweep request carried out: who has each host address of a range on
// one interface, asked twice at an even pace, with sender address 0.0.0.0.
// One sweep at a time in each network namespace (a lock on that namespace's
// byte of a file in the runtime folder), and at most kSweepFramesPerSecond
// frames a second (HelperProtocol.h).

#include "net/helper/HelperProtocol.h"

#include <functional>
#include <string>

namespace helper {

class ArpSweep {
public:
    // Writes one line to the front end; false once it has gone.
    using Say = std::function<bool(const std::string&)>;
    // True when the sweep must end now (a SIGTERM, the front end gone).
    using Stop = std::function<bool()>;

    // Says a "found ..." line for each address/MAC pair as it is first heard
    // and answers the end line: "ok swept N", or "refused ..." (nothing was
    // sent), or "failed ...".
    [[nodiscard]] static std::string run(const Request& r, const Say& say, const Stop& stop);

private:
    // Why the interface may not be swept, or empty; index and own MAC set when it may.
    [[nodiscard]] static std::string refusedInterface(const std::string& name, int& index, Mac& own);
};

} // namespace helper
