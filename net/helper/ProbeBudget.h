#pragma once

// The probes of all helpers of one network namespace together: at most
// kHostProbesPerSecond in any one second, so that a batch of many runs cannot
// flood a segment. The budget belongs to the wire, so helpers in another
// network namespace (a container, another test run's namespaces) have one of
// their own and neither wait for nor refuse each other's probes.
//
// All the budgets are kept in one small file of the runtime folder, root's,
// under a file lock: a table of kBudgetSlots slots, each holding a network
// namespace's identity and the send times of its last probes. A helper uses
// its namespace's slot, or takes a free one: one whose newest time is a
// second old, or that holds none. A probe is sent only when the oldest time
// of its slot is a second old, and waits for that up to a limit.

#include <chrono>
#include <cstdint>
#include <string>

namespace helper {

// Twenty: a batch's sixteen runs at once each probe about once a second while
// they wait for their adaptor, and keep that pace with room to spare.
inline constexpr int kHostProbesPerSecond = 20;
// How many network namespaces may probe within the same second; the file
// never grows past this many slots.
inline constexpr int kBudgetSlots = 64;

// One slot of the file, as it lies there (host byte order). The times come
// first, so that a file of the earlier layout (the host's last 20 send times
// alone) reads as a first slot that belongs to no namespace.
struct BudgetSlot {
    std::int64_t sent[kHostProbesPerSecond]; // CLOCK_MONOTONIC, ns; 0 for none
    std::uint64_t device;                    // of /proc/self/ns/net
    std::uint64_t inode;
};
static_assert(sizeof(BudgetSlot) == 8 * (kHostProbesPerSecond + 2), "a slot has no padding");

class ProbeBudget {
public:
    ProbeBudget() = default;
    ~ProbeBudget();
    ProbeBudget(const ProbeBudget&) = delete;
    ProbeBudget& operator=(const ProbeBudget&) = delete;

    // Takes one probe of this network namespace's budget, waiting up to wait
    // for it. False when none came in time, or with why set when the budget
    // cannot be read.
    bool take(std::chrono::milliseconds wait, std::string& why);

private:
    int m_fd = -1;
};

} // namespace helper
