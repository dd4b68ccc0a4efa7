#pragma once

#include <QString>

// Carries out one of the host's ARP command lines without waiting for it.
// A command line that cannot be started at all throws RunTimeError; a command
// that runs and fails goes unnoticed by the caller.
class HostCommand {
public:
    // Minimised, with focus: what the ARP route asks for.
    static constexpr int kMinimizedFocus = 2;
    virtual ~HostCommand() = default;
    virtual void launch(const QString& commandLine, int windowStyle) = 0;
};
