#include "net/service/NetService.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

namespace service {
namespace {

std::string refusal(const Request& r, const std::string& why) {
    return "refused " + helper::addressText(r.address) + " is " + why;
}

bool isOk(const std::string& answer) {
    return answer.rfind("ok", 0) == 0;
}

// A record line: "<interface index> <address> <mac>".
std::string recordLine(const MadeEntry& e) {
    return std::to_string(e.ifIndex) + ' ' + helper::addressText(e.address) + ' ' + helper::macText(e.mac);
}

std::optional<MadeEntry> readRecordLine(const std::string& line) {
    const auto space = line.find(' ');
    if (space == std::string::npos || space == 0 || space > 10)
        return std::nullopt;
    int ifIndex = 0;
    for (std::size_t i = 0; i < space; ++i) {
        if (line[i] < '0' || line[i] > '9')
            return std::nullopt;
        ifIndex = ifIndex * 10 + (line[i] - '0');
    }
    const auto request = helper::parseRequest("neigh-add " + line.substr(space + 1));
    if (!request || ifIndex <= 0)
        return std::nullopt;
    return MadeEntry{request->address, ifIndex, request->mac};
}

// The record is never more than the entries of a few hundred sessions.
constexpr std::uintmax_t kRecordLimit = 1 << 20;

} // namespace

Clock::time_point SteadyClock::now() {
    return std::chrono::steady_clock::now();
}

void SteadyClock::sleepUntil(time_point until) {
    std::this_thread::sleep_until(until);
}

NetService::NetService(NeighbourHost& host, Clock& clock, std::string recordsPath, Log log)
    : m_host(host)
    , m_clock(clock)
    , m_recordsPath(std::move(recordsPath))
    , m_log(std::move(log)) {}

std::string NetService::greeting() const {
    return std::string(helper::kGreeting) + m_abilities;
}

void NetService::log(const std::string& request, const std::string& answer) {
    if (m_log)
        m_log(request + ": " + answer);
}

std::vector<MadeEntry> NetService::madeEntries() {
    std::lock_guard lock(m_table);
    std::vector<MadeEntry> all;
    for (const Session* s : m_sessions)
        all.insert(all.end(), s->m_made.begin(), s->m_made.end());
    all.insert(all.end(), m_unremoved.begin(), m_unremoved.end());
    return all;
}

void NetService::clearRecorded() {
    if (m_recordsPath.empty())
        return;
    std::error_code error;
    const auto size = std::filesystem::file_size(m_recordsPath, error);
    if (error)
        return; // none kept: nothing was left
    std::vector<MadeEntry> left;
    if (size <= kRecordLimit) {
        std::ifstream in(m_recordsPath, std::ios::binary);
        for (std::string line; std::getline(in, line);) {
            if (const auto entry = readRecordLine(line))
                left.push_back(*entry);
            else
                log("start", "ignored a record line that is not an entry: \"" + line.substr(0, 64) + "\"");
        }
    } else {
        log("start", "ignored the record of made entries: it is larger than any this service writes");
    }
    std::lock_guard lock(m_table);
    std::vector<MadeEntry> kept;
    for (const MadeEntry& e : left) {
        const HostEntry now = m_host.lookUp(e.ifIndex, e.address);
        const std::string request = "neigh-del " + helper::addressText(e.address);
        if (!now.error.empty()) {
            log(request, "failed the neighbour table cannot be read: " + now.error);
            kept.push_back(e);
            continue;
        }
        // Only while it is still the entry made then, not one put there since.
        if (!now.present || !now.permanent || now.mac != e.mac)
            continue;
        std::string why;
        if (m_host.deleteEntry(e.ifIndex, e.address, why) == Change::Failed) {
            log(request, "failed " + why);
            kept.push_back(e);
        } else {
            log(request, "removed an entry that an ended service made");
        }
    }
    // What could not be removed stays in the record for the next start.
    std::ofstream out(m_recordsPath, std::ios::binary | std::ios::trunc);
    for (const MadeEntry& e : kept)
        out << recordLine(e) << '\n';
}

void NetService::keepRecord() {
    if (m_recordsPath.empty())
        return;
    const std::string partial = m_recordsPath + ".new";
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        for (const Session* s : m_sessions)
            for (const MadeEntry& e : s->m_made)
                out << recordLine(e) << '\n';
        for (const MadeEntry& e : m_unremoved)
            out << recordLine(e) << '\n';
        if (!out.flush()) {
            log("record", "failed writing " + partial);
            return;
        }
    }
    std::error_code error;
    std::filesystem::rename(partial, m_recordsPath, error);
    if (error) {
        std::filesystem::remove(m_recordsPath, error);
        std::filesystem::rename(partial, m_recordsPath, error);
    }
    if (error)
        log("record", "failed writing " + m_recordsPath + ": " + error.message());
}

