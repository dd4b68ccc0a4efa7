// netrika-net-helper: the only part of Netrika that holds network capabilities.
//
// A front end starts it with no arguments and no environment and speaks to it
// over standard input and output (HelperProtocol.h). Every request is checked
// before any packet or kernel request; a refusal is answered and written to
// standard error. When the front end goes away, the neighbour entries made
// here are removed and the helper exits; entries of a helper that could not
// (killed, crashed) are removed by the next one that starts (EntryRecords.h).
// It runs no other program and keeps a capability in force only while a
// request needs it.

#include "net/helper/ArpSweep.h"
#include "net/helper/Capabilities.h"
#include "net/helper/Helper.h"
#include "net/helper/HelperProtocol.h"
#include "net/helper/Rtnetlink.h"
#include "net/helper/RuntimeFolder.h"

#include <cerrno>
#include <csignal>
#include <linux/capability.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

using namespace helper;

namespace {

bool writeLine(const std::string& text) {
    const std::string line = text + "\n";
    for (std::size_t done = 0; done < line.size();) {
        const ssize_t n = ::write(1, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += std::size_t(n);
    }
    return true;
}

volatile std::sig_atomic_t terminated = 0;
void onTerminate(int) {
    terminated = 1;
}

// A session of its own, so that a terminal's Ctrl-C, Ctrl-\ and hang-up,
// sent to the front end's whole process group, never reach the helper: it
// removes its entries when its front end goes away, however that happens.
// SIGTERM (a session's end, a shutdown) is taken as the end of the requests.
// It is blocked but while waiting for a request, so a request under way is
// always answered first.
void ownSession(sigset_t& waiting) {
    ::setsid();
    for (int s : {SIGINT, SIGHUP, SIGQUIT, SIGPIPE})
        std::signal(s, SIG_IGN);
    struct sigaction term {};
    term.sa_handler = onTerminate;
    ::sigaction(SIGTERM, &term, nullptr);
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    ::sigprocmask(SIG_BLOCK, &blocked, &waiting);
    sigdelset(&waiting, SIGTERM);
}

// A sweep ends between two frames when a SIGTERM is waiting (it is blocked
// while a request is carried out) or when the front end has gone.
bool sweepMustStop() {
    sigset_t pending;
    if (::sigpending(&pending) == 0 && sigismember(&pending, SIGTERM))
        return true;
    pollfd input{0, POLLRDHUP, 0};
    return ::poll(&input, 1, 0) > 0 && (input.revents & (POLLHUP | POLLRDHUP | POLLERR | POLLNVAL));
}

} // namespace

int main(int argc, char**) {
    std::string why;
    layOutRuntimeFolderAsRoot();
    if (!dropAllButNetwork(why)) {
        Helper::log("start", "refused: " + why);
        return 1;
    }
    sigset_t waiting;
    ownSession(waiting);
    // Its files in the shared folder are for the group's other helpers too.
    ::umask(007);
    if (argc != 1) {
        Helper::log("arguments", "refused: this helper takes none; Netrika starts it itself");
        return 2;
    }
    // The probe budget and the sweep lock are this network namespace's share
    // of the folder's fixed files: its identity is read once, here.
    thisNetworkNamespace();
    Helper helper;
    helper.clearEnded();
    bool canEcho = permitted(CAP_NET_RAW);
    if (!canEcho) {
        Fd probe(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP));
        canEcho = probe.fd >= 0;
    }
    std::string greeting(kGreeting);
    greeting += canEcho ? " echo" : "";
    greeting += permitted(CAP_NET_RAW) ? " arp" : "";
    greeting += permitted(CAP_NET_ADMIN) ? " neigh" : "";
    greeting += permitted(CAP_NET_RAW) ? " sweep" : "";
    bool open = writeLine(greeting);

    std::string pending;
    bool discarding = false; // the rest of a line already refused as too long
    char buffer[512];
    while (open && !terminated) {
        pollfd input{0, POLLIN, 0};
        if (::ppoll(&input, 1, nullptr, &waiting) < 0)
            continue; // EINTR: SIGTERM, seen above
        const ssize_t n = ::read(0, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        pending.append(buffer, std::size_t(n));
        for (std::size_t end; open && (end = pending.find('\n')) != std::string::npos;) {
            const std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (std::exchange(discarding, false))
                continue;
            std::string why;
            const auto request = parseRequest(line, &why);
            std::string answer;
            if (request && request->kind == Request::ArpSweep) {
                answer = ArpSweep::run(*request, writeLine, sweepMustStop);
                if (answer.rfind("ok", 0) != 0)
                    Helper::log(formatRequest(*request), answer);
            } else {
                answer = request ? helper.handle(*request) : "refused " + why;
            }
            if (!request)
                Helper::log("request", answer);
            open = writeLine(answer);
        }
        if (pending.size() > kMaxLine) {
            pending.clear();
            if (!std::exchange(discarding, true)) {
                Helper::log("request", "refused request too long");
                open = writeLine("refused request too long");
            }
        }
    }
    helper.removeAll();
    return 0;
}
