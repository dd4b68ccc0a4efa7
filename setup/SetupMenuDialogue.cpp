#include "setup/SetupMenuDialogue.h"

#include "setup/RunWindow.h"

namespace {
// Octet i (0 first) of an address, in plain decimal.
QString octet(quint32 address, int i) {
    return QString::number(address >> (8 * (3 - i)) & 0xff);
}
const QString kCrLf = QStringLiteral("\r\n");
} // namespace

void SetupMenuDialogue::begin(const AdaptorTarget& target, bool giveAddress) {
    m_target = target;
    m_giveAddress = giveAddress;
    // The first step fails until the connection stands, and is tried again.
    m_run.dialogueStep = Wake;
    m_run.menuChunkCount = 0;
}

QString SetupMenuDialogue::latest() const {
    return m_run.menuChunks.at(Long(m_run.menuChunkCount) - 1);
}

void SetupMenuDialogue::append() {
    appendTranscript(m_transcriptBox, latest());
}

void SetupMenuDialogue::send(const QString& text) {
    m_socket.sendData(text);
}

bool SetupMenuDialogue::step() {
    RunState& run = m_run;
    switch (run.dialogueStep) {
    case Wake:
        // Wakes the menu; what the adaptor said before this is not matched.
        send(kCrLf);
        run.dialogueStep = OpenServerSettings;
        break;
    case OpenServerSettings:
        if (latest().right(14) == QLatin1String("Your choice ? ")) {
            append();
            send(QStringLiteral("0\n"));
            run.counter = 0;
            run.dialogueStep = Address;
        }
        break;
    case Address:
        // The four address octets keep the value the adaptor has taken; an
        // adaptor reached at the address it had is given the new one here.
        append();
        send(m_giveAddress ? octet(m_target.ip, int(run.counter)) + kCrLf : kCrLf);
        run.counter += 1;
        if (run.counter == 4) {
            run.counter = 0;
            run.dialogueStep = Gateway;
        }
        break;
    case Gateway:
        append();
        if (run.counter == 0) {
            if (latest().right(27).left(22) == QLatin1String("Set Gateway IP Address")) {
                send(QStringLiteral("y"));
                run.counter = 1;
            }
        } else if (run.counter < 4) {
            // The checked gateway's octets, first to third.
            send(octet(m_target.gateway, int(run.counter) - 1) + kCrLf);
            run.counter += 1;
        } else {
            send(octet(m_target.gateway, 3) + kCrLf);
            run.dialogueStep = HostBits;
            run.counter = 0;
        }
        break;
    case HostBits:
        if (AddressRules::trimSpaces(latest().right(17).left(12)) == QLatin1String("(0=default)")) {
            append();
            send(QString::number(m_target.hostBits) + kCrLf);
            run.dialogueStep = EndServerSettings;
        }
        break;
    case EndServerSettings:
        append();
        send(kCrLf);
        run.dialogueStep = OpenChannel;
        break;
    case OpenChannel:
        if (latest().right(9) == QLatin1String("choice ? ")) {
            append();
            send(QStringLiteral("1") + kCrLf);
            run.dialogueStep = Baud;
        }
        break;
    case Baud:
        append();
        send(QStringLiteral("9600") + kCrLf);
        run.counter = 0;
        run.dialogueStep = InterfaceMode;
        break;
    case InterfaceMode:
        append();
        if (run.counter == 0) {
            send(QStringLiteral("4C") + kCrLf);
            run.counter = 1;
        } else {
            send(kCrLf);
            run.counter = 0;
            run.dialogueStep = Port;
        }
        break;
    case Port:
        append();
        send(QStringLiteral("03001") + kCrLf);
        run.dialogueStep = KeepChannelItems;
        break;
    case KeepChannelItems:
        if (run.counter < 12) {
            append();
            send(kCrLf);
            run.counter += 1;
        }
        if (run.counter == 12)
            run.dialogueStep = Save;
        break;
    case Save:
        if (latest().right(9) == QLatin1String("choice ? ")) {
            append();
            send(QStringLiteral("9") + kCrLf);
            run.dialogueStep = Saved;
        }
        break;
    case Saved:
        return true;
    default:
        break;
    }
    return false;
}
