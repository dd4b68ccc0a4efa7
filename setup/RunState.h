#pragma once

#include "base/RunTypes.h"

#include <QString>

// Where the timer-driven part of a setup run stands between ticks: the
// sequencer's phase, the probe cycle, the running dialogue's step, and what
// the adaptor has said. The addresses are not here: each part is handed the
// checked target it works for. All start as zero or empty when the window is
// created and keep their values from one run to the next unless a step resets
// them; the error lines show the phase and the step as numbers.
struct RunState {
    // Sequencer phases.
    static constexpr Long kProbe = 0;
    static constexpr Long kCommandLine = 1;
    static constexpr Long kStop = 2;
    static constexpr Long kSetupMenu = 3;
    // Who armed the probe cycle.
    static constexpr Long kAfterDatagram = 0;
    static constexpr Long kAfterArpBinding = 1;
    static constexpr Long kPreCheck = 2;

    Long dialogueStep = 0; // CommandLineDialogue::Step or SetupMenuDialogue::Step
    Long phase = 0;
    Long probeCycle = 0;
    Integer probesSent;   // echo probes sent in the current cycle
    Long probeResult = 0; // 0: the address answered the latest probe
    bool probeCycleDone = false;

    Integer counter;               // chunks on the command-line connection; item counter in the setup menu
    StringArray commandLineChunks; // latest command-line chunk, at counter - 1
    StringArray menuChunks;        // setup-menu chunks while dialogueStep is nonzero
    Integer menuChunkCount;        // chunks held in menuChunks
};
