// netrika-net-service: the only part of Netrika on Windows that runs with an
// administrator's rights, for the one thing that needs them, the neighbour
// entry of the ARP route. Installed as a service started on demand, it
// serves the front ends over the pipe \\.\pipe\netrika-net-helper, which
// only the local group Netrika, administrators and the system may open. It
// speaks the Linux helper's line protocol and keeps its rules (NetService.h).
//
//   netrika-net-service                  run by the service control manager
//   netrika-net-service --console [--table-in-memory]
//       in the foreground, for the user who starts it (and administrators)
//       only, until Ctrl-C or the end of its standard input; the tests' way.

#include "net/service/PipeServer.h"
#include "net/service/WindowsNeighbourHost.h"

#include <winsock2.h>

#include <aclapi.h>
#include <lm.h>
#include <sddl.h>
#include <shlobj.h>
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <filesystem>
#include <string>
#include <thread>

using namespace service;

namespace {

const wchar_t kServiceName[] = L"NetrikaNetService";
const wchar_t kGroupName[] = L"Netrika";

HANDLE stopEvent = nullptr;
SERVICE_STATUS_HANDLE statusHandle = nullptr;
bool console = false;

void writeLog(const std::string& line) {
    const std::string text = "netrika-net-service: " + line + "\n";
    if (console) {
        std::fputs(text.c_str(), stderr);
        std::fflush(stderr);
        return;
    }
    static const HANDLE source = ::RegisterEventSourceW(nullptr, L"Netrika");
    if (!source)
        return;
    const std::wstring wide(text.begin(), text.end());
    const wchar_t* strings[] = {wide.c_str()};
    ::ReportEventW(source, EVENTLOG_WARNING_TYPE, 0, 1, nullptr, 1, 0, strings, nullptr);
}

std::wstring sidText(PSID sid) {
    wchar_t* text = nullptr;
    if (!::ConvertSidToStringSidW(sid, &text))
        return {};
    std::wstring out(text);
    ::LocalFree(text);
    return out;
}

// The local group whose members may use the service, made if it is missing.
std::wstring groupSid(std::string& why) {
    for (int tries = 0; tries < 2; ++tries) {
        BYTE sid[SECURITY_MAX_SID_SIZE];
        DWORD sidSize = sizeof sid;
        wchar_t domain[256];
        DWORD domainSize = 256;
        SID_NAME_USE use{};
        if (::LookupAccountNameW(nullptr, kGroupName, sid, &sidSize, domain, &domainSize, &use)) {
            if (use == SidTypeAlias || use == SidTypeGroup)
                return sidText(sid);
            why = "the name Netrika belongs to an account that is not a local group";
            return {};
        }
        LOCALGROUP_INFO_1 group{const_cast<wchar_t*>(kGroupName),
                                const_cast<wchar_t*>(L"Who may set up message signs' adaptors with Netrika")};
        const NET_API_STATUS made = ::NetLocalGroupAdd(nullptr, 1, reinterpret_cast<BYTE*>(&group), nullptr);
        if (made != NERR_Success && made != ERROR_ALIAS_EXISTS && made != NERR_GroupExists) {
            why = "cannot make the local group Netrika: " + systemErrorText(made);
            return {};
        }
    }
    why = "the local group Netrika cannot be found";
    return {};
}

std::wstring currentUserSid(std::string& why) {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) {
        why = "cannot read this process's user: " + systemErrorText(::GetLastError());
        return {};
    }
    BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    std::wstring out;
    if (::GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size))
        out = sidText(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
    ::CloseHandle(token);
    if (out.empty())
        why = "cannot read this process's user: " + systemErrorText(::GetLastError());
    return out;
}

// The pipe's security: the system and administrators fully; the clients
// (the group, or in a console the user who started it) may read and write
// it, and not make instances of it, so that none can serve in its place.
bool pipeSecurity(const std::wstring& clients, SECURITY_ATTRIBUTES& sa, std::string& why) {
    // FILE_GENERIC_READ | FILE_WRITE_DATA: no FILE_CREATE_PIPE_INSTANCE.
    const std::wstring sddl = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x0012008b;;;" + clients + L")";
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &sd,
                                                                nullptr)) {
        why = "cannot describe the pipe's security: " + systemErrorText(::GetLastError());
        return false;
    }
    sa.nLength = sizeof sa;
    sa.lpSecurityDescriptor = sd;
    sa.bInheritHandle = FALSE;
    return true;
}

