#include "setup/IdentityCheck.h"

#include "address/AddressRules.h"

#include "setup/SetupController.h"

bool IdentityCheck::passes(const QString& address) {
    m_controller.progress().enter(RunProgress::Stage::Identifying);
    ArpOwner owner;
    for (int tries = 0; tries < kTries; ++tries) {
        owner = m_controller.ports.probe->whoHas(address);
        if (owner.outcome != ArpOwner::Silent)
            break;
    }
    const QString mac = AddressRules::dashedMac(m_controller.run.mac);
    QString refusal;
    switch (owner.outcome) {
    case ArpOwner::Answered:
        if (owner.mac == m_controller.run.mac)
            return true;
        refusal = kOtherDevice.arg(mac, address, AddressRules::dashedMac(owner.mac));
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
    m_controller.ports.status->setSimpleText(refusal);
    m_controller.unlockWindow();
    return false;
}
