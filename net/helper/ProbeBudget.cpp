#include "net/helper/ProbeBudget.h"

#include "net/helper/RuntimeFolder.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <iterator>
#include <sys/file.h>
#include <unistd.h>

namespace helper {
namespace {

constexpr std::int64_t kSecond = 1000000000;
// How often a held lock on the budget is tried again.
constexpr std::int64_t kLockRetryNs = 5000000;

std::int64_t monotonicNow() {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return std::int64_t(t.tv_sec) * kSecond + t.tv_nsec;
}

// The newest send time of a slot; 0 when it holds none.
std::int64_t newest(const BudgetSlot& slot) {
    return *std::max_element(std::begin(slot.sent), std::end(slot.sent));
}

} // namespace

ProbeBudget::~ProbeBudget() {
    if (m_fd >= 0)
        ::close(m_fd);
}

bool ProbeBudget::take(std::chrono::milliseconds wait, std::string& why) {
    const NetworkNamespace& own = thisNetworkNamespace();
    if (!own.known()) {
        why = "the probe budget cannot be told apart from other networks': /proc/self/ns/net cannot be read";
        return false;
    }
    if (m_fd < 0) {
        if (!ensureRuntimeFolder(why))
            return false;
        const std::string path = std::string(kRuntimeFolder) + "/probes";
        // Root's fixed file, never made here (one a member's helper made would
        // be that member's), and opened without blocking: a member's lease
        // on it must not hold a probe past its deadline.
        m_fd = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
        if (m_fd < 0) {
            why = "the probe budget " + path + " cannot be opened: " + std::strerror(errno) + fixedFileAdvice();
            return false;
        }
    }
    const std::int64_t deadline = monotonicNow() + std::int64_t(wait.count()) * 1000000;
    for (;;) {
        // The slots of the network namespaces; a short or missing file reads
        // as slots that hold no probe, and what lies past the table is not read.
        std::array<BudgetSlot, kBudgetSlots> table{};
        // Any member of the group may hold the lock: it is tried, never waited
        // for, so that a probe ends by its deadline and a signal is heard.
        while (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK && errno != EINTR) {
                why = std::string("the probe budget cannot be locked: ") + std::strerror(errno);
                return false;
            }
            if (monotonicNow() + kLockRetryNs > deadline)
                return false;
            timespec t{0, long(kLockRetryNs)};
            ::nanosleep(&t, nullptr);
        }
        (void)!::pread(m_fd, table.data(), sizeof table, 0);
        const std::int64_t now = monotonicNow();
        // A time ahead of the clock or before its start (a file written by
        // mistake, or by a member to stop every probe) counts as long past.
        for (BudgetSlot& slot : table)
            for (std::int64_t& t : slot.sent)
                if (t > now || t < 0)
                    t = 0;
        // This namespace's slot, else a free one, taken for it.
        auto mine = std::find_if(table.begin(), table.end(), [&](const BudgetSlot& slot) {
            return slot.device == own.device && slot.inode == own.inode;
        });
        if (mine == table.end()) {
            mine = std::find_if(table.begin(), table.end(),
                                [&](const BudgetSlot& slot) { return now - newest(slot) >= kSecond; });
            if (mine != table.end()) {
                *mine = BudgetSlot{};
                mine->device = own.device;
                mine->inode = own.inode;
            }
        }
        bool free = false;
        std::int64_t ready = 0;
        if (mine != table.end()) {
            std::int64_t* oldest = std::min_element(std::begin(mine->sent), std::end(mine->sent));
            free = now - *oldest >= kSecond;
            ready = *oldest + kSecond;
            if (free) {
                *oldest = now;
                const off_t at = off_t(mine - table.begin()) * off_t(sizeof(BudgetSlot));
                if (::pwrite(m_fd, &*mine, sizeof(BudgetSlot), at) != ssize_t(sizeof(BudgetSlot)))
                    why = std::string("the probe budget cannot be written: ") + std::strerror(errno);
            }
        } else {
            // Every slot holds a probe of the last second (of other networks,
            // or forged by a member): refused unless one frees in time.
            ready = now + kSecond;
            for (const BudgetSlot& slot : table)
                ready = std::min(ready, newest(slot) + kSecond);
        }
        ::flock(m_fd, LOCK_UN);
        if (free)
            return why.empty();
        if (ready > deadline)
            return false;
        const std::int64_t pause = ready - now;
        timespec t{time_t(pause / kSecond), long(pause % kSecond)};
        ::nanosleep(&t, nullptr);
    }
}

} // namespace helper
