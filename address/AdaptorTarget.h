#pragma once

#include "address/AddressRules.h"

#include <QString>

// An adaptor's network identity once every check has passed: the one value a
// setup run hands along, from the Setup command to the assignment, the probes,
// the dialogues and the sign test. Addresses are in host byte order.
struct AdaptorTarget {
    QString mac; // twelve lower-case hexadecimal digits
    AddressRules::MacOctets macOctets{};
    quint32 ip = 0;
    quint32 mask = 0;
    quint32 gateway = 0;
    Integer hostBits; // what the setup menu is told: 32 less the mask's prefix length

    [[nodiscard]] qint16 family() const { return AddressRules::macFamily(mac); }
};
