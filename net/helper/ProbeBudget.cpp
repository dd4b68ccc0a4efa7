#include "net/helper/ProbeBudget.h"

#include "net/helper/RuntimeFolder.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <fcntl.h>
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

} // namespace

ProbeBudget::~ProbeBudget() {
    if (m_fd >= 0)
        ::close(m_fd);
}

bool ProbeBudget::take(std::chrono::milliseconds wait, std::string& why) {
    if (m_fd < 0) {
        if (!ensureRuntimeFolder(why))
            return false;
        const std::string path = std::string(kRuntimeFolder) + "/probes";
        m_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0660);
        if (m_fd < 0) {
            why = "the host's probe budget " + path + " cannot be opened: " + std::strerror(errno);
            return false;
        }
    }
    const std::int64_t deadline = monotonicNow() + std::int64_t(wait.count()) * 1000000;
    for (;;) {
        // The send times of the last probes; a short or missing file reads as long ago.
        std::array<std::int64_t, kHostProbesPerSecond> sent{};
        // Any member of the group may hold the lock: it is tried, never waited
        // for, so that a probe ends by its deadline and a signal is heard.
        while (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK && errno != EINTR) {
                why = std::string("the host's probe budget cannot be locked: ") + std::strerror(errno);
                return false;
            }
            if (monotonicNow() + kLockRetryNs > deadline)
                return false;
            timespec t{0, long(kLockRetryNs)};
            ::nanosleep(&t, nullptr);
        }
        (void)!::pread(m_fd, sent.data(), sizeof sent, 0);
        const std::int64_t now = monotonicNow();
        // A time ahead of the clock (a file written by mistake, or by a member
        // to stop every probe) counts as long past.
        for (std::int64_t& t : sent)
            if (t > now)
                t = 0;
        auto oldest = std::min_element(sent.begin(), sent.end());
        const std::int64_t since = *oldest;
        const bool free = now - since >= kSecond;
        if (free) {
            *oldest = now;
            if (::pwrite(m_fd, sent.data(), sizeof sent, 0) != ssize_t(sizeof sent))
                why = std::string("the host's probe budget cannot be written: ") + std::strerror(errno);
        }
        ::flock(m_fd, LOCK_UN);
        if (free)
            return why.empty();
        const std::int64_t ready = since + kSecond;
        if (ready > deadline)
            return false;
        const std::int64_t pause = ready - now;
        timespec t{time_t(pause / kSecond), long(pause % kSecond)};
        ::nanosleep(&t, nullptr);
    }
}

} // namespace helper
