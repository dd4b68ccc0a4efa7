#pragma once

#include "address/AdaptorTarget.h"
#include "base/WindowPorts.h"
#include "net/SocketControl.h"
#include "setup/RunState.h"

#include <QString>

// The dialogue of the broadcast route: the adaptor's numbered setup menu. On
// each tick one item is typed: wake the menu, the server settings (address,
// gateway, host bits), the channel settings of the sign's serial line, then
// save.
class SetupMenuDialogue {
public:
    // The steps. The numbers are those the error lines show ("(Timer, 3 5)"),
    // so they keep their values.
    enum Step : Long {
        Wake = 0,
        OpenServerSettings = 2, // "Your choice ? "
        Address = 3,            // four octets
        Gateway = 4,            // "Set Gateway IP Address", then four octets
        HostBits = 5,           // "(0=default)"
        EndServerSettings = 8,
        OpenChannel = 9, // "choice ? "
        Baud = 10,
        InterfaceMode = 11, // the mode, then the flow control kept
        Port = 12,
        KeepChannelItems = 13, // the channel's twelve other items kept
        Save = 6,              // "choice ? "
        Saved = 7,
    };

    SetupMenuDialogue(RunState& run, SocketControl& socket, TextBox& transcriptBox)
        : m_run(run)
        , m_socket(socket)
        , m_transcriptBox(transcriptBox) {}

    // The dialogue for this target starts at its first step. giveAddress: the
    // adaptor is given the target's address here (it was reached at the one it
    // had); otherwise the address it has taken is kept.
    void begin(const AdaptorTarget& target, bool giveAddress);
    // One tick's step; true once the settings are saved.
    [[nodiscard]] bool step();
    void finish() { m_socket.close(); }

private:
    // The latest stored chunk; a run-time error while nothing is stored.
    [[nodiscard]] QString latest() const;
    // Extends the transcript with the latest chunk.
    void append();
    void send(const QString& text);
    RunState& m_run;
    SocketControl& m_socket;
    TextBox& m_transcriptBox;
    AdaptorTarget m_target;
    bool m_giveAddress = false;
};
