#pragma once

#include "cli/CliRun.h"

#include <QString>

// What `setup --check` finds before a run, sending nothing but ARP: whether
// the network helper can do what a run needs, whether the address is on a
// segment of this host, and who answers ARP at it. An adaptor that already
// answers at its address with its own MAC is in place; any other MAC there
// means the address is taken.
struct SetupCheck {
    enum class State { ToAssign, InPlace, Taken, NotFound, Refused };
    State state = State::Refused;
    QString text;   // for people: "10.77.50.22 is free: adaptor 00-80-a3-61-63-dd would be given it"
    QString reason; // for programs, as a run's: address-taken, not-found, off-segment, helper ...

    [[nodiscard]] static SetupCheck of(const SetupRequest& request, const QString& helperProgram);
    // "to-assign", "in-place", "taken", "not-found", "refused".
    [[nodiscard]] static QString stateName(State state);
    // 0 when the run could go ahead or the adaptor is in place, 1 when the
    // address is taken or the adaptor is not where it was said to be, 2 when
    // the run could not start.
    [[nodiscard]] int exitStatus() const;
};
