#pragma once

#include "base/RunTypes.h"

#include <QString>

// The state of one setup run, shared by the Setup command, the sequencer, the
// assignment procedures and the receive handlers. Nothing is passed between
// them as arguments: everything travels through these members. All start as
// zero or empty when the window is created and keep their values from one
// setup run to the next unless a step resets them.
struct RunState {
    // Sequencer phases (phase).
    static constexpr Long kProbe = 0;
    static constexpr Long kCommandLine = 1;
    static constexpr Long kStop = 2;
    static constexpr Long kSetupMenu = 3;
    // Probe cycle kinds (probeCycle).
    static constexpr Long kAfterDatagram = 0;
    static constexpr Long kAfterArpBinding = 1;
    static constexpr Long kPreCheck = 2;

    Long dialogueStep = 0; // step of the running device dialogue
    Long phase = 0;        // sequencer phase
    Long probeCycle = 0;   // who armed the probe cycle
    Integer probesSent;    // echo probes sent in the current cycle
    Long probeResult = 0;  // 0: the address answered the latest probe
    bool probeCycleDone = false;

    QString mac; // twelve lowercase hex digits
    QString ip;
    QString gateway;
    QString mask;     // as typed, blanks kept
    Integer hostBits; // 8, 16 or 24

    Integer counter;               // chunks on the command-line connection; item counter in the setup menu
    StringArray commandLineChunks; // latest command-line chunk, at counter - 1
    StringArray menuChunks;        // setup-menu chunks while dialogueStep is nonzero
    Integer menuChunkCount;        // chunks held in menuChunks

    bool signMessagesHandedOver = false; // the sign-test messages have been handed over
};
