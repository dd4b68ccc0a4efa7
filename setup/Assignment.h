#pragma once

#include "address/AdaptorTarget.h"
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

#include <functional>
#include <optional>

// The two routes by which an adaptor is handed its IP address. Each arms a
// probe cycle, and when the adaptor answers opens its setup connection and
// starts the dialogue on the following ticks. Nothing here waits.
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
    // The command-line connection's attempt has ended: its dialogue begins,
    // or the route reports why it could not.
    void commandLineConnected();
    // No connection of an earlier run hands over to its dialogue any more.
    void abandon();

private:
    // The family's setup connection to the address, and the dialogue armed on
    // the ticks. reachedAtCurrent: the address is the one the adaptor had.
    void openMenu(const AdaptorTarget& target, quint32 address, bool reachedAtCurrent);
    // procedure: the error line's tag if the connection fails.
    void openCommandLine(const AdaptorTarget& target, quint32 address, bool reachedAtCurrent,
                         const char* procedure);
    // The error line of a route's procedure.
    void report(const RunTimeError& e, const char* procedure);

    RunState& m_run;
    Parts m_parts;
    // A command-line connection under way, and what its dialogue is for.
    struct Awaiting {
        AdaptorTarget target;
        bool reachedAtCurrent = false;
        const char* procedure = "";
    };
    std::optional<Awaiting> m_awaiting;
};
