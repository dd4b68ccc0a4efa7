#pragma once

// One front end's requests, checked and carried out: the probes within this
// helper's own pace and its network's budget, and the neighbour entries it makes
// and removes. Every answer other than "ok ..." is written to standard error.

#include "net/helper/EntryRecords.h"
#include "net/helper/HelperProtocol.h"
#include "net/helper/ProbeBudget.h"

#include <chrono>
#include <string>
#include <vector>

namespace helper {

class Helper {
public:
    // Removes what helpers that have ended left behind.
    void clearEnded();
    std::string handle(const Request& r);
    // What this process bound and has not removed, removed as it ends.
    void removeAll();

    static void log(const std::string& request, const std::string& answer);

private:
    std::string carryOut(const Request& r);
    std::string add(class Netlink& nl, int interface, const Request& r);
    std::string remove(const Request& r);
    std::string removeOne(std::size_t index);
    // A probe within this helper's pace and its network's budget, or why not.
    std::string takeProbe(const Request& r);

    std::vector<Entry> m_made;
    EntryRecords m_records;
    ProbeBudget m_budget;
    std::uint16_t m_sequence = 0;
    double m_tokens = 4;
    std::chrono::steady_clock::time_point m_filled = std::chrono::steady_clock::now();
};

} // namespace helper
