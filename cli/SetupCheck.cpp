#include "cli/SetupCheck.h"

#include "address/AddressRules.h"
#include "cli/BatchCheck.h"
#include "net/HelperProbe.h"
#include "net/NetHelper.h"
#include "setup/IdentityCheck.h"
#include "setup/SetupCommand.h"

namespace {
// Who answers ARP at the address, asked again once when nobody did, so that
// one lost frame does not make a taken address look free.
ArpOwner owner(HelperProbe& probe, const QString& address) {
    ArpOwner found;
    const quint32 at = AddressRules::readDotted(address).value_or(0);
    for (int tries = 0; tries < IdentityCheck::kTries; ++tries) {
        found = probe.whoHas(at);
        if (found.outcome != ArpOwner::Silent)
            break;
    }
    return found;
}
} // namespace

SetupCheck SetupCheck::of(const SetupRequest& request, const QString& helperProgram) {
    QString mac;
    for (const QString& pair : request.mac)
        mac += pair.toLower();
    const QString dashed = AddressRules::dashedMac(mac);
    const QString ip = QStringList(request.ip.begin(), request.ip.end()).join(QLatin1Char('.'));
    const QString current = request.currentIp;
    // As the run: an adaptor of no known family has no route.
    if (AddressRules::macFamily(mac) == AddressRules::kUnknownFamily)
        return {State::Refused, SetupCommand::kFamilyMessage, QStringLiteral("refused")};
    // Reached at the address it has, an adaptor may be given one on another network.
    const QString reached = current.isEmpty() ? ip : current;
    if (!onSegment(reached))
        return {State::Refused, IdentityCheck::kOffSegment.arg(dashed, reached),
                QStringLiteral("off-segment")};
    // Moved to another network, the adaptor's new address cannot be asked by
    // ARP from here: the run's own check of it goes by echo.
    const bool newOnSegment = onSegment(ip);

    NetHelper helper(helperProgram);
    const QStringList missing = helperProblems(helper);
    if (!missing.isEmpty())
        return {State::Refused, missing.join(QLatin1Char(' ')), QStringLiteral("helper")};
    HelperProbe probe(helper);

    const auto unasked = [](const ArpOwner& o) {
        return SetupCheck{State::Refused, QStringLiteral("the address cannot be asked: ") + o.reason,
                          o.outcome == ArpOwner::OffSegment ? QStringLiteral("off-segment")
                                                            : QStringLiteral("helper")};
    };
    // The identity check's own words, as the run would say them.
    const auto heldBy = [&dashed](const QString& address, const ArpOwner& o) {
        return IdentityCheck::kOtherDevice.arg(dashed, address, AddressRules::dashedMac(o.mac));
    };
    const ArpOwner atIp = newOnSegment ? owner(probe, ip) : ArpOwner{ArpOwner::Silent, {}, {}};
    if (atIp.outcome == ArpOwner::Answered) {
        if (atIp.mac == mac)
            return {State::InPlace, QStringLiteral("adaptor %1 already answers at %2").arg(dashed, ip),
                    QStringLiteral("in-place")};
        return {State::Taken, heldBy(ip, atIp), QStringLiteral("address-taken")};
    }
    if (atIp.outcome != ArpOwner::Silent)
        return unasked(atIp);
    if (current.isEmpty())
        return {State::ToAssign, QStringLiteral("%1 is free: adaptor %2 would be given it").arg(ip, dashed),
                QStringLiteral("to-assign")};

    const ArpOwner atCurrent = owner(probe, current);
    switch (atCurrent.outcome) {
    case ArpOwner::Answered:
        if (atCurrent.mac == mac)
            return {State::ToAssign,
                    QStringLiteral("%1 is free: adaptor %2, found at %3, would be given it")
                        .arg(ip, dashed, current),
                    QStringLiteral("to-assign")};
        return {State::NotFound, heldBy(current, atCurrent), QStringLiteral("other-device")};
    case ArpOwner::Silent:
        return {State::NotFound, IdentityCheck::kNoAnswer.arg(dashed, current), QStringLiteral("not-found")};
    default:
        return unasked(atCurrent);
    }
}

QString SetupCheck::stateName(State state) {
    switch (state) {
    case State::ToAssign:
        return QStringLiteral("to-assign");
    case State::InPlace:
        return QStringLiteral("in-place");
    case State::Taken:
        return QStringLiteral("taken");
    case State::NotFound:
        return QStringLiteral("not-found");
    case State::Refused:
        break;
    }
    return QStringLiteral("refused");
}

int SetupCheck::exitStatus() const {
    switch (state) {
    case State::ToAssign:
    case State::InPlace:
        return CliRun::Succeeded;
    case State::Taken:
    case State::NotFound:
        return CliRun::Failed;
    case State::Refused:
        break;
    }
    return CliRun::BadValues;
}
