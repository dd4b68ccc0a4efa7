#include "setup/ReceivePath.h"

#include "setup/Form1.h"

namespace {
const QString kLineEnd = QStringLiteral("\r\n");
}

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
            f.m.mMenuRecv[f.m.mMenuCount] = s;
            f.ui.Text5->setText(f.ui.Text5->text() + kLineEnd + s);
            f.m.mMenuCount += 1;
        } else {
            // Before the dialogue's first step: shown, not stored.
            f.ui.Text5->setText(f.ui.Text5->text() + kLineEnd + s);
        }
    } catch (const RunTimeError&) {
    }
}

void ReceivePath::clientClose() {
    f.ui.Text5->setText(QStringLiteral("Disconnected"));
}
