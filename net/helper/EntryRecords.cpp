#include "net/helper/EntryRecords.h"

#include "net/helper/Capabilities.h"
#include "net/helper/Rtnetlink.h"
#include "net/helper/RuntimeFolder.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <linux/neighbour.h>
#include <optional>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace helper {
namespace {

constexpr std::size_t kRecordLimit = 65536;
// More than the kernel's tick and its rounding of an entry's age.
constexpr std::int64_t kEntryAgeSlackMs = 20;

std::int64_t monotonicMs() {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return std::int64_t(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

std::string networkNamespace() {
    struct stat s {};
    return ::stat("/proc/self/ns/net", &s) == 0 ? std::to_string(s.st_ino) : std::string("unknown");
}

std::string folderPath(const std::string& name) {
    return std::string(kRuntimeFolder) + "/" + name;
}

// The entries a record lists, at most kHeldEntries; nothing when it cannot be read.
std::optional<std::vector<Entry>> readEntries(const std::string& base) {
    std::string text;
    const std::string path = base + ".entries";
    // A helper that ended before it listed anything leaves its lock alone.
    if (::access(path.c_str(), F_OK) != 0 && errno == ENOENT)
        return std::vector<Entry>{};
    if (!readSmallFile(path, kRecordLimit, text))
        return std::nullopt;
    std::vector<Entry> entries = entriesFrom(text);
    if (entries.size() > kHeldEntries)
        entries.resize(kHeldEntries);
    return entries;
}

} // namespace

std::string entriesText(const std::vector<Entry>& entries) {
    std::string text;
    for (const Entry& e : entries)
        text +=
            std::to_string(e.interface) + " " + formatRequest({Request::NeighAdd, e.address, e.mac}) + "\n";
    return text;
}

std::vector<Entry> entriesFrom(const std::string& text) {
    std::vector<Entry> entries;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        const std::size_t space = line.find(' ');
        if (space == 0 || space > 10 || space == std::string::npos)
            continue;
        const std::string number = line.substr(0, space);
        if (!std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        const long interface = std::stol(number);
        const auto request = parseRequest(std::string_view(line).substr(space + 1));
        if (interface > 0 && interface <= 0x7fffffff && request && request->kind == Request::NeighAdd)
            entries.push_back({request->address, int(interface), request->mac});
    }
    return entries;
}

EntryRecords::EntryRecords() = default;

EntryRecords::~EntryRecords() {
    if (m_lock < 0)
        return;
    if (m_empty) {
        ::unlink((m_base + ".entries").c_str());
        ::unlink((m_base + ".lock").c_str());
    }
    ::close(m_lock);
}

void EntryRecords::clearEnded(Netlink& nl, const std::function<void(const std::string&)>& log) {
    std::string why;
    if (!ensureRuntimeFolder(why))
        return;
    // The living helpers' claims are read once, below. A helper writes its
    // record before it makes an entry, so an entry a living helper made
    // before its record was read is claimed there; one made after was made
    // after this clean-up began, and is left alone for that (the kernel
    // keeps when each entry was last changed).
    const std::int64_t began = monotonicMs();
    const std::string prefix = networkNamespace() + ".";
    std::vector<std::pair<std::string, int>> ended; // base, its lock held
    std::set<Entry> claimed;
    std::size_t living = 0, names = 0;
    bool overfull = false;
    if (DIR* folder = ::opendir(kRuntimeFolder)) {
        while (const dirent* d = ::readdir(folder)) {
            if (++names > kReadFolderNames) {
                overfull = true;
                break;
            }
            const std::string name = d->d_name;
            const std::size_t dot = name.rfind(".lock");
            if (name.rfind(prefix, 0) != 0 || dot == std::string::npos || dot + 5 != name.size())
                continue;
            const std::string base = folderPath(name.substr(0, dot));
            const int fd = ::open((base + ".lock").c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
            struct stat s {};
            if (fd < 0 || ::fstat(fd, &s) != 0 || !S_ISREG(s.st_mode)) {
                if (fd >= 0)
                    ::close(fd);
                continue;
            }
            // A record is one helper's: its lock and its list have one owner.
            // Any other pairing is a member's forgery, and is not acted on.
            struct stat list {};
            const bool paired =
                ::lstat((base + ".entries").c_str(), &list) != 0 ? errno == ENOENT : list.st_uid == s.st_uid;
            if (!paired) {
                ::close(fd);
                continue;
            }
            if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
                // Past the limit, an ended record is left for a later clean-up.
                if (ended.size() < kReadRecords)
                    ended.emplace_back(base, fd);
                else
                    ::close(fd);
                continue;
            }
            if (++living <= kReadRecords)
                if (const auto entries = readEntries(base))
                    claimed.insert(entries->begin(), entries->end());
            ::close(fd);
        }
        ::closedir(folder);
    }
    // With more living records than are read, or more names in the folder,
    // what the others claim is not known: nothing is removed, so that no
    // living helper's entry goes.
    if (living > kReadRecords || overfull) {
        for (const auto& [base, fd] : ended)
            ::close(fd);
        if (overfull)
            log("the folder " + std::string(kRuntimeFolder) + " holds more than " +
                std::to_string(kReadFolderNames) + " files: what ended helpers left is not removed now");
        else if (!ended.empty())
            log(std::to_string(living) + " helpers of this network namespace hold records, more than the " +
                std::to_string(kReadRecords) + " read: what ended helpers left is not removed now");
        return;
    }
    // What could not be removed is said once, not once an entry: a record
    // forged by a member could otherwise fill the log at every start.
    std::size_t failed = 0;
    std::string firstFailure;
    const auto fail = [&](const Entry& e, int error) {
        if (failed++ == 0)
            firstFailure = formatRequest({Request::NeighDel, e.address, {}}) + " on " +
                           interfaceName(e.interface) + ": " + std::strerror(error);
    };
#ifdef NETRIKA_HELPER_TEST_HOOKS
    // A test makes an entry here, after the claims were read.
    holdWhileFlagged("hold-in-clean-up");
#endif
    std::set<int> gone; // interfaces found missing: not asked about again
    for (const auto& [base, fd] : ended) {
        const auto listed = readEntries(base);
        if (!listed) {
            ::close(fd); // not a record this helper can read: left as it is
            continue;
        }
        std::vector<Entry> left;
        for (const Entry& e : *listed) {
            if (claimed.count(e) != 0 || gone.count(e.interface) != 0)
                continue; // a living helper's now, or gone with its interface
            const Neighbour n = lookUp(nl, e.interface, e.address);
            // An interface that is gone took its entries with it.
            if (n.error == ENODEV) {
                gone.insert(e.interface);
                continue;
            }
            if (n.error != 0) {
                fail(e, n.error);
                left.push_back(e);
                continue;
            }
            if (!n.present || !n.marked() || !(n.state & NUD_PERMANENT) || n.mac != e.mac)
                continue; // gone, or another entry by now
            if (n.changedMsAgo < 0 || n.changedMsAgo <= monotonicMs() - began + kEntryAgeSlackMs) {
                left.push_back(e); // made since the claims were read: a living helper's, maybe;
                continue;          // a later clean-up looks again
            }
            Raised admin(CAP_NET_ADMIN);
            const int error = admin.ok() ? deleteEntry(nl, e.interface, e.address) : EPERM;
            if (error != 0 && error != ENOENT) {
                fail(e, error);
                left.push_back(e);
                continue;
            }
            log(formatRequest({Request::NeighDel, e.address, {}}) + " on " + interfaceName(e.interface) +
                ", left by a helper that has ended: ok removed");
        }
        if (left.empty()) {
            ::unlink((base + ".entries").c_str());
            ::unlink((base + ".lock").c_str());
        } else {
            replaceFile(base + ".entries", entriesText(left));
        }
        ::close(fd);
    }
    if (failed > 0)
        log(std::to_string(failed) +
            " entries left by helpers that have ended could not be removed (the first: " + firstFailure +
            "); the next helper tries again");
}

bool EntryRecords::keep(const std::vector<Entry>& entries, std::string& why) {
    if (entries.size() > kHeldEntries) {
        why = "this helper holds " + std::to_string(kHeldEntries) + " entries already";
        return false;
    }
    if (m_lock < 0) {
        if (!ensureRuntimeFolder(why))
            return false;
        timespec t{};
        ::clock_gettime(CLOCK_MONOTONIC, &t);
        const std::string name = networkNamespace() + "." + std::to_string(::getpid()) + "." +
                                 std::to_string(t.tv_sec) + std::to_string(t.tv_nsec);
        m_base = folderPath(name);
        // Locked before it bears the name a clean-up looks for, so that no
        // clean-up takes a helper just starting for one that has ended.
        const std::string fresh = folderPath("." + name + ".new");
        const int fd = ::open(fresh.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0640);
        if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0 ||
            ::rename(fresh.c_str(), (m_base + ".lock").c_str()) != 0) {
            why = "no record of the entry can be kept in " + std::string(kRuntimeFolder) + ": " +
                  std::strerror(errno);
            if (fd >= 0)
                ::close(fd);
            ::unlink(fresh.c_str());
            return false;
        }
        m_lock = fd;
    }
    if (!replaceFile(m_base + ".entries", entriesText(entries))) {
        why = "no record of the entry can be kept in " + std::string(kRuntimeFolder) + ": " +
              std::strerror(errno);
        return false;
    }
    m_empty = entries.empty();
    return true;
}

} // namespace helper
