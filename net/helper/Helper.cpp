#include "net/helper/Helper.h"

#include "net/helper/Capabilities.h"
#include "net/helper/Probes.h"
#include "net/helper/Rtnetlink.h"
#include "net/helper/RuntimeFolder.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <linux/capability.h>
#include <linux/neighbour.h>
#include <unistd.h>

namespace helper {
namespace {

using Clock = std::chrono::steady_clock;
// Probes (echo, ARP, and the ARP check before a binding) a second, per helper.
constexpr double kProbesPerSecond = 4;
// How long a probe waits for its network's budget before it is refused.
constexpr std::chrono::milliseconds kBudgetWait{1000};
const std::string kNoAdmin =
    "failed changing the neighbour table needs CAP_NET_ADMIN, which this helper lacks";

std::string refusal(const Request& r, const std::string& why) {
    return "refused " + addressText(r.address) + " is " + why;
}

std::string failure(const char* what, int error) {
    return std::string("failed ") + what + std::strerror(error);
}

} // namespace

void Helper::log(const std::string& request, const std::string& answer) {
    const std::string line = "netrika-net-helper: " + request + ": " + answer + "\n";
    (void)!::write(2, line.data(), line.size());
}

void Helper::clearEnded() {
    Netlink nl;
    if (nl.open())
        m_records.clearEnded(nl, [](const std::string& line) { log("start", line); });
}

std::string Helper::handle(const Request& r) {
    std::string answer = carryOut(r);
    if (answer.rfind("ok", 0) != 0)
        log(formatRequest(r), answer);
    return answer;
}

std::string Helper::carryOut(const Request& r) {
    // A sweep answers line by line (ArpSweep), never through here.
    if (r.kind == Request::ArpSweep)
        return "refused a sweep is not a one-answer request";
    if (const auto why = refusedAddress(r.address); !why.empty())
        return refusal(r, std::string(why));
    if (r.kind == Request::NeighDel)
        return remove(r);
    if (r.kind == Request::NeighAdd)
        if (const auto why = refusedMac(r.mac); !why.empty())
            return refusal(r, std::string(why));
    Netlink nl;
    if (!nl.open())
        return failure("no route netlink socket: ", errno);
    std::string why;
    const int interface = directInterface(nl, r.address, why);
    if (interface == 0)
        return refusal(r, why);
    if (r.kind == Request::NeighAdd)
        return add(nl, interface, r);
    if (const std::string no = takeProbe(r); !no.empty())
        return no;
    return r.kind == Request::Echo ? echo(r.address, ++m_sequence) : arpProbe(interface, r.address);
}

std::string Helper::add(Netlink& nl, int interface, const Request& r) {
    const auto mine = [&] {
        return std::find_if(m_made.begin(), m_made.end(), [&](const Entry& e) {
            return e.address == r.address && e.interface == interface;
        });
    };
    // What may be replaced: nothing, an entry the kernel made for an address it
    // could not resolve, or our own; never a reachable, permanent or foreign one.
    const auto refusedEntry = [&](const Neighbour& n) -> std::string {
        if (n.error != 0)
            return failure("the neighbour table cannot be read: ", n.error);
        if (n.present && n.foreign())
            return refusal(r, "bound already by an entry that this helper did not make");
        if (!n.present || n.unresolved())
            return {};
        const auto m = mine();
        if (m != m_made.end() && n.marked() && (n.state & NUD_PERMANENT) && n.mac == m->mac)
            return {};
        if (n.state & (NUD_PERMANENT | NUD_NOARP))
            return refusal(r, n.marked() ? "bound already by another netrika helper"
                                         : "bound already by an entry that this helper did not make");
        return refusal(r, "in use: the host has a reachable entry for it");
    };
    if (std::string no = refusedEntry(lookUp(nl, interface, r.address)); !no.empty())
        return no;
    if (const std::string no = takeProbe(r); !no.empty())
        return no;
    const std::string owner = arpProbe(interface, r.address);
    if (owner.rfind("ok answered", 0) == 0)
        return refusal(r, "in use: " + owner.substr(12) + " answers ARP for it");
    if (owner != "ok silent")
        return owner;
#ifdef NETRIKA_HELPER_TEST_HOOKS
    // A test changes the table here, between the check and the add.
    holdWhileFlagged("hold-before-add");
#endif
    // Again, just before the change: the table may have changed meanwhile.
    const Neighbour now = lookUp(nl, interface, r.address);
    if (std::string no = refusedEntry(now); !no.empty())
        return no;
    Raised admin(CAP_NET_ADMIN);
    if (!admin.ok())
        return kNoAdmin;
    std::vector<Entry> made = m_made;
    const auto m = mine();
    if (m != m_made.end())
        made[std::size_t(m - m_made.begin())].mac = r.mac;
    else
        made.push_back({r.address, interface, r.mac});
    std::string why;
    if (!m_records.keep(made, why))
        return "failed " + why;
    // Created only where nothing is; replaced only where the check above found
    // an entry it allows, and failing if that has gone meanwhile.
    const int error = addEntry(nl, interface, r.address, r.mac, now.present);
    if (error == EEXIST) {
        m_records.keep(m_made, why);
        return refusal(r, "bound already by an entry made meanwhile");
    }
    if (error != 0) {
        m_records.keep(m_made, why);
        return failure("", error);
    }
    m_made = std::move(made);
    return "ok added " + interfaceName(interface);
}

std::string Helper::remove(const Request& r) {
    // Every entry made for the address, on whichever interface it was reached.
    std::string answer;
    for (std::size_t i = m_made.size(); i-- > 0;) {
        if (m_made[i].address != r.address)
            continue;
        const std::string one = removeOne(i);
        if (one.rfind("ok", 0) != 0 || answer.empty() || answer == "ok absent")
            answer = answer.rfind("failed", 0) == 0 ? answer : one;
    }
    return answer.empty() ? refusal(r, "bound by no entry that this helper made") : answer;
}

// A failure keeps the entry's record, to be tried again at exit and, if that
// fails too, by the next helper that starts.
std::string Helper::removeOne(std::size_t index) {
    const Entry made = m_made[index];
    Netlink nl;
    if (!nl.open())
        return failure("no route netlink socket: ", errno);
    const Neighbour n = lookUp(nl, made.interface, made.address);
    if (n.error != 0)
        return failure("the neighbour table cannot be read: ", n.error);
    std::string answer = "ok absent";
    // Only while it is still the entry made here, not one put there since.
    if (n.present && n.marked() && (n.state & NUD_PERMANENT) && n.mac == made.mac) {
        Raised admin(CAP_NET_ADMIN);
        if (!admin.ok())
            return kNoAdmin;
        const int error = deleteEntry(nl, made.interface, made.address);
        if (error != 0 && error != ENOENT)
            return failure("", error);
        answer = error == 0 ? "ok removed" : "ok absent";
    }
    m_made.erase(m_made.begin() + std::ptrdiff_t(index));
    std::string why;
    m_records.keep(m_made, why);
    return answer;
}

void Helper::removeAll() {
    for (std::size_t i = m_made.size(); i-- > 0;) {
        const Request r{Request::NeighDel, m_made[i].address, {}};
        const std::string answer = removeOne(i);
        if (answer.rfind("ok", 0) != 0)
            log(formatRequest(r), answer);
    }
}

// This helper's pace is a token bucket: a short burst, then kProbesPerSecond.
// The budget is shared with every other helper of the network namespace.
std::string Helper::takeProbe(const Request& r) {
    const auto now = Clock::now();
    m_tokens = std::min(kProbesPerSecond,
                        m_tokens + kProbesPerSecond * std::chrono::duration<double>(now - m_filled).count());
    m_filled = now;
    if (m_tokens < 1)
        return refusal(r, "too many probes: at most 4 a second");
    m_tokens -= 1;
    std::string why;
    if (m_budget.take(kBudgetWait, why))
        return {};
    if (!why.empty())
        return "failed " + why;
    return refusal(r, "too many probes on this host: at most " + std::to_string(kHostProbesPerSecond) +
                          " a second for all of its runs together");
}

} // namespace helper
