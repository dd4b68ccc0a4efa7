#pragma once

#include <QString>

class SetupController;

// Puts the test text on the sign: connects to the sign's port at the new
// address (or, for an adaptor reached at the address it had and not yet power
// cycled, at that one) and hands it the two framed messages; the connection is
// closed once they have been sent.
class SignTest {
public:
    static constexpr int kSignPort = 3001;
    // The run's result once the sign has its messages (the status bar is emptied).
    inline static const QString kHandedOver = QStringLiteral("the test messages were handed to the sign");

    explicit SignTest(SetupController& controller)
        : m_controller(controller) {}
    void send();
    // signSocket's SendComplete.
    void messagesSent();

private:
    SetupController& m_controller;
};
