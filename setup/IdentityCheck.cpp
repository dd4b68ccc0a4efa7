#include "setup/IdentityCheck.h"

#include "address/AddressRules.h"

#include "setup/Form1.h"


bool IdentityCheck::passes(const QString& address) {
    f.progress().enter(RunProgress::Stage::Identifying);
    ArpOwner owner;
    for (int tries = 0; tries < kTries; ++tries) {
        owner = f.ui.probe->WhoHas(address);
        if (owner.outcome != ArpOwner::Silent)
            break;
    }
    const QString mac = AddressRules::DashedMac(f.m.mMacAddress);
    QString refusal;
    switch (owner.outcome) {
    case ArpOwner::Answered:
        if (owner.mac == f.m.mMacAddress)
            return true;
        refusal = kOtherDevice.arg(mac, address, AddressRules::DashedMac(owner.mac));
        break;
    case ArpOwner::Silent:
        refusal = kNoAnswer.arg(mac, address);
        break;
    case ArpOwner::OffSegment:
        refusal = kOffSegment.arg(mac, address);
        break;
    case ArpOwner::NotAsked:
        refusal = kNotAsked.arg(mac, address, owner.reason);
        break;
    }
    f.ui.status->setSimpleText(refusal);
    f.unlockWindow();
    return false;
}
