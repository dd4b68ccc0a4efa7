#include "setup/RunOutcome.h"

namespace RunOutcomes {

QString reason(RunOutcome outcome) {
    switch (outcome) {
    case RunOutcome::Assigned:
        return QStringLiteral("assigned");
    case RunOutcome::Refused:
        return QStringLiteral("refused");
    case RunOutcome::AddressTaken:
        return QStringLiteral("address-taken");
    case RunOutcome::NotChecked:
        return QStringLiteral("not-checked");
    case RunOutcome::NoAnswer:
        return QStringLiteral("no-answer");
    case RunOutcome::Stalled:
        return QStringLiteral("stalled");
    case RunOutcome::NotFound:
        return QStringLiteral("not-found");
    case RunOutcome::OtherDevice:
        return QStringLiteral("other-device");
    case RunOutcome::OffSegment:
        return QStringLiteral("off-segment");
    case RunOutcome::SignTestFailed:
        return QStringLiteral("sign-test");
    case RunOutcome::Failed:
        return QStringLiteral("failed");
    case RunOutcome::Interrupted:
        return QStringLiteral("interrupted");
    case RunOutcome::InPlace:
        return QStringLiteral("in-place");
    }
    return QStringLiteral("failed");
}

int exitStatus(RunOutcome outcome) {
    switch (outcome) {
    case RunOutcome::Assigned:
    case RunOutcome::InPlace:
        return kSucceeded;
    case RunOutcome::Refused:
        return kRefused;
    case RunOutcome::Interrupted:
        return kInterrupted;
    default:
        return kFailed;
    }
}

} // namespace RunOutcomes
