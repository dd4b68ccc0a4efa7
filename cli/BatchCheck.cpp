#include "cli/BatchCheck.h"

#include "address/AddressRules.h"
#include "cli/BatchReport.h"
#include "net/NetHelper.h"

#include <QFile>

#include <arpa/inet.h>
#include <bit>

bool onSegment(const QString& address) {
    const auto a = AddressRules::readDotted(address);
    return a && !segmentOf(*a).isEmpty();
}

QString segmentOf(quint32 address) {
    // /proc/net/route: the kernel's IPv4 routes of this network namespace,
    // each address and mask as the hexadecimal of its bytes in memory.
    QFile table(QStringLiteral("/proc/net/route"));
    if (!table.open(QIODevice::ReadOnly))
        return {};
    const quint32 wire = htonl(address);
    QString best;
    int bestLength = -1;
    bool bestDirect = false;
    table.readLine(); // the header
    while (!table.atEnd()) {
        const QStringList f =
            QString::fromLatin1(table.readLine()).split(QLatin1Char('\t'), Qt::SkipEmptyParts);
        if (f.size() < 8)
            continue;
        bool ok[4] = {};
        const quint32 destination = f[1].toUInt(&ok[0], 16);
        const quint32 gateway = f[2].toUInt(&ok[1], 16);
        const quint32 flags = f[3].toUInt(&ok[2], 16);
        const quint32 mask = f[7].trimmed().toUInt(&ok[3], 16);
        const int length = std::popcount(mask);
        if (!(ok[0] && ok[1] && ok[2] && ok[3]) || !(flags & 1) || (wire & mask) != destination ||
            length <= bestLength)
            continue;
        best = f[0];
        bestLength = length;
        bestDirect = gateway == 0 && mask != 0;
    }
    return bestDirect ? best : QString();
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

QStringList hostProblems(const BatchFile& file, const QString& report, const QString& helperProgram) {
    NetHelper helper(helperProgram);
    QStringList problems = helperProblems(helper);
    for (const BatchRow& row : file.rows) {
        // An adaptor reached at the address it has may be given one on another network.
        const bool current = !row.request.currentIp.isEmpty();
        const QString ip =
            current ? row.request.currentIp
                    : QStringList(row.request.ip.begin(), row.request.ip.end()).join(QLatin1Char('.'));
        if (!onSegment(ip))
            problems << QStringLiteral(
                            "line %1: %2 \"%3\": not on a segment of this host (no interface's subnet "
                            "holds it), so its adaptor cannot be reached on the cable")
                            .arg(row.line)
                            .arg(current ? QStringLiteral("current_ip") : QStringLiteral("ip"),
                                 current ? row.request.currentIp : row.ip);
    }
    if (!report.isEmpty())
        if (const QString why = BatchReport::unwritable(report); !why.isEmpty())
            problems << QStringLiteral("--report %1: %2").arg(report, why);
    return problems;
}
