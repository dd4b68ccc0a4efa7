#include "setup/SetupMenuDialogue.h"

#include "address/AddressRules.h"
#include "setup/Sequencer.h"
#include "setup/SetupController.h"

namespace {
const QString kCrLf = QStringLiteral("\r\n");
}

QString SetupMenuDialogue::latest() const {
    return m_controller.run.menuChunks.at(Long(m_controller.run.menuChunkCount) - 1);
}

void SetupMenuDialogue::append() {
    m_controller.appendTranscript(latest());
}

void SetupMenuDialogue::send(const QString& text) {
    m_controller.ports.setupMenuSocket->sendData(text);
}

void SetupMenuDialogue::step() {
    RunState& run = m_controller.run;
    switch (run.dialogueStep) {
    case 0:
        // Wakes the menu; what the adaptor said before this is not matched.
        send(kCrLf);
        run.dialogueStep = 2;
        break;
    case 2:
        if (latest().right(14) == QLatin1String("Your choice ? ")) {
            append();
            send(QStringLiteral("0\n"));
            run.counter = 0;
            run.dialogueStep = 3;
        }
        break;
    case 3:
        // The four address octets keep the value the adaptor has taken; an
        // adaptor reached at the address it had is given the new one here.
        append();
        send(m_controller.reachedAt().isEmpty()
                 ? kCrLf
                 : m_controller.run.ip.section(QLatin1Char('.'), int(run.counter), int(run.counter)) + kCrLf);
        run.counter += 1;
        if (run.counter == 4) {
            run.counter = 0;
            run.dialogueStep = 4;
        }
        break;
    case 4:
        append();
        if (run.counter == 0) {
            if (latest().right(27).left(22) == QLatin1String("Set Gateway IP Address")) {
                send(QStringLiteral("y"));
                run.counter = 1;
            }
        } else if (run.counter < 4) {
            // The gateway boxes as they stand, blanks and all.
            send(m_controller.field({4, int(run.counter) - 1}).text() + kCrLf);
            run.counter += 1;
        } else {
            send(m_controller.field({4, 3}).text() + kCrLf);
            run.dialogueStep = 5;
            run.counter = 0;
        }
        break;
    case 5:
        if (AddressRules::trimSpaces(latest().right(17).left(12)) == QLatin1String("(0=default)")) {
            append();
            send(QString::number(run.hostBits) + kCrLf);
            run.dialogueStep = 8;
        }
        break;
    case 8:
        append();
        send(kCrLf);
        run.dialogueStep = 9;
        break;
    case 9:
        if (latest().right(9) == QLatin1String("choice ? ")) {
            append();
            send(QStringLiteral("1") + kCrLf);
            run.dialogueStep = 10;
        }
        break;
    case 10:
        append();
        send(QStringLiteral("9600") + kCrLf);
        run.counter = 0;
        run.dialogueStep = 11;
        break;
    case 11:
        append();
        if (run.counter == 0) {
            send(QStringLiteral("4C") + kCrLf);
            run.counter = 1;
        } else {
            send(kCrLf);
            run.counter = 0;
            run.dialogueStep = 12;
        }
        break;
    case 12:
        append();
        send(QStringLiteral("03001") + kCrLf);
        run.dialogueStep = 13;
        break;
    case 13:
        if (run.counter < 12) {
            append();
            send(kCrLf);
            run.counter += 1;
        }
        if (run.counter == 12)
            run.dialogueStep = 6;
        break;
    case 6:
        if (latest().right(9) == QLatin1String("choice ? ")) {
            append();
            send(QStringLiteral("9") + kCrLf);
            run.dialogueStep = 7;
        }
        break;
    case 7:
        m_controller.sequencer().closing([this] { m_controller.ports.setupMenuSocket->close(); });
        break;
    default:
        break;
    }
}
