#include "setup/SetupMenuDialogue.h"

#include "address/AddressRules.h"
#include "setup/Form1.h"
#include "setup/Sequencer.h"

namespace {
const QString kCrLf = QStringLiteral("\r\n");
}

QString SetupMenuDialogue::latest() const {
    return f.m.mMenuRecv.at(Long(f.m.mMenuCount) - 1);
}

void SetupMenuDialogue::append() {
    f.appendTranscript(latest());
}

void SetupMenuDialogue::send(const QString& text) {
    f.ui.wsMenuTelnet->sendData(text);
}

void SetupMenuDialogue::step() {
    RunState& m = f.m;
    switch (m.mState) {
    case 0:
        // Wakes the menu; what the adaptor said before this is not matched.
        send(kCrLf);
        m.mState = 2;
        break;
    case 2:
        if (latest().right(14) == QLatin1String("Your choice ? ")) {
            append();
            send(QStringLiteral("0\n"));
            m.mCounter = 0;
            m.mState = 3;
        }
        break;
    case 3:
        // The four address octets keep the value the adaptor has taken; an
        // adaptor reached at the address it had is given the new one here.
        append();
        send(f.reachedAt().isEmpty()
                 ? kCrLf
                 : f.m.mIPAddress.section(QLatin1Char('.'), int(m.mCounter), int(m.mCounter)) + kCrLf);
        m.mCounter += 1;
        if (m.mCounter == 4) {
            m.mCounter = 0;
            m.mState = 4;
        }
        break;
    case 4:
        append();
        if (m.mCounter == 0) {
            if (latest().right(27).left(22) == QLatin1String("Set Gateway IP Address")) {
                send(QStringLiteral("y"));
                m.mCounter = 1;
            }
        } else if (m.mCounter < 4) {
            // The gateway boxes as they stand, blanks and all.
            send(f.field({4, int(m.mCounter) - 1}).text() + kCrLf);
            m.mCounter += 1;
        } else {
            send(f.field({4, 3}).text() + kCrLf);
            m.mState = 5;
            m.mCounter = 0;
        }
        break;
    case 5:
        if (AddressRules::trimSpaces(latest().right(17).left(12)) == QLatin1String("(0=default)")) {
            append();
            send(QString::number(m.mHostBits) + kCrLf);
            m.mState = 8;
        }
        break;
    case 8:
        append();
        send(kCrLf);
        m.mState = 9;
        break;
    case 9:
        if (latest().right(9) == QLatin1String("choice ? ")) {
            append();
            send(QStringLiteral("1") + kCrLf);
            m.mState = 10;
        }
        break;
    case 10:
        append();
        send(QStringLiteral("9600") + kCrLf);
        m.mCounter = 0;
        m.mState = 11;
        break;
    case 11:
        append();
        if (m.mCounter == 0) {
            send(QStringLiteral("4C") + kCrLf);
            m.mCounter = 1;
        } else {
            send(kCrLf);
            m.mCounter = 0;
            m.mState = 12;
        }
        break;
    case 12:
        append();
        send(QStringLiteral("03001") + kCrLf);
        m.mState = 13;
        break;
    case 13:
        if (m.mCounter < 12) {
            append();
            send(kCrLf);
            m.mCounter += 1;
        }
        if (m.mCounter == 12)
            m.mState = 6;
        break;
    case 6:
        if (latest().right(9) == QLatin1String("choice ? ")) {
            append();
            send(QStringLiteral("9") + kCrLf);
            m.mState = 7;
        }
        break;
    case 7:
        f.sequencer().closing([this] { f.ui.wsMenuTelnet->close(); });
        break;
    default:
        break;
    }
}
