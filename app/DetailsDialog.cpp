#include "app/DetailsDialog.h"

#include <QClipboard>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QVBoxLayout>

DetailsDialog::DetailsDialog(const DialogueTranscript& transcript, QWidget* parent)
    : QDialog(parent)
    , m_transcript(transcript) {
    setObjectName(QStringLiteral("DetailsDialog"));
    setWindowTitle(kTitle);

    m_text = new QPlainTextEdit(this);
    m_text->setObjectName(QStringLiteral("detailsText"));
    m_text->setReadOnly(true);
    m_text->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    QPushButton* copy = buttons->addButton(QStringLiteral("&Copy"), QDialogButtonBox::ActionRole);
    copy->setObjectName(QStringLiteral("detailsCopy"));
    QPushButton* save = buttons->addButton(QStringLiteral("&Save\u2026"), QDialogButtonBox::ActionRole);
    save->setObjectName(QStringLiteral("detailsSave"));
    connect(copy, &QPushButton::clicked, this, &DetailsDialog::copyAll);
    connect(save, &QPushButton::clicked, this, &DetailsDialog::save);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_text, 1);
    layout->addWidget(buttons);

    const QFontMetrics metrics(m_text->font());
    resize(metrics.horizontalAdvance(QLatin1Char('0')) * 90, metrics.height() * 24);
    refresh();
}

void DetailsDialog::refresh() {
    // One block a line: the last line's end would leave an empty block behind.
    QString text = m_transcript.text();
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    m_text->setPlainText(text);
    m_shown = m_transcript.entries().size();
    m_text->moveCursor(QTextCursor::End);
}

void DetailsDialog::added(const DialogueTranscript::Entry& entry) {
    if (m_transcript.entries().size() != m_shown + 1) {
        refresh();
        return;
    }
    // appendPlainText starts a line of its own: the entry's line end is not wanted twice.
    m_text->appendPlainText(DialogueTranscript::line(entry).chopped(1));
    m_shown += 1;
}

void DetailsDialog::copyAll() const {
    QGuiApplication::clipboard()->setText(m_transcript.text());
}

bool DetailsDialog::saveTo(const QString& path, QString* why) const {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text) || file.write(m_transcript.text().toUtf8()) < 0 ||
        !file.commit()) {
        if (why)
            *why = file.errorString();
        return false;
    }
    return true;
}

void DetailsDialog::save() {
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save the dialogue"),
                                                      QStringLiteral("netrika-dialogue.txt"),
                                                      QStringLiteral("Text (*.txt *.log)"));
    if (path.isEmpty())
        return;
    QString why;
    if (!saveTo(path, &why))
        QMessageBox::warning(this, kTitle, QStringLiteral("%1 was not saved: %2").arg(path, why));
}
