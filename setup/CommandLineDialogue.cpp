#include "setup/CommandLineDialogue.h"

#include "setup/Sequencer.h"
#include "setup/SetupController.h"

namespace {
// A privileged prompt: "Local_" and one more character, then ">> ".
bool isPrivilegedPrompt(const QString& p) {
    return p.startsWith(QLatin1String("Local_")) && p.endsWith(QLatin1String(">> "));
}
} // namespace

void CommandLineDialogue::send(const QString& line) {
    m_controller.ports.commandLineSocket->sendData(line + QChar(10));
}

void CommandLineDialogue::step() {
    RunState& run = m_controller.run;
    const QString L = run.commandLineChunks.at(Long(run.counter) - 1);
    const QString P = L.right(10);

    switch (run.dialogueStep) {
    case 0:
        if (L.right(10) == QLatin1String("Username> ")) {
            m_controller.ports.transcriptBox->setText(QStringLiteral("Username> "));
            send(QStringLiteral("hello"));
            run.dialogueStep = 1;
        }
        return;
    case 1:
        if (L.right(9).left(6) == QLatin1String("Local_")) {
            m_controller.ports.transcriptBox->setText(QStringLiteral("Local_"));
            send(QStringLiteral("SET PRIVILEGED"));
            run.dialogueStep = 2;
        }
        return;
    case 2:
        if (L.right(10) == QLatin1String("Password> ")) {
            m_controller.ports.transcriptBox->setText(QStringLiteral("Password> "));
            send(kPassword);
            run.dialogueStep = 3;
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
        {3, QStringLiteral("CHANGE IPAddress ") + run.ip, 4},
        {4, QStringLiteral("CHANGE Gateway ") + run.gateway, 5},
        {5, QStringLiteral("CHANGE Subnet Mask ") + run.mask, 10},
        {10, QStringLiteral("CHANGE SPEED 9600"), 14},
        {14, QStringLiteral("CHANGE CHARSIZE 8"), 15},
        {15, QStringLiteral("CHANGE STOPBITS 1"), 16},
        {16, QStringLiteral("CHANGE PARITY NONE"), 6},
        {6, QStringLiteral("Logout"), 7},
    };
    for (const Row& row : rows) {
        if (row.state != run.dialogueStep)
            continue;
        if (!isPrivilegedPrompt(P))
            return;
        m_controller.ports.transcriptBox->setText(P);
        send(row.line);
        if (row.next != 7) {
            run.dialogueStep = row.next;
            return;
        }
        // The adaptor ends the connection after the logout; the host's entry
        // for the address is no longer needed. An adaptor reached at the
        // address it had was given no entry.
        m_controller.sequencer().closing([this] {
            m_controller.run.dialogueStep = 7;
            if (m_controller.reachedAt().isEmpty())
                m_controller.releaseNeighbourEntry();
        });
        return;
    }
}
