#pragma once

// Where a setup run stands: the one account of it, which the ticks act on and
// both front ends show. A tick probes in Checking and Waiting and takes a step
// of the dialogue in CommandLine and SetupMenu; in the other stages it has
// nothing of its own to do.
enum class RunStage {
    Idle,
    Identifying, // asking who answers at the adaptor's current address
    Checking,    // the probe cycle that makes sure the address is free
    Assigning,   // the datagram, or the neighbour entry, gives the address
    Waiting,     // the probe cycle that waits for the adaptor to answer there
    CommandLine, // the dialogue on the telnet port, from its connection on
    SetupMenu,   // the dialogue on the setup menu's port
    SignTest,
    Ended,
};

[[nodiscard]] constexpr bool isDialogue(RunStage stage) {
    return stage == RunStage::CommandLine || stage == RunStage::SetupMenu;
}

[[nodiscard]] constexpr bool isProbeCycle(RunStage stage) {
    return stage == RunStage::Checking || stage == RunStage::Waiting;
}
