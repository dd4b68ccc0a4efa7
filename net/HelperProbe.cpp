#include "net/HelperProbe.h"

#include "net/NetHelper.h"
#include "net/NetLog.h"

#include "address/AddressRules.h"

#include <QRegularExpression>

namespace {
constexpr quint32 kAllOnes = 0xffffffff;
}

bool HelperProbe::start() {
    if (!m_helper.start())
        return false;
    if (m_helper.can(QStringLiteral("echo")))
        return true;
    if (!std::exchange(m_warned, true))
        qCWarning(lcNet).noquote()
            << QStringLiteral("the network helper cannot send echo requests: it lacks the capability "
                              "CAP_NET_RAW. %1")
                   .arg(m_helper.capabilityAdvice());
    return false;
}

Long HelperProbe::arpProbe(quint32 address) {
    if (address == kAllOnes)
        return NotConverted;
    if (!m_helper.start() || !m_helper.can(QStringLiteral("arp"))) {
        if (!std::exchange(m_warnedArp, true))
            qCWarning(lcNet).noquote()
                << QStringLiteral("the check that an address is free uses echo requests only: the network "
                                  "helper cannot send ARP probes, so a host that drops echo requests is not "
                                  "found. %1")
                       .arg(m_helper.capabilityAdvice());
        // A helper that is not there at all cannot echo either: that probe is
        // not asked. One without the capability leaves the verdict to the echo.
        return m_helper.start() ? NoArpHere : SendFailed;
    }
    const auto answer = m_helper.ask({helper::Request::ArpProbe, address, {}});
    if (!answer)
        return SendFailed;
    const ArpOwner owner = ownerFrom(*answer);
    switch (owner.outcome) {
    case ArpOwner::Answered:
        qCInfo(lcNet).noquote() << AddressRules::dotted(address) << QStringLiteral("is claimed by")
                                << AddressRules::dashedMac(owner.mac);
        return Answered;
    case ArpOwner::Silent:
        return TimedOut;
    case ArpOwner::OffSegment:
        // Behind a gateway ARP cannot reach it: the echo alone tells.
        return NoArpHere;
    case ArpOwner::NotAsked:
        break;
    }
    qCWarning(lcNet).noquote()
        << QStringLiteral("ARP probe of %1: %2").arg(AddressRules::dotted(address), *answer);
    return SendFailed;
}

Long HelperProbe::ping(quint32 address, const QString& data, EchoReply& reply) {
    reply = EchoReply{};
    if (address == kAllOnes) {
        reply.status = NotConverted;
        return NotConverted;
    }
    reply.status = SendFailed;
    if (data != QLatin1String(kData)) {
        qCWarning(lcNet) << "echo probe not sent: the helper sends only" << kData;
        return SendFailed;
    }
    const auto answer = m_helper.ask({helper::Request::Echo, address, {}});
    if (!answer)
        return SendFailed;
    const QStringList words = answer->split(QLatin1Char(' '));
    if (words.value(0) != QLatin1String("ok")) {
        // Refusals are written out by the helper itself.
        if (words.value(0) != QLatin1String("refused"))
            qCWarning(lcNet).noquote()
                << QStringLiteral("echo probe to %1: %2").arg(AddressRules::dotted(address), *answer);
        return SendFailed;
    }
    if (words.value(1) == QLatin1String("answered") && words.size() == 4) {
        reply.address = address;
        reply.roundTripMs = words.at(2).toInt();
        reply.data = QByteArray::fromHex(words.at(3).toLatin1());
        reply.status = Answered;
    } else if (words.value(1) == QLatin1String("unreachable") && words.size() == 3) {
        reply.address = AddressRules::readDotted(words.at(2)).value_or(0);
        reply.status = Unreachable;
    } else {
        reply.status = TimedOut;
    }
    return reply.status;
}

ArpOwner HelperProbe::ownerFrom(const QString& answer) {
    static const QString answered = QStringLiteral("ok answered ");
    if (answer.startsWith(answered)) {
        QString mac = answer.mid(answered.size()).trimmed().remove(QLatin1Char(':')).toLower();
        static const QRegularExpression hex(QStringLiteral("^[0-9a-f]{12}$"));
        if (hex.match(mac).hasMatch())
            return {ArpOwner::Answered, mac, {}};
        return {ArpOwner::NotAsked, {}, QStringLiteral("the network helper answered \"%1\"").arg(answer)};
    }
    if (answer == QLatin1String("ok silent"))
        return {ArpOwner::Silent, {}, {}};
    // "refused A.B.C.D is why": the helper asks only on a segment of this host.
    static const QRegularExpression refused(QStringLiteral("^refused \\S+ is (.*)$"));
    if (const auto m = refused.match(answer); m.hasMatch()) {
        const QString why = m.captured(1);
        const bool offSegment = why.startsWith(QLatin1String("not reached by any route")) ||
                                why.startsWith(QLatin1String("reached only through a gateway"));
        return {offSegment ? ArpOwner::OffSegment : ArpOwner::NotAsked, {}, why};
    }
    return {ArpOwner::NotAsked, {}, answer.section(QLatin1Char(' '), 1)};
}

ArpOwner HelperProbe::whoHas(quint32 address) {
    if (address == kAllOnes)
        return {ArpOwner::NotAsked, {}, QStringLiteral("not an address")};
    if (!m_helper.start() || !m_helper.can(QStringLiteral("arp")))
        return {ArpOwner::NotAsked,
                {},
                QStringLiteral("the network helper cannot send ARP requests. %1")
                    .arg(m_helper.capabilityAdvice())};
    const auto answer = m_helper.ask({helper::Request::ArpProbe, address, {}});
    if (!answer)
        return {ArpOwner::NotAsked, {}, QStringLiteral("the network helper did not answer")};
    ArpOwner owner = ownerFrom(*answer);
    if (owner.outcome == ArpOwner::Answered)
        qCInfo(lcNet).noquote() << AddressRules::dotted(address) << QStringLiteral("is held by") << owner.mac;
    return owner;
}
