#pragma once

// The network service's rules, the same as the Linux helper's: every request
// checked before anything is sent or changed; a neighbour entry made only
// where none is, or where the host could not resolve the address, and only
// after an ARP probe found nobody there; removed only while it is still the
// one made, and removed when the front end that asked for it goes away. On
// Windows one service answers every front end of the machine, each over a
// connection of its own (a Session), so the probe budget is simply the
// service's own, and an entry's owner is the session that made it.
//
// Entries that a service ended without removing (a crash, a killed process)
// are kept in a small record file, written at each change and read at the
// next start, which removes those still as they were made.

#include "net/service/NeighbourHost.h"

#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace service {

using Request = helper::Request;

// The time the budgets are kept in; a test's clock moves when waited on.
class Clock {
public:
    using time_point = std::chrono::steady_clock::time_point;
    virtual ~Clock() = default;
    virtual time_point now() = 0;
    virtual void sleepUntil(time_point until) = 0;
};

class SteadyClock final : public Clock {
public:
    time_point now() override;
    void sleepUntil(time_point until) override;
};

struct MadeEntry {
    std::uint32_t address = 0;
    int ifIndex = 0;
    Mac mac{};
    bool operator==(const MadeEntry&) const = default;
};

// At most this many probes a second, all sessions together.
inline constexpr int kMachineProbesPerSecond = 20;
// And each session at most this many a second, after a short burst.
inline constexpr double kSessionProbesPerSecond = 4;
// How long a probe waits for the machine's budget before it is refused.
inline constexpr std::chrono::milliseconds kBudgetWait{1000};

class Session;

class NetService {
public:
    using Log = std::function<void(const std::string& line)>;
    // recordsPath: the record of made entries; empty keeps none.
    NetService(NeighbourHost& host, Clock& clock, std::string recordsPath, Log log);
    NetService(const NetService&) = delete;
    NetService& operator=(const NetService&) = delete;

    // What a service before this one made and did not remove, removed where
    // it is still as it was made; the record is emptied.
    void clearRecorded();
    // The first line each session's front end reads. abilities: " echo arp neigh".
    [[nodiscard]] std::string greeting() const;
    void setAbilities(std::string abilities) { m_abilities = std::move(abilities); }
    // Every entry that some session made and has not removed.
    [[nodiscard]] std::vector<MadeEntry> madeEntries();

private:
    friend class Session;
    // One probe of the machine's budget, waiting up to kBudgetWait for it.
    bool takeBudget();
    void keepRecord(); // with m_table held
    void log(const std::string& request, const std::string& answer);

    NeighbourHost& m_host;
    Clock& m_clock;
    std::string m_recordsPath;
    Log m_log;
    std::string m_abilities = " echo arp neigh";

    std::mutex m_budgetLock;
    std::deque<Clock::time_point> m_sent;
    // Held from the last look at an address's entry to its change, and while
    // the sessions' entries change.
    std::mutex m_table;
    std::vector<Session*> m_sessions;
    // Entries of ended sessions that could not be removed: still recorded,
    // and tried again at the next start.
    std::vector<MadeEntry> m_unremoved;
};

// One front end's connection: its requests, and the entries made for it,
// removed when it ends.
class Session {
public:
    explicit Session(NetService& service);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // The answer line to one request line (without its line feed).
    std::string answer(const std::string& line);
    std::string handle(const Request& r);
    void removeAll();

private:
    friend class NetService;
    std::string carryOut(const Request& r);
    std::string add(int ifIndex, const Request& r);
    std::string remove(const Request& r);
    std::string removeOne(std::size_t index);
    std::string takeProbe(const Request& r);

    NetService& m_service;
    std::vector<MadeEntry> m_made; // with the service's m_table held
    std::uint16_t m_sequence = 0;
    double m_tokens = kSessionProbesPerSecond;
    Clock::time_point m_filled;
};

} // namespace service
