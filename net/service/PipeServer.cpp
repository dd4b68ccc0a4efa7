#include "net/service/PipeServer.h"

#include "net/service/WindowsNeighbourHost.h"

#include <atomic>
#include <list>
#include <memory>
#include <thread>

namespace service {
namespace {

struct Event {
    HANDLE handle = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ~Event() {
        if (handle)
            ::CloseHandle(handle);
    }
};

// Waits for an overlapped operation on the pipe, or for stop (which cancels
// it). True with the byte count once it completed.
bool finish(HANDLE pipe, OVERLAPPED& o, HANDLE stop, DWORD& count) {
    const HANDLE events[2] = {o.hEvent, stop};
    if (::WaitForMultipleObjects(2, events, FALSE, INFINITE) != WAIT_OBJECT_0)
        ::CancelIoEx(pipe, &o);
    return ::GetOverlappedResult(pipe, &o, &count, TRUE) != 0;
}

bool writeLine(HANDLE pipe, HANDLE stop, const std::string& text) {
    const std::string line = text + "\n";
    Event done;
    OVERLAPPED o{};
    o.hEvent = done.handle;
    DWORD sent = 0;
    if (!::WriteFile(pipe, line.data(), DWORD(line.size()), nullptr, &o) &&
        ::GetLastError() != ERROR_IO_PENDING)
        return false;
    return finish(pipe, o, stop, sent) && sent == line.size();
}

// One front end's connection, as the Linux helper reads its standard input.
void serveConnection(NetService& service, HANDLE pipe, HANDLE stop) {
    {
        Session session(service);
        bool open = writeLine(pipe, stop, service.greeting());
        std::string pending;
        bool discarding = false; // the rest of a line already refused as too long
        Event readable;
        char buffer[512];
        while (open) {
            OVERLAPPED o{};
            o.hEvent = readable.handle;
            ::ResetEvent(readable.handle);
            DWORD got = 0;
            if (!::ReadFile(pipe, buffer, sizeof buffer, nullptr, &o) &&
                ::GetLastError() != ERROR_IO_PENDING && ::GetLastError() != ERROR_MORE_DATA)
                break;
            if (!finish(pipe, o, stop, got) && ::GetLastError() != ERROR_MORE_DATA)
                break; // closed by the front end, or the service stops
            if (got == 0)
                continue;
            pending.append(buffer, got);
            for (std::size_t end; open && (end = pending.find('\n')) != std::string::npos;) {
                std::string line = pending.substr(0, end);
                pending.erase(0, end + 1);
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                if (std::exchange(discarding, false))
                    continue;
                open = writeLine(pipe, stop, session.answer(line));
            }
            if (pending.size() > helper::kMaxLine) {
                pending.clear();
                if (!std::exchange(discarding, true))
                    open = writeLine(pipe, stop, session.answer(std::string(helper::kMaxLine + 1, 'x')));
            }
        }
    } // the session's entries are removed here
    ::FlushFileBuffers(pipe);
    ::DisconnectNamedPipe(pipe);
    ::CloseHandle(pipe);
}

struct Connection {
    std::thread thread;
    std::atomic<bool> ended{false};
};

} // namespace

bool servePipe(NetService& service, SECURITY_ATTRIBUTES& security, HANDLE stop, std::string& why) {
    std::list<Connection> connections;
    bool first = true;
    bool ok = true;
    Event connected;
    while (::WaitForSingleObject(stop, 0) != WAIT_OBJECT_0) {
        for (auto it = connections.begin(); it != connections.end();) {
            if (it->ended) {
                it->thread.join();
                it = connections.erase(it);
            } else {
                ++it;
            }
        }
        // The first instance claims the name: if another program made it
        // first, the service does not start rather than answer beside it.
        const HANDLE pipe = ::CreateNamedPipeW(
            kPipeName,
            PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0),
            PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, kMostConnections,
            4096, 4096, 0, &security);
        if (pipe == INVALID_HANDLE_VALUE) {
            const DWORD error = ::GetLastError();
            if (first || error != ERROR_PIPE_BUSY) {
                why = "cannot make the pipe \\\\.\\pipe\\netrika-net-helper: " + systemErrorText(error);
                ok = false;
                break;
            }
            // Every instance is in use: wait for a connection to end.
            if (::WaitForSingleObject(stop, 200) == WAIT_OBJECT_0)
                break;
            continue;
        }
        first = false;
        OVERLAPPED o{};
        o.hEvent = connected.handle;
        ::ResetEvent(connected.handle);
        bool ready = ::ConnectNamedPipe(pipe, &o) != 0;
        if (!ready) {
            const DWORD error = ::GetLastError();
            DWORD ignored = 0;
            ready = error == ERROR_PIPE_CONNECTED ||
                    (error == ERROR_IO_PENDING && finish(pipe, o, stop, ignored));
        }
        if (!ready) {
            ::CloseHandle(pipe);
            continue;
        }
        Connection& c = connections.emplace_back();
        c.thread = std::thread([&service, pipe, stop, &c] {
            serveConnection(service, pipe, stop);
            c.ended = true;
        });
    }
    for (Connection& c : connections)
        c.thread.join();
    return ok;
}

} // namespace service