// The record of made entries: in a folder of the program data that only the
// system and administrators may change, made so if missing. An existing
// folder that others may have made is not trusted with it.
std::string recordsPath(std::string& why) {
    wchar_t* data = nullptr;
    if (::SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &data) != S_OK) {
        why = "cannot find the program data folder";
        return {};
    }
    const std::filesystem::path folder = std::filesystem::path(data) / L"Netrika";
    ::CoTaskMemFree(data);
    SECURITY_ATTRIBUTES sa{};
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"O:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)",
                                                               SDDL_REVISION_1, &sd, nullptr)) {
        sa.nLength = sizeof sa;
        sa.lpSecurityDescriptor = sd;
    }
    const bool made = ::CreateDirectoryW(folder.c_str(), sd ? &sa : nullptr) != 0;
    if (sd)
        ::LocalFree(sd);
    if (!made) {
        PSID owner = nullptr;
        PSECURITY_DESCRIPTOR found = nullptr;
        const DWORD read = ::GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION,
                                                   &owner, nullptr, nullptr, nullptr, &found);
        const bool trusted = read == ERROR_SUCCESS && owner &&
                             (::IsWellKnownSid(owner, WinLocalSystemSid) ||
                              ::IsWellKnownSid(owner, WinBuiltinAdministratorsSid));
        if (found)
            ::LocalFree(found);
        if (!trusted) {
            why = "the folder " + folder.string() +
                  " was not made by the system or an administrator: no record of made entries is kept";
            return {};
        }
    }
    return (folder / L"entries").string();
}

// Serves until stopped; the exit status.
int run(bool tableInMemory) {
    std::string why;
    const std::wstring clients = console ? currentUserSid(why) : groupSid(why);
    SECURITY_ATTRIBUTES security{};
    if (clients.empty() || !pipeSecurity(clients, security, why)) {
        writeLog("start: refused: " + why);
        return 1;
    }
    std::string records;
    if (!console) {
        records = recordsPath(why);
        if (records.empty())
            writeLog("start: " + why);
    }
    WindowsNeighbourHost host(tableInMemory);
    SteadyClock clock;
    NetService service(host, clock, records, writeLog);
    service.setAbilities(host.abilities());
    service.clearRecorded();
    if (console)
        writeLog("serving \\\\.\\pipe\\netrika-net-helper" +
                 std::string(tableInMemory ? ", the table in memory" : ""));
    const bool served = servePipe(service, security, stopEvent, why);
    ::LocalFree(security.lpSecurityDescriptor);
    if (!served) {
        writeLog("start: refused: " + why);
        return 1;
    }
    if (!records.empty()) {
        // Nothing is left to undo: no record, and no folder, stay behind.
        std::error_code ignored;
        if (service.madeEntries().empty() && std::filesystem::remove(records, ignored))
            std::filesystem::remove(std::filesystem::path(records).parent_path(), ignored);
    }
    return 0;
}

void report(DWORD state, DWORD exitCode = NO_ERROR) {
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    status.dwWin32ExitCode = exitCode == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
    status.dwServiceSpecificExitCode = exitCode;
    status.dwWaitHint = state == SERVICE_RUNNING || state == SERVICE_STOPPED ? 0 : 5000;
    ::SetServiceStatus(statusHandle, &status);
}

DWORD WINAPI control(DWORD code, DWORD, void*, void*) {
    if (code == SERVICE_CONTROL_STOP || code == SERVICE_CONTROL_SHUTDOWN) {
        report(SERVICE_STOP_PENDING);
        ::SetEvent(stopEvent);
    }
    return NO_ERROR;
}

void WINAPI serviceMain(DWORD, wchar_t**) {
    statusHandle = ::RegisterServiceCtrlHandlerExW(kServiceName, control, nullptr);
    if (!statusHandle)
        return;
    report(SERVICE_RUNNING);
    report(SERVICE_STOPPED, DWORD(run(false)));
}

BOOL WINAPI consoleControl(DWORD) {
    ::SetEvent(stopEvent);
    return TRUE;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    stopEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    bool tableInMemory = false;
    for (int i = 1; i < argc; ++i) {
        if (std::wcscmp(argv[i], L"--console") == 0)
            console = true;
        else if (std::wcscmp(argv[i], L"--table-in-memory") == 0)
            tableInMemory = true;
        else {
            std::fputs("usage: netrika-net-service [--console [--table-in-memory]]\n", stderr);
            return 2;
        }
    }
    if (tableInMemory && !console) {
        std::fputs("netrika-net-service: --table-in-memory is for --console only\n", stderr);
        return 2;
    }
    if (!console) {
        SERVICE_TABLE_ENTRYW table[] = {{const_cast<wchar_t*>(kServiceName), serviceMain},
                                        {nullptr, nullptr}};
        if (::StartServiceCtrlDispatcherW(table))
            return 0;
        std::fputs("netrika-net-service: the service control manager starts this program; "
                   "for the foreground use --console\n",
                   stderr);
        return 2;
    }
    ::SetConsoleCtrlHandler(consoleControl, TRUE);
    // The end of standard input stops it too: a test's process closes it.
    std::thread([] {
        char buffer[64];
        DWORD got = 0;
        const HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
        while (::ReadFile(in, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        }
        ::SetEvent(stopEvent);
    }).detach();
    return run(tableInMemory);
}
