#include "setup/SetupCommand.h"

#include "setup/Form1.h"
#include "setup/Sequencer.h"

namespace {
template <std::size_t N> std::array<QString, N> texts(const Form1& f, int array) {
    std::array<QString, N> out;
    for (std::size_t i = 0; i < N; ++i)
        out[i] = f.field({array, static_cast<int>(i)}).text();
    return out;
}
} // namespace

void SetupCommand::run() {
    try {
        f.ui.status->setSimpleText(kInProcess);
        // A dialogue abandoned by this new run leaves no entry behind.
        f.releaseLeftoverEntry();
        f.m.mMacAddress.clear();
        f.m.mIPAddress.clear();
        f.m.mGateway.clear();
        f.m.mSubnetMask.clear();
        f.m.mHostBits = 8;
        f.reachingAt(QString());

        if (!checksPass())
            return;

        // An adaptor that already has an address is reached there: the same
        // checks, but its identity is made sure of first, and the new address
        // is free unless it is the one the adaptor has.
        const QString current = f.currentAddressFor(f.m.mMacAddress);
        if (!current.isEmpty()) {
            if (AddressRules::MacFamily(f.m.mMacAddress) == AddressRules::kUnknownFamily) {
                f.ui.status->setSimpleText(kFamilyMessage);
                return;
            }
            f.lockWindow();
            if (!f.identityPasses(current))
                return;
            if (current != f.m.mIPAddress && !preCheckPasses())
                return;
            f.Readdress(current);
            return;
        }

        f.lockWindow();
        if (!preCheckPasses())
            return;

        switch (AddressRules::MacFamily(f.m.mMacAddress)) {
        case AddressRules::kBroadcastFamily:
            f.SetBroadcastIP();
            break;
        case AddressRules::kArpFamily:
            f.SetIPAddr();
            break;
        default:
            f.ui.status->setSimpleText(kFamilyMessage);
            f.unlockWindow();
            break;
        }
    } catch (const RunTimeError& e) {
        f.ui.status->setSimpleText(e.report(QStringLiteral(" (SetupIP)")));
        f.unlockWindow();
    }
}

std::optional<SetupCommand::Refusal> SetupCommand::firstFailure(const AddressRules::MacTexts& mac,
                                                                const AddressRules::QuadTexts& ip,
                                                                const AddressRules::QuadTexts& mask,
                                                                const AddressRules::QuadTexts& gateway,
                                                                RunState& m) {
    using namespace AddressRules;
    if (!CheckMacAddress(mac, m.mMacAddress))
        return Refusal{QStringLiteral("mac"), kMacMessage, {}};
    if (!CheckIPAddress(ip, m.mIPAddress))
        return Refusal{QStringLiteral("ip"), kIpMessage, {}};
    if (!CheckGateway(gateway, mask, m.mGateway, m.mSubnetMask, m.mHostBits))
        return Refusal{QStringLiteral("gateway"), kGatewayMessage, {}};
    if (!CheckSubnetMask(mask))
        return Refusal{QStringLiteral("mask"), kMaskMessage, {}};
    // Well formed, each value alone; together they must make a network the
    // adaptor can work on, or the run would end "successful" with the sign
    // unreachable.
    if (const auto wrong = SenseCheck(ip, mask, gateway)) {
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
    m.mHostBits = *hostBitsOf(mask);
    return std::nullopt;
}

bool SetupCommand::isRefusal(const QString& status) {
    for (const QString* message : {&kMacMessage, &kIpMessage, &kGatewayMessage, &kMaskMessage})
        if (status == *message || status.startsWith(*message + QStringLiteral(": ")))
            return true;
    return false;
}

bool SetupCommand::preCheckPasses() {
    f.progress().enter(RunProgress::Stage::Checking, Sequencer::kProbesPerCycle);
    f.m.mPingCount = 0;
    f.waitUntil([this] { return ProbeTarget() != kFalse; });
    // An answering address has already been reported by the sequencer.
    return f.m.mPingResult != 0;
}

bool SetupCommand::checksPass() {
    const auto failure = firstFailure(texts<6>(f, 1), texts<4>(f, 2), texts<4>(f, 3), texts<4>(f, 4), f.m);
    if (failure)
        f.ui.status->setSimpleText(failure->status);
    return !failure;
}

Flag SetupCommand::ProbeTarget() {
    if (f.m.mPingCount == 0) {
        f.m.mTimerState = RunState::kProbe;
        f.m.mProbeMode = RunState::kPreCheck;
        f.m.mProbeDone = kFalse;
        f.ui.Timer1->setEnabled(true);
    }
    return f.m.mProbeDone;
}
