#pragma once

#include "base/RunTypes.h"

#include <QString>

class Form1;

// The two routes by which an adaptor is handed its IP address. Each arms a
// probe cycle, waits for it, and on an answer opens the adaptor's setup
// connection and starts the dialogue on the following ticks.
class Assignment {
public:
    static constexpr int kTelnetPort = 23;
    static constexpr int kMenuPort = 9999;

    explicit Assignment(Form1& form)
        : f(form) {}
    // Family 1: the broadcast datagram, then the setup menu.
    void SetBroadcastIP();
    // Family 2: a static neighbour entry on this host, then the command line.
    void SetIPAddr();
    // An adaptor that already has an address: no datagram and no neighbour
    // entry; its family's dialogue at the current address gives it the new one.
    void Readdress(const QString& current);

private:
    // The family's setup connection to the address, and the dialogue armed on the ticks.
    void openMenu(const QString& address);
    void openCommandLine(const QString& address);
    void armProbe(Long mode);

    Form1& f;
};
