#pragma once

#include <QString>

class SetupController;

// The dialogue of the broadcast route: the adaptor's numbered setup menu. On
// each tick one item is typed: wake the menu, the server settings (address
// kept, gateway, host bits), the channel settings of the sign's serial line,
// then save.
class SetupMenuDialogue {
public:
    explicit SetupMenuDialogue(SetupController& controller)
        : m_controller(controller) {}
    void step();

private:
    // The latest stored chunk; a run-time error while nothing is stored.
    [[nodiscard]] QString latest() const;
    // Extends the transcript with the latest chunk.
    void append();
    void send(const QString& text);
    SetupController& m_controller;
};
