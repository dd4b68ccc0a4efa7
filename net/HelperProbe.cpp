#include "net/IcmpEchoProbe.h"

#include "net/NetHelper.h"
#include "net/NetLog.h"

#include "address/AddressRules.h"

#include <QRegularExpression>

namespace {
constexpr quint32 kAllOnes = 0xffffffff;
}

bool IcmpEchoProbe::start() {
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

Long IcmpEchoProbe::arpProbe(quint32 address) {
    if (address == kAllOnes)
        return NotConverted;
    if (!m_helper.start() || !m_helper.can(QStringLiteral("arp"))) {
        if (!std::exchange(m_warnedArp, true))
            qCWarning(lcNet).noquote()
                << QStringLiteral("the check that an address is free uses echo requests only: the network "
                                  "helper cannot send ARP probes, so a host that drops echo requests is not "
                                  "found. %1")
                       .arg(m_helper.capabilityAdvice());
        return SendFailed;
    }
    const auto answer = m_helper.ask({helper::Request::ArpProbe, address, {}});
    if (!answer)
        return SendFailed;
    if (answer->startsWith(QLatin1String("ok answered"))) {
        qCInfo(lcNet).noquote() << AddressRules::dotted(address) << QStringLiteral("is claimed by")
                                << answer->mid(12);
        return Answered;
    }
    if (answer->startsWith(QLatin1String("failed")))
        qCWarning(lcNet).noquote()
            << QStringLiteral("ARP probe of %1: %2").arg(AddressRules::dotted(address), *answer);
    return answer->startsWith(QLatin1String("ok")) ? TimedOut : SendFailed;
}

Long IcmpEchoProbe::ping(quint32 address, const QString& data, EchoReply& reply) {
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

ArpOwner IcmpEchoProbe::ownerFrom(const QString& answer) {
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

ArpOwner IcmpEchoProbe::whoHas(quint32 address) {
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
