#pragma once

// What the neighbour entries a helper made outlive: a record in the runtime
// folder, so that a helper that was killed or crashed leaves nothing behind
// for long.
//
// Each helper holds a lock file (<netns>.<pid>.<start>.lock) locked for its
// whole life, and beside it the list of the entries it made
// (<netns>.<pid>.<start>.entries), written before each entry is made and after
// each is removed. A lock that can be taken is that of a helper that has
// ended, however it ended: the kernel releases it with the process. A helper,
// as it starts, removes the entries listed by ended helpers of its own network
// namespace, but only while each is still the permanent entry with our mark
// and the listed MAC on the listed interface, and no living helper lists it.
// Entries without our mark, and those of living helpers, are never touched.

#include "net/helper/HelperProtocol.h"

#include <functional>
#include <string>
#include <vector>

namespace helper {

class Netlink;

struct Entry {
    std::uint32_t address = 0;
    int interface = 0;
    Mac mac{};
    auto operator<=>(const Entry&) const = default;
};

// What a record may hold and a clean-up of ended helpers reads, since any
// member of the group can write records: a helper holds at most kHeldEntries,
// and a clean-up reads at most kReadRecords records of ended helpers and as
// many of living ones, each up to kHeldEntries. With more living records than
// that, a clean-up removes nothing.
inline constexpr std::size_t kHeldEntries = 256;
inline constexpr std::size_t kReadRecords = 64;
// And a clean-up reads at most this many names of the folder, whatever it
// holds, so that a helper's start takes no longer for a folder a member has
// filled. With more there, a clean-up removes nothing either.
inline constexpr std::size_t kReadFolderNames = 1024;

class EntryRecords {
public:
    EntryRecords();
    // With every entry removed, the record goes; otherwise it stays, for the
    // next helper to try again.
    ~EntryRecords();
    EntryRecords(const EntryRecords&) = delete;
    EntryRecords& operator=(const EntryRecords&) = delete;

    // Removes what ended helpers of this network namespace left; what it could
    // not remove is said to log in one line.
    void clearEnded(Netlink& nl, const std::function<void(const std::string&)>& log);
    // Records this helper's entries; false with why set when it cannot (or
    // they are more than kHeldEntries), in which case no entry may be made.
    bool keep(const std::vector<Entry>& entries, std::string& why);

private:
    std::string m_base; // this helper's files, without .lock and .entries
    int m_lock = -1;
    bool m_empty = true;
};

// The record's text and back; lines that are not understood are left out.
std::string entriesText(const std::vector<Entry>& entries);
std::vector<Entry> entriesFrom(const std::string& text);

} // namespace helper
