#include "setup/CommandLineDialogue.h"

#include "setup/Form1.h"
#include "setup/Sequencer.h"

namespace {
// A privileged prompt: "Local_" and one more character, then ">> ".
bool isPrivilegedPrompt(const QString& p) {
    return p.startsWith(QLatin1String("Local_")) && p.endsWith(QLatin1String(">> "));
}
} // namespace

void CommandLineDialogue::send(const QString& line) {
    f.ui.wsClient->sendData(line + QChar(10));
}

void CommandLineDialogue::step() {
    RunState& m = f.m;
    const QString L = m.mRecv.at(Long(m.mCounter) - 1);
    const QString P = L.right(10);

    switch (m.mState) {
    case 0:
        if (L.right(10) == QLatin1String("Username> ")) {
            f.ui.Text5->setText(QStringLiteral("Username> "));
            send(QStringLiteral("hello"));
            m.mState = 1;
        }
        return;
    case 1:
        if (L.right(9).left(6) == QLatin1String("Local_")) {
            f.ui.Text5->setText(QStringLiteral("Local_"));
            send(QStringLiteral("SET PRIVILEGED"));
            m.mState = 2;
        }
        return;
    case 2:
        if (L.right(10) == QLatin1String("Password> ")) {
            f.ui.Text5->setText(QStringLiteral("Password> "));
            send(kPassword);
            m.mState = 3;
        }
        return;
    default:
        break;
    }

    // The privileged steps all wait for the same prompt.
    struct Row {
        Long state;
        QString line;
        Long next;
    };
    const Row rows[] = {
        {3, QStringLiteral("CHANGE IPAddress ") + m.mIPAddress, 4},
        {4, QStringLiteral("CHANGE Gateway ") + m.mGateway, 5},
        {5, QStringLiteral("CHANGE Subnet Mask ") + m.mSubnetMask, 10},
        {10, QStringLiteral("CHANGE SPEED 9600"), 14},
        {14, QStringLiteral("CHANGE CHARSIZE 8"), 15},
        {15, QStringLiteral("CHANGE STOPBITS 1"), 16},
        {16, QStringLiteral("CHANGE PARITY NONE"), 6},
        {6, QStringLiteral("Logout"), 7},
    };
    for (const Row& row : rows) {
        if (row.state != m.mState)
            continue;
        if (!isPrivilegedPrompt(P))
            return;
        f.ui.Text5->setText(P);
        send(row.line);
        if (row.next != 7) {
            m.mState = row.next;
            return;
        }
        // The adaptor ends the connection after the logout; the host's entry
        // for the address is no longer needed. An adaptor reached at the
        // address it had was given no entry.
        f.sequencer().closing([this] {
            f.m.mState = 7;
            if (f.reachedAt().isEmpty())
                f.releaseNeighbourEntry();
        });
        return;
    }
}
