#pragma once

#include "base/WindowPorts.h"
#include "net/EchoProbe.h"
#include "setup/RunProgress.h"
#include "setup/RunWindow.h"

#include <QString>

// Before an adaptor is reached at the address it already has: the device that
// answers ARP there must be the adaptor with the MAC typed. Nothing but ARP
// goes to the address until it is; any other answer ends the run with nothing
// changed, so that another device is never reconfigured.
class IdentityCheck {
public:
    // Asked again once when nobody answers, so that one lost frame does not end the run.
    static constexpr int kTries = 2;

    // %1 the adaptor's MAC (dashed), %2 the address, %3 the other MAC or the reason.
    inline static const QString kNoAnswer =
        QStringLiteral("No adaptor %1 answers at %2: nothing was changed");
    inline static const QString kOtherDevice =
        QStringLiteral("%2 is held by %3, not by adaptor %1: nothing was changed");
    inline static const QString kOffSegment = QStringLiteral(
        "%2 is on no network of this host, so adaptor %1 cannot be reached there: nothing was changed");
    inline static const QString kNotAsked =
        QStringLiteral("Adaptor %1 cannot be looked for at %2 (%3): nothing was changed");

    IdentityCheck(EchoProbe& probe, StatusBar& status, RunProgress& progress, RunWindow& window)
        : m_probe(probe)
        , m_status(status)
        , m_progress(progress)
        , m_window(window) {}
    // True when the adaptor of this MAC (twelve lower-case hexadecimal digits)
    // answers at the address; otherwise false after showing why and unlocking
    // the window.
    [[nodiscard]] bool passes(const QString& mac, quint32 address);
    // The address is on no network of this host (an adaptor moved to another
    // network): nothing here can ask whether it is free; that is for its own
    // network to say once the adaptor takes it on.
    [[nodiscard]] bool elsewhere(quint32 address) {
        return m_probe.whoHas(address).outcome == ArpOwner::OffSegment;
    }

private:
    EchoProbe& m_probe;
    StatusBar& m_status;
    RunProgress& m_progress;
    RunWindow& m_window;
};
