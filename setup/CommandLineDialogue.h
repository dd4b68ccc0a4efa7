#pragma once

#include "address/AdaptorTarget.h"
#include "base/WindowPorts.h"
#include "net/SocketControl.h"
#include "setup/NeighbourBinding.h"
#include "setup/RunState.h"

#include <QString>

// The dialogue of the ARP route: on each tick, matches the prompt at the end
// of the latest chunk from the adaptor's command line and types the next line:
// log in, become privileged, change address, gateway, mask and the serial
// channel, log out.
class CommandLineDialogue {
public:
    inline static const QString kPassword = QStringLiteral("tundra");

    // The steps, each waiting for its prompt. The numbers are those the error
    // lines show ("(Timer, 1 4)"), so they keep their values.
    enum Step : Long {
        Login = 0,            // "Username> "
        BecomePrivileged = 1, // "Local_"
        GivePassword = 2,     // "Password> "
        SetAddress = 3,       // each step from here waits for the privileged prompt
        SetGateway = 4,
        SetMask = 5,
        SetSpeed = 10,
        SetCharacterSize = 14,
        SetStopBits = 15,
        SetParity = 16,
        LogOut = 6,
        LoggedOut = 7,
    };

    CommandLineDialogue(RunState& run, SocketControl& socket, TextBox& transcriptBox,
                        NeighbourBinding& binding)
        : m_run(run)
        , m_socket(socket)
        , m_transcriptBox(transcriptBox)
        , m_binding(binding) {}

    // The dialogue for this target starts at its first step. entryMade: the
    // route made a neighbour entry for the target's address, to be removed at
    // the end.
    void begin(const AdaptorTarget& target, bool entryMade);
    // One tick's step; true once the logout has been typed.
    [[nodiscard]] bool step();
    // After the logout: the adaptor ends the connection itself, and the host's
    // entry for the address is no longer needed.
    void finish();

private:
    void send(const QString& line);
    RunState& m_run;
    SocketControl& m_socket;
    TextBox& m_transcriptBox;
    NeighbourBinding& m_binding;
    AdaptorTarget m_target;
    bool m_entryMade = false;
};
