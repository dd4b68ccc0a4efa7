#include "setup/SetupCommand.h"

namespace {
template <std::size_t N> std::array<QString, N> texts(const EntryFields& fields, int array) {
    std::array<QString, N> out;
    for (std::size_t i = 0; i < N; ++i)
        out[i] = fields.field({array, static_cast<int>(i)}).text();
    return out;
}
} // namespace

void SetupCommand::run() {
    try {
        m_parts.status.showMessage(kInProcess);
        // A dialogue abandoned by this new run leaves no entry behind.
        m_parts.binding.releaseLeftover();
        m_parts.signTest.aimAt(0);

        const auto checked = check(texts<6>(m_parts.fields, 1), texts<4>(m_parts.fields, 2),
                                   texts<4>(m_parts.fields, 3), texts<4>(m_parts.fields, 4));
        if (const auto* refusal = std::get_if<Refusal>(&checked)) {
            m_parts.status.showMessage(refusal->status);
            return;
        }
        const AdaptorTarget& target = std::get<AdaptorTarget>(checked);
        m_parts.signTest.aimAt(target.ip);

        // An adaptor that already has an address is reached there: the same
        // checks, but its identity is made sure of first, and the new address
        // is free unless it is the one the adaptor has.
        if (const auto reached = currentAddressFor(target.mac)) {
            const quint32 current = *reached;
            if (target.family() == AddressRules::kUnknownFamily) {
                m_parts.status.showMessage(kFamilyMessage);
                return;
            }
            m_parts.window.lockWindow(target.family());
            if (!m_parts.identity.passes(target.mac, current))
                return;
            if (current != target.ip && !preCheckPasses(target.ip))
                return;
            m_parts.assignment.readdress(target, current);
            return;
        }

        m_parts.window.lockWindow(target.family());
        if (!preCheckPasses(target.ip))
            return;

        switch (target.family()) {
        case AddressRules::kBroadcastFamily:
            m_parts.assignment.byDatagram(target);
            break;
        case AddressRules::kArpFamily:
            m_parts.assignment.byNeighbourEntry(target);
            break;
        default:
            m_parts.status.showMessage(kFamilyMessage);
            m_parts.window.unlockWindow();
            break;
        }
    } catch (const RunTimeError& e) {
        m_parts.status.showMessage(e.report(QStringLiteral(" (SetupIP)")));
        m_parts.window.unlockWindow();
    }
}

std::variant<SetupCommand::Refusal, AdaptorTarget>
SetupCommand::check(const AddressRules::MacTexts& mac, const AddressRules::QuadTexts& ip,
                    const AddressRules::QuadTexts& mask, const AddressRules::QuadTexts& gateway) {
    using namespace AddressRules;
    AdaptorTarget target;
    QString ipText;
    QString gatewayText;
    if (!checkMac(mac, target.mac))
        return Refusal{QStringLiteral("mac"), kMacMessage, {}};
    if (!checkIp(ip, ipText))
        return Refusal{QStringLiteral("ip"), kIpMessage, {}};
    if (!checkGateway(gateway, mask, gatewayText, target.maskText, target.hostBits))
        return Refusal{QStringLiteral("gateway"), kGatewayMessage, {}};
    if (!checkMask(mask))
        return Refusal{QStringLiteral("mask"), kMaskMessage, {}};
    // Well formed, each value alone; together they must make a network the
    // adaptor can work on, or the run would end "successful" with the sign
    // unreachable.
    if (const auto wrong = senseCheck(ip, mask, gateway)) {
        switch (wrong->field) {
        case SenseRefusal::Field::Ip:
            return Refusal{QStringLiteral("ip"), kIpMessage + QStringLiteral(": ") + wrong->text,
                           wrong->text};
        case SenseRefusal::Field::Mask:
            return Refusal{QStringLiteral("mask"), kMaskMessage + QStringLiteral(": ") + wrong->text,
                           wrong->text};
        case SenseRefusal::Field::Gateway:
            return Refusal{QStringLiteral("gateway"), kGatewayMessage + QStringLiteral(": ") + wrong->text,
                           wrong->text};
        }
    }
    // Every value passed, so each reads as a number: from here on the address
    // and the gateway travel as numbers, and are written as plain dotted
    // decimal wherever they go out.
    target.macOctets = *macOctets(target.mac);
    target.ip = *quadValue(ip);
    target.mask = *quadValue(mask);
    target.gateway = *quadValue(gateway);
    // The setup menu is told the mask's true host bits, not only 8, 16 or 24.
    target.hostBits = *hostBitsOf(mask);
    return target;
}

bool SetupCommand::isRefusal(const QString& status) {
    for (const QString* message : {&kMacMessage, &kIpMessage, &kGatewayMessage, &kMaskMessage})
        if (status == *message || status.startsWith(*message + QStringLiteral(": ")))
            return true;
    return false;
}

bool SetupCommand::preCheckPasses(quint32 address) {
    m_parts.progress.enter(RunProgress::Stage::Checking, Sequencer::kProbesPerCycle);
    m_run.probesSent = 0;
    m_parts.window.waitUntil([this, address] { return pollPreCheck(address); });
    // An answering address has already been reported by the sequencer.
    return m_run.probeResult != 0;
}

bool SetupCommand::pollPreCheck(quint32 address) {
    if (m_run.probesSent == 0)
        m_parts.sequencer.armProbeCycle(address, RunState::kPreCheck);
    return m_run.probeCycleDone;
}
