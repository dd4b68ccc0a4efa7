#include "setup/IdentityCheck.h"

#include "setup/Form1.h"

#include <QStringList>

QString IdentityCheck::dashed(const QString& mac) {
    QStringList pairs;
    for (int i = 0; i < 12; i += 2)
        pairs << mac.mid(i, 2);
    return pairs.join(QLatin1Char('-'));
}

bool IdentityCheck::passes(const QString& address) {
    f.progress().enter(RunProgress::Stage::Identifying);
    ArpOwner owner;
    for (int tries = 0; tries < kTries; ++tries) {
        owner = f.ui.probe->WhoHas(address);
        if (owner.outcome != ArpOwner::Silent)
            break;
    }
    const QString mac = dashed(f.m.mMacAddress);
    QString refusal;
    switch (owner.outcome) {
    case ArpOwner::Answered:
        if (owner.mac == f.m.mMacAddress)
            return true;
        refusal = kOtherDevice.arg(mac, address, dashed(owner.mac));
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
