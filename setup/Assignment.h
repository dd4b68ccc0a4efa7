#pragma once

#include "base/RunTypes.h"

#include <QString>

class SetupController;

// The two routes by which an adaptor is handed its IP address. Each arms a
// probe cycle, waits for it, and on an answer opens the adaptor's setup
// connection and starts the dialogue on the following ticks.
class Assignment {
public:
    static constexpr int kTelnetPort = 23;
    static constexpr int kMenuPort = 9999;

    explicit Assignment(SetupController& controller)
        : m_controller(controller) {}
    // Family 1: the broadcast datagram, then the setup menu.
    void assignByDatagram();
    // Family 2: a static neighbour entry on this host, then the command line.
    void assignByNeighbourEntry();
    // An adaptor that already has an address: no datagram and no neighbour
    // entry; its family's dialogue at the current address gives it the new one.
    void readdress(const QString& current);

private:
    // The family's setup connection to the address, and the dialogue armed on the ticks.
    void openMenu(const QString& address);
    void openCommandLine(const QString& address);
    void armProbe(Long mode);

    SetupController& m_controller;
};