bool NetService::takeBudget() {
    const auto deadline = m_clock.now() + kBudgetWait;
    for (;;) {
        Clock::time_point free;
        {
            std::lock_guard lock(m_budgetLock);
            const auto now = m_clock.now();
            while (!m_sent.empty() && now - m_sent.front() >= std::chrono::seconds(1))
                m_sent.pop_front();
            if (m_sent.size() < std::size_t(kMachineProbesPerSecond)) {
                m_sent.push_back(now);
                return true;
            }
            free = m_sent.front() + std::chrono::seconds(1);
        }
        if (free > deadline)
            return false;
        m_clock.sleepUntil(free);
    }
}

Session::Session(NetService& service)
    : m_service(service)
    , m_filled(service.m_clock.now()) {
    std::lock_guard lock(m_service.m_table);
    m_service.m_sessions.push_back(this);
}

Session::~Session() {
    removeAll();
    std::lock_guard lock(m_service.m_table);
    m_service.m_unremoved.insert(m_service.m_unremoved.end(), m_made.begin(), m_made.end());
    std::erase(m_service.m_sessions, this);
}

std::string Session::answer(const std::string& line) {
    if (line.size() > helper::kMaxLine) {
        m_service.log("request", "refused request too long");
        return "refused request too long";
    }
    std::string why;
    const auto request = helper::parseRequest(line, &why);
    if (!request) {
        m_service.log("request", "refused " + why);
        return "refused " + why;
    }
    return handle(*request);
}

std::string Session::handle(const Request& r) {
    std::string answer = carryOut(r);
    if (!isOk(answer))
        m_service.log(helper::formatRequest(r), answer);
    return answer;
}

std::string Session::carryOut(const Request& r) {
    if (r.kind == Request::ArpSweep)
        return "refused sweeps are not offered by this host's network service";
    if (const auto why = helper::refusedAddress(r.address); !why.empty())
        return refusal(r, std::string(why));
    if (r.kind == Request::NeighDel)
        return remove(r);
    if (r.kind == Request::NeighAdd)
        if (const auto why = helper::refusedMac(r.mac); !why.empty())
            return refusal(r, std::string(why));
    std::string why;
    const int ifIndex = m_service.m_host.directInterface(r.address, why);
    if (ifIndex == 0)
        return refusal(r, why);
    if (r.kind == Request::NeighAdd)
        return add(ifIndex, r);
    if (const std::string no = takeProbe(r); !no.empty())
        return no;
    return r.kind == Request::Echo ? m_service.m_host.echo(r.address, ++m_sequence)
                                   : m_service.m_host.arpProbe(ifIndex, r.address);
}

