#pragma once

// The folder all helpers of the host share (/run/netrika, made by the package
// at every boot, mode 3770 root:netrika, with its fixed files probes and
// sweep): the probe budget and the sweep lock of each network namespace, and
// a record of the neighbour entries each helper has made. Files in it are
// opened without following links and are read with a size limit, since every
// member of the group can write there; the folder is sticky, so none can
// remove or replace another's file.

#include <cstdint>
#include <string>

namespace helper {

#ifdef NETRIKA_RUNTIME_DIR
inline constexpr const char* kRuntimeFolder = NETRIKA_RUNTIME_DIR;
#else
inline constexpr const char* kRuntimeFolder = "/run/netrika";
#endif

// For a helper run by root, before it gives up its other capabilities: the
// folder and its fixed files, where missing, made as the package makes them,
// so that root's helper, the first on the host since boot, locks out no one.
void layOutRuntimeFolderAsRoot();
// True when the folder can be used; false with why set (naming the folder and
// the way to make it) otherwise.
bool ensureRuntimeFolder(std::string& why);
// How the folder and its fixed files are laid out again, the one way the
// package lays them out: for an error text, after the error itself.
std::string fixedFileAdvice();

// The network namespace this helper runs in, as the kernel names it: the
// device and inode of /proc/self/ns/net, read once (the helper never changes
// namespace). Both zero when it cannot be read.
struct NetworkNamespace {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    [[nodiscard]] bool known() const { return inode != 0; }
};
const NetworkNamespace& thisNetworkNamespace();

// A regular file's whole content, at most limit bytes; false when it cannot be read.
bool readSmallFile(const std::string& path, std::size_t limit, std::string& content);
// Replaces a file at once (a new file renamed over it), so a reader sees the
// old content or the new, never a part. The file is writable by its owner only.
bool replaceFile(const std::string& path, const std::string& content);

#ifdef NETRIKA_HELPER_TEST_HOOKS
// Test builds only: stops this helper (SIGSTOP) while the folder holds a file
// of that name, so that a test can change the host at that point and then let
// the helper go on (SIGCONT).
void holdWhileFlagged(const char* name);
#endif

} // namespace helper
