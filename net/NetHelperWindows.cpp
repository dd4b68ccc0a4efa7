#include "net/NetHelper.h"

#include "net/NetLog.h"

#include <windows.h>

#include <utility>

// On Windows the helper is the network service that the installer sets up:
// it runs with the rights a neighbour entry needs, and each front end talks
// to it over a connection of its own to one named pipe, which only the local
// group Netrika (and administrators) may open. Closing the connection is what
// closing the socket pair is elsewhere: the service undoes what it did for
// it. The program named here is the pipe.

struct NetHelper::PipeRead {
    OVERLAPPED overlapped{};
    HANDLE event = nullptr;
    char buffer[512] = {};
    bool pending = false;

    PipeRead() { event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr); }
    ~PipeRead() {
        if (event)
            ::CloseHandle(event);
    }
    PipeRead(const PipeRead&) = delete;
    PipeRead& operator=(const PipeRead&) = delete;
};

namespace {
HANDLE pipeOf(qintptr channel) {
    return reinterpret_cast<HANDLE>(channel);
}
} // namespace

NetHelper::NetHelper(QString program)
    : m_program(std::move(program)) {}

NetHelper::~NetHelper() {
    stop();
}

QString NetHelper::defaultProgram() {
    return QStringLiteral("\\\\.\\pipe\\netrika-net-helper");
}

QString NetHelper::capabilityAdvice() const {
    return QStringLiteral("The network service of Netrika does that: install Netrika again, as an "
                          "administrator, to set it up.");
}

const bool NetHelper::kHelperSaysRefusals = false;

QString NetHelper::lacking(const QString& ability) const {
    // The service sweeps no range: the Linux helper's sweep sends raw frames.
    if (ability == QLatin1String("sweep"))
        return QStringLiteral("the network service of Netrika does not scan ranges on Windows; give each "
                              "adaptor's MAC and address instead");
    return capabilityAdvice();
}

bool NetHelper::openChannel() {
    const std::wstring name = m_program.toStdWString();
    HANDLE pipe = INVALID_HANDLE_VALUE;
    for (int tries = 0; tries < 2 && pipe == INVALID_HANDLE_VALUE; ++tries) {
        // Identification only: the service may learn who asks, never act as
        // them. Writing asks for FILE_WRITE_DATA alone: the pipe gives its
        // clients nothing more (GENERIC_WRITE would ask to make instances too).
        pipe = ::CreateFileW(name.c_str(), GENERIC_READ | FILE_WRITE_DATA, 0, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
        if (pipe == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_PIPE_BUSY)
            ::WaitNamedPipeW(name.c_str(), kAnswerTimeMs);
        else
            break;
    }
    if (pipe == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_ACCESS_DENIED)
            warnOnce(QStringLiteral("cannot reach the network service of Netrika (%1): only members of the "
                                    "local group \"%2\" may use it. An administrator adds you with: net "
                                    "localgroup %2 \"%3\" /add; then sign out and in again.")
                         .arg(m_program, QLatin1String(kGroup),
                              qEnvironmentVariable("USERNAME", QStringLiteral("<your user name>"))));
        else if (error == ERROR_FILE_NOT_FOUND)
            warnOnce(QStringLiteral("the network service of Netrika is not running (%1). Echo probes and "
                                    "neighbour entries go through it: start it, or install Netrika again.")
                         .arg(m_program));
        else
            warnOnce(QStringLiteral("cannot reach the network service of Netrika (%1): %2")
                         .arg(m_program, qt_error_string(int(error))));
        return false;
    }
    m_read = std::make_unique<PipeRead>();
    if (!m_read->event) {
        ::CloseHandle(pipe);
        m_read.reset();
        return false;
    }
    ULONG server = 0;
    m_pid = ::GetNamedPipeServerProcessId(pipe, &server) ? qint64(server) : -1;
    m_channel = reinterpret_cast<qintptr>(pipe);
    return true;
}

NetHelper::Waited NetHelper::waitReadable(int timeoutMs) {
    PipeRead& r = *m_read;
    if (!r.pending) {
        r.overlapped = OVERLAPPED{};
        r.overlapped.hEvent = r.event;
        ::ResetEvent(r.event);
        if (!::ReadFile(pipeOf(m_channel), r.buffer, sizeof r.buffer, nullptr, &r.overlapped)) {
            const DWORD error = ::GetLastError();
            if (error != ERROR_IO_PENDING && error != ERROR_MORE_DATA)
                return Waited::Failed;
        }
        r.pending = true;
    }
    switch (::WaitForSingleObject(r.event, DWORD(qMax(timeoutMs, 0)))) {
    case WAIT_OBJECT_0:
        return Waited::Readable;
    case WAIT_TIMEOUT:
        return Waited::TimedOut;
    default:
        return Waited::Failed;
    }
}

qint64 NetHelper::receiveSome(char* buffer, qint64 size) {
    PipeRead& r = *m_read;
    if (!r.pending)
        return -1;
    DWORD got = 0;
    const bool done = ::GetOverlappedResult(pipeOf(m_channel), &r.overlapped, &got, FALSE);
    if (!done && ::GetLastError() == ERROR_IO_INCOMPLETE)
        return -1;
    r.pending = false;
    if (!done && ::GetLastError() != ERROR_MORE_DATA)
        return 0; // the service closed the connection
    const qint64 n = qMin<qint64>(got, size);
    memcpy(buffer, r.buffer, size_t(n));
    return n == 0 ? -1 : n;
}

bool NetHelper::sendLine(const std::string& line) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!overlapped.hEvent)
        return false;
    DWORD sent = 0;
    bool ok = ::WriteFile(pipeOf(m_channel), line.data(), DWORD(line.size()), nullptr, &overlapped) ||
              ::GetLastError() == ERROR_IO_PENDING;
    if (ok && ::WaitForSingleObject(overlapped.hEvent, kAnswerTimeMs) != WAIT_OBJECT_0) {
        ::CancelIoEx(pipeOf(m_channel), &overlapped);
        ok = false;
    }
    ok = ::GetOverlappedResult(pipeOf(m_channel), &overlapped, &sent, TRUE) && ok && sent == line.size();
    ::CloseHandle(overlapped.hEvent);
    return ok;
}

void NetHelper::stop() {
    if (m_channel != kNoChannel) {
        const HANDLE pipe = pipeOf(std::exchange(m_channel, kNoChannel));
        if (m_read && m_read->pending) {
            DWORD got = 0;
            ::CancelIoEx(pipe, &m_read->overlapped);
            ::GetOverlappedResult(pipe, &m_read->overlapped, &got, TRUE);
        }
        ::CloseHandle(pipe);
    }
    m_read.reset();
    m_pid = -1;
}
