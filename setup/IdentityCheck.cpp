#include "setup/IdentityCheck.h"

#include "address/AddressRules.h"

bool IdentityCheck::passes(const QString& adaptorMac, quint32 address) {
    m_progress.enter(RunStage::Identifying);
    ArpOwner owner;
    for (int tries = 0; tries < kTries; ++tries) {
        owner = m_probe.whoHas(address);
        if (owner.outcome != ArpOwner::Silent)
            break;
    }
    const QString mac = AddressRules::dashedMac(adaptorMac);
    const QString at = AddressRules::dotted(address);
    QString refusal;
    RunOutcome outcome = RunOutcome::NotFound;
    switch (owner.outcome) {
    case ArpOwner::Answered:
        if (owner.mac == adaptorMac)
            return true;
        refusal = kOtherDevice.arg(mac, at, AddressRules::dashedMac(owner.mac));
        outcome = RunOutcome::OtherDevice;
        break;
    case ArpOwner::Silent:
        refusal = kNoAnswer.arg(mac, at);
        break;
    case ArpOwner::OffSegment:
        refusal = kOffSegment.arg(mac, at);
        outcome = RunOutcome::OffSegment;
        break;
    case ArpOwner::NotAsked:
        refusal = kNotAsked.arg(mac, at, owner.reason);
        outcome = RunOutcome::NotChecked;
        break;
    }
    m_status.showMessage(refusal);
    m_window.endRun(outcome);
    return false;
}
