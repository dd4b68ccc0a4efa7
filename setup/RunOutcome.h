#pragma once

#include <QString>

// How a setup run ended. Every end of a run names one, so that no front end
// has to read a status text to learn what happened: the window shows the
// status text, the command line prints the reason word and leaves with the
// exit status.
enum class RunOutcome {
    Assigned,       // the dialogue saved the settings (and the sign test, if asked, went out)
    Refused,        // the values were refused before anything was sent
    AddressTaken,   // something already answers at the address
    NotChecked,     // the address could not be checked, so nothing was assigned there
    NoAnswer,       // the adaptor never answered at its new address
    Stalled,        // the adaptor stopped answering in its dialogue
    NotFound,       // no adaptor answers at its current address
    OtherDevice,    // another device holds the current address
    OffSegment,     // the current address is on no network of this host
    SignTestFailed, // the settings were saved, but the sign's messages did not go out
    Failed,         // an error ended the run (its status line says which)
    Interrupted,    // the run was ended from outside: the window closed, a signal
    InPlace,        // the adaptor already answered at its address with its own MAC, and was
                    // left as it was, as asked: nothing but ARP was sent
};

struct RunResult {
    RunOutcome outcome = RunOutcome::Failed;
    QString status; // what the status bar said when the run ended
};

namespace RunOutcomes {
// The command line's exit statuses.
inline constexpr int kSucceeded = 0;
inline constexpr int kFailed = 1;
inline constexpr int kRefused = 2;
inline constexpr int kInterrupted = 130;

// One word for programs to act on: assigned, refused, address-taken,
// not-checked, no-answer, stalled, not-found, other-device, off-segment,
// sign-test, failed, interrupted, in-place.
[[nodiscard]] QString reason(RunOutcome outcome);
[[nodiscard]] int exitStatus(RunOutcome outcome);
} // namespace RunOutcomes
