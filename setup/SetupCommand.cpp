#include "setup/SetupCommand.h"

#include "setup/Sequencer.h"
#include "setup/SetupController.h"

namespace {
template <std::size_t N> std::array<QString, N> texts(const SetupController& controller, int array) {
    std::array<QString, N> out;
    for (std::size_t i = 0; i < N; ++i)
        out[i] = controller.field({array, static_cast<int>(i)}).text();
    return out;
}
} // namespace

void SetupCommand::run() {
    try {
        m_controller.ports.status->setSimpleText(kInProcess);
        // A dialogue abandoned by this new run leaves no entry behind.
        m_controller.releaseLeftoverEntry();
        m_controller.run.mac.clear();
        m_controller.run.ip.clear();
        m_controller.run.gateway.clear();
        m_controller.run.mask.clear();
        m_controller.run.hostBits = 8;
        m_controller.reachingAt(QString());

        if (!checksPass())
            return;

        // An adaptor that already has an address is reached there: the same
        // checks, but its identity is made sure of first, and the new address
        // is free unless it is the one the adaptor has.
        const QString current = m_controller.currentAddressFor(m_controller.run.mac);
        if (!current.isEmpty()) {
            if (AddressRules::macFamily(m_controller.run.mac) == AddressRules::kUnknownFamily) {
                m_controller.ports.status->setSimpleText(kFamilyMessage);
                return;
            }
            m_controller.lockWindow();
            if (!m_controller.identityPasses(current))
                return;
            if (current != m_controller.run.ip && !preCheckPasses())
                return;
            m_controller.readdress(current);
            return;
        }

        m_controller.lockWindow();
        if (!preCheckPasses())
            return;

        switch (AddressRules::macFamily(m_controller.run.mac)) {
        case AddressRules::kBroadcastFamily:
            m_controller.assignByDatagram();
            break;
        case AddressRules::kArpFamily:
            m_controller.assignByNeighbourEntry();
            break;
        default:
            m_controller.ports.status->setSimpleText(kFamilyMessage);
            m_controller.unlockWindow();
            break;
        }
    } catch (const RunTimeError& e) {
        m_controller.ports.status->setSimpleText(e.report(QStringLiteral(" (SetupIP)")));
        m_controller.unlockWindow();
    }
}

std::optional<SetupCommand::Refusal> SetupCommand::firstFailure(const AddressRules::MacTexts& mac,
                                                                const AddressRules::QuadTexts& ip,
                                                                const AddressRules::QuadTexts& mask,
                                                                const AddressRules::QuadTexts& gateway,
                                                                RunState& run) {
    using namespace AddressRules;
    if (!checkMac(mac, run.mac))
        return Refusal{QStringLiteral("mac"), kMacMessage, {}};
    if (!checkIp(ip, run.ip))
        return Refusal{QStringLiteral("ip"), kIpMessage, {}};
    if (!checkGateway(gateway, mask, run.gateway, run.mask, run.hostBits))
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
    // The setup menu is told the mask's true host bits, not only 8, 16 or 24.
    run.hostBits = *hostBitsOf(mask);
    return std::nullopt;
}

bool SetupCommand::isRefusal(const QString& status) {
    for (const QString* message : {&kMacMessage, &kIpMessage, &kGatewayMessage, &kMaskMessage})
        if (status == *message || status.startsWith(*message + QStringLiteral(": ")))
            return true;
    return false;
}

bool SetupCommand::preCheckPasses() {
    m_controller.progress().enter(RunProgress::Stage::Checking, Sequencer::kProbesPerCycle);
    m_controller.run.probesSent = 0;
    m_controller.waitUntil([this] { return pollPreCheck(); });
    // An answering address has already been reported by the sequencer.
    return m_controller.run.probeResult != 0;
}

bool SetupCommand::checksPass() {
    const auto failure = firstFailure(texts<6>(m_controller, 1), texts<4>(m_controller, 2),
                                      texts<4>(m_controller, 3), texts<4>(m_controller, 4), m_controller.run);
    if (failure)
        m_controller.ports.status->setSimpleText(failure->status);
    return !failure;
}

bool SetupCommand::pollPreCheck() {
    if (m_controller.run.probesSent == 0) {
        m_controller.run.phase = RunState::kProbe;
        m_controller.run.probeCycle = RunState::kPreCheck;
        m_controller.run.probeCycleDone = false;
        m_controller.ports.tickTimer->setEnabled(true);
    }
    return m_controller.run.probeCycleDone;
}
