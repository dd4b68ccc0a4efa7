#include "cli/BatchCheck.h"

#include "address/AddressRules.h"
#include "cli/BatchReport.h"
#include "net/HostNetworks.h"
#include "net/NetHelper.h"

#include <QFile>

bool onSegment(const QString& address) {
    const auto a = AddressRules::readDotted(address);
    return a && !HostNetworks::segmentOf(*a).isEmpty();
}

QStringList helperProblems(NetHelper& helper) {
    QStringList problems;
    if (!helper.start()) {
        problems
            << QStringLiteral("the network helper %1 cannot be started (said above)").arg(helper.program());
    } else {
        for (const auto& [ability, need] :
             {std::pair{"echo", "echo requests (CAP_NET_RAW)"}, std::pair{"arp", "ARP probes (CAP_NET_RAW)"},
              std::pair{"neigh", "neighbour entries (CAP_NET_ADMIN)"}})
            if (!helper.can(QLatin1String(ability)))
                problems << QStringLiteral("the network helper cannot make %1. %2")
                                .arg(QLatin1String(need), helper.capabilityAdvice());
    }
    return problems;
}

QStringList hostProblems(const BatchFile& file, const QString& report, const QString& helperProgram,
                         std::vector<BatchFile::Place>* places) {
    NetHelper helper(helperProgram);
    QStringList problems = helperProblems(helper);
    std::vector<BatchFile::Place> where(std::size_t(problems.size()));
    for (const BatchRow& row : file.rows) {
        // An adaptor reached at the address it has may be given one on another network.
        const bool current = !row.request.currentIp.isEmpty();
        const QString ip =
            current ? row.request.currentIp
                    : QStringList(row.request.ip.begin(), row.request.ip.end()).join(QLatin1Char('.'));
        if (!onSegment(ip)) {
            where.push_back({row.line, current ? QStringLiteral("current_ip") : QStringLiteral("ip"),
                             current ? row.request.currentIp : row.ip});
            problems << QStringLiteral(
                            "line %1: %2 \"%3\": not on a segment of this host (no interface's subnet "
                            "holds it), so its adaptor cannot be reached on the cable")
                            .arg(row.line)
                            .arg(current ? QStringLiteral("current_ip") : QStringLiteral("ip"),
                                 current ? row.request.currentIp : row.ip);
        }
    }
    if (!report.isEmpty())
        if (const QString why = BatchReport::unwritable(report); !why.isEmpty()) {
            problems << QStringLiteral("--report %1: %2").arg(report, why);
            where.push_back({0, QStringLiteral("report"), report});
        }
    if (places)
        *places = std::move(where);
    return problems;
}
