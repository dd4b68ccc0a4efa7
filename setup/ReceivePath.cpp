#include "setup/ReceivePath.h"

#include "setup/SetupController.h"

void ReceivePath::clientDataArrival() {
    try {
        const Long n = m_controller.run.counter;
        // Without keeping the old contents: only the latest chunk is ever read.
        m_controller.run.commandLineChunks.redim(n, false);
        m_controller.run.commandLineChunks[n] = m_controller.ports.commandLineSocket->getData();
        if (!m_controller.run.commandLineChunks.at(n).isEmpty()) {
            m_controller.ports.transcriptBox->setText(m_controller.run.commandLineChunks.at(n));
            m_controller.run.counter += 1;
        }
    } catch (const RunTimeError&) {
        // A failed read or a counter overflow ends the handler quietly.
    }
}

void ReceivePath::menuDataArrival() {
    try {
        const QString s = m_controller.ports.setupMenuSocket->getData();
        if (m_controller.run.dialogueStep != 0) {
            m_controller.run.menuChunks.redim(m_controller.run.menuChunkCount, true);
            // Only the latest chunk is ever read: an older one gives back its
            // memory but keeps its place, so the count and indexes stand.
            if (m_controller.run.menuChunkCount > 0)
                m_controller.run.menuChunks[Long(m_controller.run.menuChunkCount) - 1] = QString();
            m_controller.run.menuChunks[m_controller.run.menuChunkCount] = s;
            m_controller.appendTranscript(s);
            m_controller.run.menuChunkCount += 1;
        } else {
            // Before the dialogue's first step: shown, not stored.
            m_controller.appendTranscript(s);
        }
    } catch (const RunTimeError&) {
    }
}

void ReceivePath::clientClose() {
    m_controller.ports.transcriptBox->setText(QStringLiteral("Disconnected"));
}
