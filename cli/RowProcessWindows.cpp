#include "cli/RowProcess.h"

#include <windows.h>

namespace RowProcess {

namespace {
// Every row's process is in this job, which ends them all when the batch
// ends: its handle closes with the batch, however the batch ends.
HANDLE rowsJob() {
    static const HANDLE job = [] {
        const HANDLE j = ::CreateJobObjectW(nullptr, nullptr);
        if (j) {
            JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
            limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
            ::SetInformationJobObject(j, JobObjectExtendedLimitInformation, &limits, sizeof limits);
        }
        return j;
    }();
    return job;
}
} // namespace

void prepare(QProcess& process) {
    // A process group of its own, so that Ctrl-Break can be sent to the row
    // alone; the batch's own Ctrl-C reaches it anyway, through the console.
    process.setCreateProcessArgumentsModifier(
        [](QProcess::CreateProcessArguments* arguments) { arguments->flags |= CREATE_NEW_PROCESS_GROUP; });
}

void adopt(QProcess& process) {
    const HANDLE job = rowsJob();
    if (!job || process.processId() == 0)
        return;
    const HANDLE child =
        ::OpenProcess(PROCESS_SET_QUOTA | PROCESS_TERMINATE, FALSE, DWORD(process.processId()));
    if (child) {
        ::AssignProcessToJobObject(job, child);
        ::CloseHandle(child);
    }
}

void askToEnd(QProcess& process) {
    // A console program has no window to close: the interruption is its
    // console's Ctrl-Break, which netrika-cli takes as Ctrl-C.
    if (process.processId() != 0)
        ::GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, DWORD(process.processId()));
}

} // namespace RowProcess
