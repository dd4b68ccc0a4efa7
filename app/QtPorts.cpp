#include "app/QtPorts.h"

#include "setup/AppInfo.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>

#include <memory>

QString LineEditBox::text() const {
    return m_edit.text();
}

void LineEditBox::setText(const QString& text) {
    // QLineEdit raises textChanged at once, nested, only when the text differs.
    m_edit.setText(text);
}

void LineEditBox::setColour(FieldColour colour) {
    QPalette palette = m_edit.palette();
    palette.setColor(QPalette::Base, m_colourOf(colour));
    m_edit.setPalette(palette);
}

void LineEditBox::setReadOnly(bool readOnly) {
    m_edit.setReadOnly(readOnly);
}

void LineEditBox::setFocus() {
    m_edit.setFocus(Qt::OtherFocusReason);
}

TranscriptBox::TranscriptBox(QPlainTextEdit& edit)
    : m_edit(edit)
    , m_text(edit.toPlainText()) {}

void TranscriptBox::setText(const QString& text) {
    m_text = text;
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    m_edit.setPlainText(shown);
}

void TranscriptBox::setFocus() {
    m_edit.setFocus(Qt::OtherFocusReason);
}

bool PushButton::enabled() const {
    return m_button.isEnabled();
}

void PushButton::setEnabled(bool enabled) {
    m_button.setEnabled(enabled);
}

void PushButton::setFocus() {
    m_button.setFocus(Qt::OtherFocusReason);
}

StatusLine::StatusLine(QStatusBar& bar)
    : m_bar(bar)
    , m_designed(bar.font()) {}

void StatusLine::showMessage(const QString& text) {
    m_text = text;
    // The bar draws its message 6 px in from the left and stops 12 px short
    // of the right edge; past that a message is cut off.
    constexpr int margins = 6 + 12;
    const int room = m_bar.width() - margins;
    QFont font = m_designed;
    if (QFontMetrics(font).horizontalAdvance(text) > room) {
        font.setStretch(QFont::SemiCondensed);
        while (QFontMetrics(font).horizontalAdvance(text) > room && font.pointSizeF() > 6.0)
            font.setPointSizeF(font.pointSizeF() - 0.25);
    }
    m_bar.setFont(font);
    m_bar.setToolTip(text);
    m_bar.showMessage(text);
}

OverrideCursor::~OverrideCursor() {
    if (m_pointer == MousePointer::Busy && qApp)
        QGuiApplication::restoreOverrideCursor();
}

void OverrideCursor::setPointer(MousePointer pointer) {
    if (pointer == m_pointer)
        return;
    if (pointer == MousePointer::Busy)
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QGuiApplication::restoreOverrideCursor();
    m_pointer = pointer;
}

namespace {
QMessageBox* makeBox(QWidget* parent, const QString& text, MessageBox::Buttons buttons, MessageBox::Icon icon,
                     const QString& title) {
    auto* box = new QMessageBox(parent);
    box->setWindowTitle(title.isEmpty() ? AppInfo::kTitle : title);
    box->setText(text);
    box->setIcon(icon == MessageBox::Exclamation ? QMessageBox::Warning : QMessageBox::NoIcon);
    if (buttons == MessageBox::YesNo)
        box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    else
        box->setStandardButtons(QMessageBox::Ok);
    return box;
}

int answerOf(int button) {
    switch (button) {
    case QMessageBox::Yes:
        return MessageBox::Yes;
    case QMessageBox::No:
        return MessageBox::No;
    default:
        return MessageBox::Ok;
    }
}
} // namespace

int ModalMessageBox::show(const QString& text, Buttons buttons, Icon icon, const QString& title) {
    std::unique_ptr<QMessageBox> box(makeBox(m_parent, text, buttons, icon, title));
    return answerOf(box->exec());
}

// Modal to the whole program as show()'s box is, but the event loop is the
// program's own: the run's events go on while the question waits.
void ModalMessageBox::ask(const QString& text, Buttons buttons, Icon icon, const QString& title,
                          std::function<void(int)> answered) {
    QMessageBox* box = makeBox(m_parent, text, buttons, icon, title);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(true);
    QObject::connect(box, &QMessageBox::finished, box,
                     [answered = std::move(answered)](int button) { answered(answerOf(button)); });
    box->show();
}

void WindowFrame::setTitle(const QString& title) {
    m_window.setWindowTitle(title);
}

void WindowFrame::endProgram() {
    m_window.hide();
    QCoreApplication::exit(0);
}
