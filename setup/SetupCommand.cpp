#include "setup/SetupCommand.h"

#include "address/AddressRules.h"
#include "setup/Form1.h"

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

        if (!checksPass())
            return;

        f.lockWindow();
        f.m.mPingCount = 0;
        f.waitUntil([this] { return ProbeTarget() != kFalse; });

        // An answering address has already been reported by the sequencer.
        if (f.m.mPingResult == 0)
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

bool SetupCommand::checksPass() {
    using namespace AddressRules;
    const QString* failure = nullptr;
    if (!CheckMacAddress(texts<6>(f, 1), f.m.mMacAddress))
        failure = &kMacMessage;
    else if (!CheckIPAddress(texts<4>(f, 2), f.m.mIPAddress))
        failure = &kIpMessage;
    else if (!CheckGateway(texts<4>(f, 4), texts<4>(f, 3), f.m.mGateway, f.m.mSubnetMask, f.m.mHostBits))
        failure = &kGatewayMessage;
    else if (!CheckSubnetMask(texts<4>(f, 3)))
        failure = &kMaskMessage;
    if (failure)
        f.ui.status->setSimpleText(*failure);
    return failure == nullptr;
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
