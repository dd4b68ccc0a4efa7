#include "setup/ReceivePath.h"

#include "setup/Form1.h"

void ReceivePath::clientDataArrival() {
    try {
        const Long n = f.m.mCounter;
        // Without keeping the old contents: only the latest chunk is ever read.
        f.m.mRecv.redim(n, false);
        f.m.mRecv[n] = f.ui.wsClient->getData();
        if (!f.m.mRecv.at(n).isEmpty()) {
            f.ui.Text5->setText(f.m.mRecv.at(n));
            f.m.mCounter += 1;
        }
    } catch (const RunTimeError&) {
        // A failed read or a counter overflow ends the handler quietly.
    }
}

void ReceivePath::menuDataArrival() {
    try {
        const QString s = f.ui.wsMenuTelnet->getData();
        if (f.m.mState != 0) {
            f.m.mMenuRecv.redim(f.m.mMenuCount, true);
            // Only the latest chunk is ever read: an older one gives back its
            // memory but keeps its place, so the count and indexes stand.
            if (f.m.mMenuCount > 0)
                f.m.mMenuRecv[Long(f.m.mMenuCount) - 1] = QString();
            f.m.mMenuRecv[f.m.mMenuCount] = s;
            f.appendTranscript(s);
            f.m.mMenuCount += 1;
        } else {
            // Before the dialogue's first step: shown, not stored.
            f.appendTranscript(s);
        }
    } catch (const RunTimeError&) {
    }
}

void ReceivePath::clientClose() {
    f.ui.Text5->setText(QStringLiteral("Disconnected"));
}
