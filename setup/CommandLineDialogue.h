#pragma once

#include <QString>

class Form1;

// The dialogue of the ARP route: on each tick, matches the prompt at the end
// of the latest chunk from the adaptor's command line and types the next line:
// log in, become privileged, change address, gateway, mask and the serial
// channel, log out.
class CommandLineDialogue {
public:
    inline static const QString kPassword = QStringLiteral("tundra");

    explicit CommandLineDialogue(Form1& form)
        : f(form) {}
    void step();

private:
    void send(const QString& line);
    Form1& f;
};
