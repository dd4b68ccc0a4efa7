#include "net/helper/Capabilities.h"

#include <cerrno>
#include <cstring>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace helper {
namespace {

struct Caps {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
    bool get() { return ::syscall(SYS_capget, &header, data) == 0; }
    bool set() { return ::syscall(SYS_capset, &header, data) == 0; }
};

constexpr std::uint32_t kNetwork = CAP_TO_MASK(CAP_NET_RAW) | CAP_TO_MASK(CAP_NET_ADMIN);
static_assert(CAP_TO_INDEX(CAP_NET_RAW) == 0 && CAP_TO_INDEX(CAP_NET_ADMIN) == 0);

bool failed(std::string& why, const char* what) {
    why = std::string(what) + ": " + std::strerror(errno);
    return false;
}

} // namespace

bool dropAllButNetwork(std::string& why) {
    // Not dumpable: no core file with a request's data, and no ptrace or
    // /proc access by the user who started it, while capabilities are held.
    if (::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) != 0)
        return failed(why, "cannot make the helper undumpable");
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return failed(why, "cannot forbid new privileges");
    if (::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) != 0 && errno != EINVAL)
        return failed(why, "cannot clear the ambient capabilities");
    Caps c;
    if (!c.get())
        return failed(why, "cannot read the capabilities");
    // Started by root: the bounding set goes down to the two as well, while
    // CAP_SETPCAP, which that needs, is still in force. A member's helper
    // never holds more than the two, and gains nothing at an exec it never
    // makes (no new privileges).
    if (c.data[CAP_TO_INDEX(CAP_SETPCAP)].effective & CAP_TO_MASK(CAP_SETPCAP)) {
        for (int cap = 0; ::prctl(PR_CAPBSET_READ, cap, 0, 0, 0) >= 0; ++cap)
            if (cap != CAP_NET_RAW && cap != CAP_NET_ADMIN && ::prctl(PR_CAPBSET_DROP, cap, 0, 0, 0) != 0)
                return failed(why, "cannot narrow the bounding set");
    }
    Caps kept;
    kept.data[0].permitted = c.data[0].permitted & kNetwork;
    if (!kept.set())
        return failed(why, "cannot drop the capabilities");
    // What the kernel holds now, not what was asked for.
    Caps now;
    if (!now.get())
        return failed(why, "cannot read the capabilities");
    if (now.data[0].effective != 0 || now.data[0].inheritable != 0 || now.data[1].permitted != 0 ||
        now.data[1].effective != 0 || now.data[1].inheritable != 0 || (now.data[0].permitted & ~kNetwork) != 0) {
        why = "capabilities other than CAP_NET_RAW and CAP_NET_ADMIN are still held";
        return false;
    }
    return true;
}

bool permitted(int capability) {
    Caps c;
    return c.get() && (c.data[CAP_TO_INDEX(capability)].permitted & CAP_TO_MASK(capability));
}

Raised::Raised(int capability)
    : m_capability(capability) {
    m_ok = change(true);
}

Raised::~Raised() {
    if (m_ok)
        change(false);
}

bool Raised::change(bool on) {
    Caps c;
    const auto index = CAP_TO_INDEX(m_capability);
    const auto mask = CAP_TO_MASK(m_capability);
    if (!c.get() || !(c.data[index].permitted & mask))
        return false;
    if (on)
        c.data[index].effective |= mask;
    else
        c.data[index].effective &= ~mask;
    return c.set();
}

} // namespace helper