std::string Session::add(int ifIndex, const Request& r) {
    NeighbourHost& host = m_service.m_host;
    // What may be replaced: nothing, an entry the host made for an address it
    // could not resolve, or this session's own; never a reachable or permanent
    // one of anyone else. Called with the table held.
    const auto refusedEntry = [&](const HostEntry& e) -> std::string {
        if (!e.error.empty())
            return "failed the neighbour table cannot be read: " + e.error;
        if (!e.present || (!e.permanent && e.unresolved))
            return {};
        const auto madeHere = [&](const MadeEntry& m) {
            return m.address == r.address && m.ifIndex == ifIndex && e.permanent && m.mac == e.mac;
        };
        if (std::any_of(m_made.begin(), m_made.end(), madeHere))
            return {};
        for (const Session* s : m_service.m_sessions)
            if (std::any_of(s->m_made.begin(), s->m_made.end(), madeHere))
                return refusal(r, "bound already by another netrika helper");
        if (std::any_of(m_service.m_unremoved.begin(), m_service.m_unremoved.end(), madeHere))
            return refusal(r, "bound already by another netrika helper");
        if (e.permanent)
            return refusal(r, "bound already by an entry that this helper did not make");
        return refusal(r, "in use: the host has a reachable entry for it");
    };
    {
        std::lock_guard lock(m_service.m_table);
        if (std::string no = refusedEntry(host.lookUp(ifIndex, r.address)); !no.empty())
            return no;
    }
    if (const std::string no = takeProbe(r); !no.empty())
        return no;
    const std::string owner = host.arpProbe(ifIndex, r.address);
    if (owner.rfind("ok answered", 0) == 0)
        return refusal(r, "in use: " + owner.substr(12) + " answers ARP for it");
    if (owner != "ok silent")
        return owner;
    // Again, just before the change: the table may have changed meanwhile.
    std::lock_guard lock(m_service.m_table);
    const HostEntry now = host.lookUp(ifIndex, r.address);
    if (std::string no = refusedEntry(now); !no.empty())
        return no;
    const auto mine = std::find_if(m_made.begin(), m_made.end(), [&](const MadeEntry& m) {
        return m.address == r.address && m.ifIndex == ifIndex;
    });
    // Recorded before it is made: a service that ends at any point after the
    // change leaves a record of it.
    const std::vector<MadeEntry> before = m_made;
    if (mine != m_made.end())
        mine->mac = r.mac;
    else
        m_made.push_back({r.address, ifIndex, r.mac});
    m_service.keepRecord();
    std::string why;
    const Change change = host.addEntry(ifIndex, r.address, r.mac, now.present, why);
    if (change != Change::Done) {
        m_made = before;
        m_service.keepRecord();
        if (change == Change::Exists || change == Change::Absent)
            return refusal(r, "bound already by an entry made meanwhile");
        return "failed " + why;
    }
    return "ok added " + host.interfaceName(ifIndex);
}

std::string Session::remove(const Request& r) {
    std::lock_guard lock(m_service.m_table);
    // Every entry made for the address, on whichever interface it was reached.
    std::string answer;
    for (std::size_t i = m_made.size(); i-- > 0;) {
        if (m_made[i].address != r.address)
            continue;
        const std::string one = removeOne(i);
        if (!isOk(one) || answer.empty() || answer == "ok absent")
            answer = answer.rfind("failed", 0) == 0 ? answer : one;
    }
    return answer.empty() ? refusal(r, "bound by no entry that this helper made") : answer;
}

// With the table held. A failure keeps the entry and its record, to be tried
// again as the session ends and, if that fails too, at the next start.
std::string Session::removeOne(std::size_t index) {
    NeighbourHost& host = m_service.m_host;
    const MadeEntry made = m_made[index];
    const HostEntry now = host.lookUp(made.ifIndex, made.address);
    if (!now.error.empty())
        return "failed the neighbour table cannot be read: " + now.error;
    std::string answer = "ok absent";
    // Only while it is still the entry made here, not one put there since.
    if (now.present && now.permanent && now.mac == made.mac) {
        std::string why;
        const Change change = host.deleteEntry(made.ifIndex, made.address, why);
        if (change == Change::Failed)
            return "failed " + why;
        answer = change == Change::Done ? "ok removed" : "ok absent";
    }
    m_made.erase(m_made.begin() + std::ptrdiff_t(index));
    m_service.keepRecord();
    return answer;
}

void Session::removeAll() {
    std::lock_guard lock(m_service.m_table);
    for (std::size_t i = m_made.size(); i-- > 0;) {
        const Request r{Request::NeighDel, m_made[i].address, {}};
        const std::string answer = removeOne(i);
        if (!isOk(answer))
            m_service.log(helper::formatRequest(r), answer);
    }
}

// A session's pace is a token bucket: a short burst, then kSessionProbesPerSecond.
std::string Session::takeProbe(const Request& r) {
    const auto now = m_service.m_clock.now();
    m_tokens =
        std::min(kSessionProbesPerSecond,
                 m_tokens + kSessionProbesPerSecond * std::chrono::duration<double>(now - m_filled).count());
    m_filled = now;
    if (m_tokens < 1)
        return refusal(r, "too many probes: at most 4 a second");
    m_tokens -= 1;
    if (m_service.takeBudget())
        return {};
    return refusal(r, "too many probes on this host: at most " + std::to_string(kMachineProbesPerSecond) +
                          " a second for all of its runs together");
}

} // namespace service
