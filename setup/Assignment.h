#pragma once

#include "address/AdaptorTarget.h"
#include "address/EntryFields.h"
#include "base/RunTypes.h"
#include "base/WindowPorts.h"
#include "net/SocketControl.h"
#include "setup/CommandLineDialogue.h"
#include "setup/NeighbourBinding.h"
#include "setup/RunProgress.h"
#include "setup/RunState.h"
#include "setup/RunWindow.h"
#include "setup/Sequencer.h"
#include "setup/SetupMenuDialogue.h"
#include "setup/SignTest.h"

// The two routes by which an adaptor is handed its IP address. Each arms a
// probe cycle, waits for it, and on an answer opens the adaptor's setup
// connection and starts the dialogue on the following ticks.
class Assignment {
public:
    static constexpr int kTelnetPort = 23;
    static constexpr int kMenuPort = 9999;

    struct Parts {
        SocketControl& commandLineSocket;
        SocketControl& setupMenuSocket;
        SocketControl& datagramSocket;
        StatusBar& status;
        TextBox& transcriptBox;
        const EntryFields& fields; // the datagram's octets, as they stand
        RunProgress& progress;
        RunWindow& window;
        NeighbourBinding& binding;
        Sequencer& sequencer;
        CommandLineDialogue& commandLine;
        SetupMenuDialogue& setupMenu;
        SignTest& signTest;
    };

    Assignment(RunState& run, const Parts& parts)
        : m_run(run)
        , m_parts(parts) {}
    // Family 1: the broadcast datagram, then the setup menu.
    void byDatagram(const AdaptorTarget& target);
    // Family 2: a static neighbour entry on this host, then the command line.
    void byNeighbourEntry(const AdaptorTarget& target);
    // An adaptor that already has an address: no datagram and no neighbour
    // entry; its family's dialogue at the current address gives it the new one.
    void readdress(const AdaptorTarget& target, quint32 current);

private:
    // The family's setup connection to the address, and the dialogue armed on
    // the ticks. reachedAtCurrent: the address is the one the adaptor had.
    void openMenu(const AdaptorTarget& target, quint32 address, bool reachedAtCurrent);
    void openCommandLine(const AdaptorTarget& target, quint32 address, bool reachedAtCurrent);
    void armProbe(quint32 address, Long kind);
    // The error line of a route's procedure.
    void report(const RunTimeError& e, const char* procedure);

    RunState& m_run;
    Parts m_parts;
};
