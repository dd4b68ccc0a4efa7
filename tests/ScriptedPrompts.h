#pragma once

// The prompts a scripted adaptor shows in tests with fakes, one for each step
// of either dialogue.

#include "base/RunTypes.h"

#include <QString>

// The prompt the adaptor shows at each step of either dialogue.
inline QString commandPrompt(Long state) {
    switch (state) {
    case 0:
        return QStringLiteral("Username> ");
    case 1:
        return QStringLiteral("Local_1> ");
    case 2:
        return QStringLiteral("Password> ");
    default:
        return QStringLiteral("Local_1>> ");
    }
}
inline QString menuPrompt(Long state) {
    switch (state) {
    case 2:
        return QStringLiteral("1 Channel 1\r\n9 Save and exit\r\nYour choice ? ");
    case 4:
        return QStringLiteral("Set Gateway IP Address (N) ");
    case 5:
        return QStringLiteral("Netmask: Number of Bits for Host Part (0=default) (16) ");
    case 6:
    case 9:
        return QStringLiteral("Your choice ? ");
    default:
        return QStringLiteral("(000) ");
    }
}
