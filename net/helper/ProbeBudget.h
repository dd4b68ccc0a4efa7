#pragma once

// The probes of all helpers of the host together: at most kHostProbesPerSecond
// in any one second, so that a batch of many runs cannot flood a segment. The
// times of the last probes are kept in one small file of the runtime folder
// under a file lock; a probe is sent only when the oldest of them is a second
// old, and waits for that up to a limit.

#include <chrono>
#include <string>

namespace helper {

// Twenty: a batch's sixteen runs at once each probe about once a second while
// they wait for their adaptor, and keep that pace with room to spare.
inline constexpr int kHostProbesPerSecond = 20;

class ProbeBudget {
public:
    ProbeBudget() = default;
    ~ProbeBudget();
    ProbeBudget(const ProbeBudget&) = delete;
    ProbeBudget& operator=(const ProbeBudget&) = delete;

    // Takes one probe of the host's budget, waiting up to wait for it. False
    // when none came in time, or with why set when the budget cannot be read.
    bool take(std::chrono::milliseconds wait, std::string& why);

private:
    int m_fd = -1;
};

} // namespace helper
