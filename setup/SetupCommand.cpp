#include "setup/SetupCommand.h"

namespace {
template <std::size_t N> std::array<QString, N> texts(const EntryFields& fields, int array) {
    std::array<QString, N> out;
    for (std::size_t i = 0; i < N; ++i)
        out[i] = fields.field({array, static_cast<int>(i)}).text();
    return out;
}
} // namespace

void SetupCommand::abandonEarlier() {
    // A dialogue abandoned by this new run leaves no entry behind, and no
    // probe cycle of the earlier run hands over to its route any more.
    m_parts.binding.releaseLeftover();
    m_parts.sequencer.abandon();
    m_parts.signTest.aimAt(0);
}

void SetupCommand::run() {
    try {
        m_parts.status.showMessage(kInProcess);
        abandonEarlier();
        // The fields are read here, once: what goes out is what was checked.
        const auto checked = check(texts<6>(m_parts.fields, 1), texts<4>(m_parts.fields, 2),
                                   texts<4>(m_parts.fields, 3), texts<4>(m_parts.fields, 4));
        if (const auto* refusal = std::get_if<Refusal>(&checked)) {
            m_parts.status.showMessage(refusal->status);
            m_parts.window.endRun(RunOutcome::Refused);
            return;
        }
        const AdaptorTarget& target = std::get<AdaptorTarget>(checked);
        start(target, currentAddressFor(target.mac));
    } catch (const RunTimeError& e) {
        m_parts.status.showMessage(e.report(QStringLiteral(" (SetupIP)")));
        m_parts.window.endRun(RunOutcome::Failed);
    }
}

void SetupCommand::start(const AdaptorTarget& target, std::optional<quint32> current) {
    try {
        if (m_parts.status.message() != kInProcess)
            m_parts.status.showMessage(kInProcess);
        abandonEarlier();
        // An adaptor of no known family has no route: nothing is sent for it,
        // not even the probes of the pre-check.
        if (target.family() == AddressRules::kUnknownFamily) {
            m_parts.status.showMessage(kFamilyMessage);
            m_parts.window.endRun(RunOutcome::Refused);
            return;
        }
        m_parts.signTest.aimAt(target.ip);
        m_parts.window.lockWindow(target.family());

        // An adaptor that already has an address is reached there: its
        // identity is made sure of first, and the new address must be free
        // unless it is the one the adaptor has.
        if (current) {
            const quint32 at = *current;
            if (!m_parts.identity.passes(target.mac, at))
                return;
            if (at == target.ip || m_parts.identity.elsewhere(target.ip))
                m_parts.assignment.readdress(target, at);
            else
                preCheck(target.ip, [this, target, at] { m_parts.assignment.readdress(target, at); });
            return;
        }
        preCheck(target.ip, [this, target] { assign(target); });
    } catch (const RunTimeError& e) {
        m_parts.status.showMessage(e.report(QStringLiteral(" (SetupIP)")));
        m_parts.window.endRun(RunOutcome::Failed);
    }
}

void SetupCommand::assign(const AdaptorTarget& target) {
    if (target.family() == AddressRules::kBroadcastFamily)
        m_parts.assignment.byDatagram(target);
    else
        m_parts.assignment.byNeighbourEntry(target);
}

std::variant<SetupCommand::Refusal, AdaptorTarget>
SetupCommand::check(const AddressRules::MacTexts& mac, const AddressRules::QuadTexts& ip,
                    const AddressRules::QuadTexts& mask, const AddressRules::QuadTexts& gateway) {
    using namespace AddressRules;
    AdaptorTarget target;
    QString ipText;
    QString gatewayText;
    QString maskText;
    if (!checkMac(mac, target.mac))
        return Refusal{QStringLiteral("mac"), kMacMessage, {}};
    if (!checkIp(ip, ipText))
        return Refusal{QStringLiteral("ip"), kIpMessage, {}};
    if (!checkGateway(gateway, mask, gatewayText, maskText, target.hostBits))
        return Refusal{QStringLiteral("gateway"), kGatewayMessage, {}};
    if (!checkMask(mask))
        return Refusal{QStringLiteral("mask"), kMaskMessage, {}};
    // Well formed, each value alone; together they must make a network the
    // adaptor can work on, or the run would end "successful" with the sign
    // unreachable.
    if (const auto wrong = senseCheck(ip, mask, gateway))
        return refusalOf(*wrong);
    // Every value passed, so each reads as a number: from here on the address
    // and the gateway travel as numbers, and are written as plain dotted
    // decimal wherever they go out.
    return std::get<AdaptorTarget>(
        targetOf(target.mac, *quadValue(ip), *quadValue(mask), *quadValue(gateway)));
}

SetupCommand::Refusal SetupCommand::refusalOf(const AddressRules::SenseRefusal& wrong) {
    using Field = AddressRules::SenseRefusal::Field;
    switch (wrong.field) {
    case Field::Ip:
        return Refusal{QStringLiteral("ip"), kIpMessage + QStringLiteral(": ") + wrong.text, wrong.text};
    case Field::Mask:
        return Refusal{QStringLiteral("mask"), kMaskMessage + QStringLiteral(": ") + wrong.text, wrong.text};
    case Field::Gateway:
        break;
    }
    return Refusal{QStringLiteral("gateway"), kGatewayMessage + QStringLiteral(": ") + wrong.text,
                   wrong.text};
}

std::variant<SetupCommand::Refusal, AdaptorTarget> SetupCommand::targetOf(const QString& mac, quint32 ip,
                                                                          quint32 mask, quint32 gateway) {
    using namespace AddressRules;
    const auto octets = macOctets(mac);
    if (!octets || mac.size() != 12)
        return Refusal{QStringLiteral("mac"), kMacMessage, {}};
    if (const auto wrong = senseCheck(ip, mask, gateway))
        return refusalOf(*wrong);
    AdaptorTarget target;
    target.mac = mac.toLower();
    target.macOctets = *octets;
    target.ip = ip;
    target.mask = mask;
    target.gateway = gateway;
    // The setup menu is told the mask's true host bits, not only 8, 16 or 24.
    target.hostBits = Integer(32 - *prefixLength(mask));
    return target;
}

bool SetupCommand::isRefusal(const QString& status) {
    for (const QString* message : {&kMacMessage, &kIpMessage, &kGatewayMessage, &kMaskMessage})
        if (status == *message || status.startsWith(*message + QStringLiteral(": ")))
            return true;
    return false;
}

void SetupCommand::preCheck(quint32 address, std::function<void()> goOn) {
    m_parts.sequencer.armProbeCycle(address, RunStage::Checking, std::move(goOn));
}
