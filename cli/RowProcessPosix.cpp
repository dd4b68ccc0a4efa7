#include "cli/RowProcess.h"

#include "cli/CliRun.h"

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace RowProcess {

void prepare(QProcess& process) {
    const pid_t parent = ::getpid();
    process.setChildProcessModifier([parent] {
        // A batch that is killed outright still ends its runs as closing the
        // window does.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(CliRun::Interrupted);
    });
}

void adopt(QProcess&) {}

void askToEnd(QProcess& process) {
    process.terminate();
}

} // namespace RowProcess
