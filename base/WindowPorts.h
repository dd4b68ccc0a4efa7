#pragma once

#include <QString>
#include <functional>

// What the window's logic sees of the window: small interfaces that the real
// widgets implement, and that tests implement with fakes. None of them holds a
// rule of the tool; the rules live in the logic that calls them.

// One of the eighteen entry fields: array 1 (MAC, indexes 0..5), 2 (IP),
// 3 (subnet mask) or 4 (gateway), indexes 0..3.
struct FieldId {
    int array = 1;
    int index = 0;
    friend bool operator==(FieldId, FieldId) = default;
};

// Background colours of the eighteen entry fields: the field with the focus is
// Active, all others Inactive.
enum class FieldColour { Inactive, Active };

// An entry field or the transcript box. Writing a text that differs from the
// current one raises the field's Change at once, nested inside the write; an
// identical write raises nothing.
class TextBox {
public:
    virtual ~TextBox() = default;
    [[nodiscard]] virtual QString text() const = 0;
    virtual void setText(const QString& text) = 0;
    virtual void setColour(FieldColour colour) = 0;
    virtual void setFocus() = 0;
    // Read-only: its text can be read and copied, not changed by the user.
    virtual void setReadOnly(bool readOnly) { Q_UNUSED(readOnly) }
};

class Button {
public:
    virtual ~Button() = default;
    [[nodiscard]] virtual bool enabled() const = 0;
    virtual void setEnabled(bool enabled) = 0;
    virtual void setFocus() = 0;
};

// The status bar's single line of text.
class StatusBar {
public:
    virtual ~StatusBar() = default;
    [[nodiscard]] virtual QString message() const = 0;
    virtual void showMessage(const QString& text) = 0;
};

// The sequencer's timer. Enabling it while it already runs leaves its period
// running (the next tick is not pushed back).
class Timer {
public:
    virtual ~Timer() = default;
    [[nodiscard]] virtual bool enabled() const = 0;
    virtual void setEnabled(bool enabled) = 0;
    [[nodiscard]] virtual int interval() const = 0;
    virtual void setInterval(int milliseconds) = 0;
};

// The application-wide mouse pointer.
enum class MousePointer { Default, Busy };
class Pointer {
public:
    virtual ~Pointer() = default;
    [[nodiscard]] virtual MousePointer pointer() const = 0;
    virtual void setPointer(MousePointer pointer) = 0;
};

// A modal message box. An empty title means the application's title.
class MessageBox {
public:
    enum Buttons { OkOnly = 0, YesNo = 4 };
    enum Icon { NoIcon = 0, Exclamation = 48 };
    enum Result { Ok = 1, Yes = 6, No = 7 };
    virtual ~MessageBox() = default;
    // Shows the box and waits for the answer.
    virtual int show(const QString& text, Buttons buttons, Icon icon, const QString& title) = 0;
    // Shows the box and returns; answered is called with the answer once it
    // is given. A box that answers at once may call it before returning.
    virtual void ask(const QString& text, Buttons buttons, Icon icon, const QString& title,
                     std::function<void(int)> answered) {
        answered(show(text, buttons, icon, title));
    }
};

// Waiting while the window keeps handling its events: returns once done()
// holds. The real pump blocks in the event loop between checks (no CPU while
// idle); a test pump delivers scripted events instead.
class EventPump {
public:
    virtual ~EventPump() = default;
    virtual void waitUntil(const std::function<bool()>& done) = 0;
};

// The window frame: its title, and ending the program.
class Frame {
public:
    virtual ~Frame() = default;
    virtual void setTitle(const QString& title) = 0;
    // Ends the program from wherever it is called: waits are abandoned and no
    // timer tick or socket event is handled any more.
    virtual void endProgram() = 0;
};
