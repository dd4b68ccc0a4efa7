#pragma once

#include "base/WindowPorts.h"
#include "net/SocketControl.h"
#include "setup/RunState.h"

// Stores what the adaptor sends where the dialogues look on the next tick, and
// shows it in the transcript box. The dialogues never read a socket themselves.
class ReceivePath {
public:
    ReceivePath(RunState& run, SocketControl& commandLine, SocketControl& setupMenu, TextBox& transcriptBox)
        : m_run(run)
        , m_commandLine(commandLine)
        , m_setupMenu(setupMenu)
        , m_transcriptBox(transcriptBox) {}
    // The command line's data: keeps only the latest non-empty chunk.
    void commandLineDataArrived();
    // The setup menu's data: keeps every chunk once the dialogue has begun.
    void setupMenuDataArrived();
    // The adaptor ended the command-line connection.
    void commandLineClosed();

private:
    RunState& m_run;
    SocketControl& m_commandLine;
    SocketControl& m_setupMenu;
    TextBox& m_transcriptBox;
};
