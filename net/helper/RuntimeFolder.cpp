#include "net/helper/RuntimeFolder.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#ifdef NETRIKA_HELPER_TEST_HOOKS
#include <csignal>
#endif

namespace helper {

void layOutRuntimeFolderAsRoot() {
    if (::geteuid() != 0)
        return;
    // Without the group (no package installed), the folder is root's alone.
    const group* g = ::getgrnam("netrika");
    const gid_t members = g ? g->gr_gid : 0;
    // Sticky, so that no member removes or replaces another's file, and
    // setgid, so that what is made in it is the group's.
    if (::mkdir(kRuntimeFolder, 0700) == 0 &&
        (::chown(kRuntimeFolder, 0, members) != 0 || ::chmod(kRuntimeFolder, 03770) != 0))
        ::rmdir(kRuntimeFolder);
    const int folder = ::open(kRuntimeFolder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder < 0)
        return;
    for (const char* fixed : {"probes", "sweep"}) {
        const int fd = ::openat(folder, fixed, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0)
            continue; // there already
        if (::fchown(fd, 0, members) != 0 || ::fchmod(fd, 0660) != 0)
            ::unlinkat(folder, fixed, 0);
        ::close(fd);
    }
    ::close(folder);
}

bool ensureRuntimeFolder(std::string& why) {
    struct stat s {};
    if (::lstat(kRuntimeFolder, &s) == 0 && S_ISDIR(s.st_mode) && ::access(kRuntimeFolder, W_OK | X_OK) == 0)
        return true;
    why = std::string("the folder ") + kRuntimeFolder +
          " shared by the helpers of this host cannot be used (" + std::strerror(errno) +
          ")" + fixedFileAdvice();
    return false;
}

std::string fixedFileAdvice() {
    return "; the package lays the folder out at boot, or as root: systemd-tmpfiles --create netrika.conf";
}

const NetworkNamespace& thisNetworkNamespace() {
    static const NetworkNamespace own = [] {
        NetworkNamespace n;
        struct stat s {};
        if (::stat("/proc/self/ns/net", &s) == 0) {
            n.device = std::uint64_t(s.st_dev);
            n.inode = std::uint64_t(s.st_ino);
        }
        return n;
    }();
    return own;
}

bool readSmallFile(const std::string& path, std::size_t limit, std::string& content) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat s {};
    bool ok = ::fstat(fd, &s) == 0 && S_ISREG(s.st_mode) && std::size_t(s.st_size) <= limit;
    content.clear();
    char buffer[4096];
    while (ok) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || content.size() + std::size_t(n) > limit) {
            ok = n == 0;
            break;
        }
        content.append(buffer, std::size_t(n));
    }
    ::close(fd);
    return ok;
}

bool replaceFile(const std::string& path, const std::string& content) {
    const std::string fresh = path + ".new";
    ::unlink(fresh.c_str());
    // Written by its owner only; the other helpers read it.
    const int fd = ::open(fresh.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0640);
    if (fd < 0)
        return false;
    bool ok = ::write(fd, content.data(), content.size()) == ssize_t(content.size());
    ok = ::close(fd) == 0 && ok;
    if (ok && ::rename(fresh.c_str(), path.c_str()) == 0)
        return true;
    ::unlink(fresh.c_str());
    return false;
}

#ifdef NETRIKA_HELPER_TEST_HOOKS
void holdWhileFlagged(const char* name) {
    if (::access((std::string(kRuntimeFolder) + "/" + name).c_str(), F_OK) == 0)
        ::raise(SIGSTOP);
}
#endif

} // namespace helper
