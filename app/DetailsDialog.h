#pragma once

#include "setup/DialogueTranscript.h"

#include <QDialog>

class QPlainTextEdit;

// "Details": the run's dialogue with the adaptor as it happens, each send and
// each chunk received on a line with its time, control characters shown, for
// a technician to copy or save for a support call. It follows the transcript
// while open and keeps no more than the transcript does.
class DetailsDialog : public QDialog {
    Q_OBJECT
public:
    inline static const QString kTitle = QStringLiteral("Details");

    DetailsDialog(const DialogueTranscript& transcript, QWidget* parent = nullptr);

    // Shows the transcript as it stands now.
    void refresh();
    // A new entry: added at the end, or the whole shown again where the
    // transcript has let its oldest entries go.
    void added(const DialogueTranscript::Entry& entry);
    void copyAll() const;
    // False, with why set, when the file cannot be written.
    bool saveTo(const QString& path, QString* why) const;

private:
    void save();

    const DialogueTranscript& m_transcript;
    QPlainTextEdit* m_text = nullptr;
    qsizetype m_shown = 0; // entries shown
};
