#include "setup/ReceivePath.h"

#include "setup/RunWindow.h"

void ReceivePath::commandLineDataArrived() {
    try {
        const Long n = m_run.counter;
        // Without keeping the old contents: only the latest chunk is ever read.
        m_run.commandLineChunks.redim(n, false);
        m_run.commandLineChunks[n] = m_commandLine.getData();
        if (!m_run.commandLineChunks.at(n).isEmpty()) {
            m_transcriptBox.setText(m_run.commandLineChunks.at(n));
            m_run.counter += 1;
        }
    } catch (const RunTimeError&) {
        // A failed read or a counter overflow ends the handler quietly.
    }
}

void ReceivePath::setupMenuDataArrived() {
    try {
        const QString s = m_setupMenu.getData();
        if (m_run.dialogueStep != 0) {
            m_run.menuChunks.redim(m_run.menuChunkCount, true);
            // Only the latest chunk is ever read: an older one gives back its
            // memory but keeps its place, so the count and indexes stand.
            if (m_run.menuChunkCount > 0)
                m_run.menuChunks[Long(m_run.menuChunkCount) - 1] = QString();
            m_run.menuChunks[m_run.menuChunkCount] = s;
            appendTranscript(m_transcriptBox, s);
            m_run.menuChunkCount += 1;
        } else {
            // Before the dialogue's first step: shown, not stored.
            appendTranscript(m_transcriptBox, s);
        }
    } catch (const RunTimeError&) {
    }
}

void ReceivePath::commandLineClosed() {
    m_transcriptBox.setText(QStringLiteral("Disconnected"));
}
