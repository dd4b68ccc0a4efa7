#pragma once

#include <QString>

class SetupController;

// The dialogue of the ARP route: on each tick, matches the prompt at the end
// of the latest chunk from the adaptor's command line and types the next line:
// log in, become privileged, change address, gateway, mask and the serial
// channel, log out.
class CommandLineDialogue {
public:
    inline static const QString kPassword = QStringLiteral("tundra");

    explicit CommandLineDialogue(SetupController& controller)
        : m_controller(controller) {}
    void step();

private:
    void send(const QString& line);
    SetupController& m_controller;
};
