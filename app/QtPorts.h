#pragma once

#include "base/CorePorts.h"
#include "base/WindowPorts.h"

#include <QColor>
#include <QFont>
#include <QObject>

#include <QPointer>
#include <QTimer>
#include <functional>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QStatusBar;
class QWidget;

// The Qt side of the ports through which the window's logic sees the window.

// An entry field: colourOf gives the background of each highlight.
class LineEditBox : public TextBox {
public:
    LineEditBox(QLineEdit& edit, std::function<QColor(FieldColour)> colourOf)
        : m_edit(edit)
        , m_colourOf(std::move(colourOf)) {}
    [[nodiscard]] QString text() const override;
    void setText(const QString& text) override;
    void setColour(FieldColour colour) override;
    void setFocus() override;
    void setReadOnly(bool readOnly) override;

private:
    QLineEdit& m_edit;
    std::function<QColor(FieldColour)> m_colourOf;
};

// The transcript box keeps its text exactly as written (carriage returns
// included), so that what the logic reads back is what it wrote.
class TranscriptBox : public TextBox {
public:
    explicit TranscriptBox(QPlainTextEdit& edit);
    [[nodiscard]] QString text() const override { return m_text; }
    void setText(const QString& text) override;
    void setColour(FieldColour) override {}
    void setFocus() override;

private:
    QPlainTextEdit& m_edit;
    QString m_text;
};

class PushButton : public Button {
public:
    explicit PushButton(QPushButton& button)
        : m_button(button) {}
    [[nodiscard]] bool enabled() const override;
    void setEnabled(bool enabled) override;
    void setFocus() override;

private:
    QPushButton& m_button;
};

class StatusLine : public StatusBar {
public:
    explicit StatusLine(QStatusBar& bar);
    [[nodiscard]] QString message() const override { return m_text; }
    // A message wider than the bar is shown in a narrower, smaller font
    // rather than cut off; the whole text is also the bar's tooltip.
    void showMessage(const QString& text) override;

private:
    QStatusBar& m_bar;
    QFont m_designed;
    QString m_text;
};

class OverrideCursor : public Pointer {
public:
    ~OverrideCursor() override;
    [[nodiscard]] MousePointer pointer() const override { return m_pointer; }
    void setPointer(MousePointer pointer) override;

private:
    MousePointer m_pointer = MousePointer::Default;
};

class ModalMessageBox : public MessageBox {
public:
    explicit ModalMessageBox(QWidget* parent)
        : m_parent(parent) {}
    int show(const QString& text, Buttons buttons, Icon icon, const QString& title) override;
    void ask(const QString& text, Buttons buttons, Icon icon, const QString& title,
             std::function<void(int)> answered) override;

private:
    QPointer<QWidget> m_parent;
};

class WindowFrame : public Frame {
public:
    explicit WindowFrame(QWidget& window)
        : m_window(window) {}
    void setTitle(const QString& title) override;
    void endProgram() override;

private:
    QWidget& m_window;
};
