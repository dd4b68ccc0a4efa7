#pragma once

#include "base/RunTypes.h"

#include <QString>

// What the timer-driven part of a setup run keeps between ticks, beside its
// stage (RunProgress): the probe cycle, the running dialogue's step, and what
// the adaptor has said. The addresses are not here: each part is handed the
// checked target it works for. All start as zero or empty when the window is
// created and keep their values from one run to the next unless a step resets
// them; the error lines show the step as a number.
struct RunState {
    Long dialogueStep = 0; // CommandLineDialogue::Step or SetupMenuDialogue::Step
    Integer probesSent;   // echo probes sent in the current cycle
    Long probeResult = 0; // 0: the address answered the latest probe
    // The probe cycle has its verdict: the next tick stops the timer and
    // hands over. It holds until a new cycle or a dialogue begins.
    bool cycleOver = false;
    bool probeCycleDone = false; // that tick has come

    Integer counter;               // chunks on the command-line connection; item counter in the setup menu
    StringArray commandLineChunks; // latest command-line chunk, at counter - 1
    StringArray menuChunks;        // setup-menu chunks while dialogueStep is nonzero
    Integer menuChunkCount;        // chunks held in menuChunks
};
