#pragma once

#include <QString>

class SetupController;

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

    explicit IdentityCheck(SetupController& controller)
        : m_controller(controller) {}
    // True when the adaptor of the run's MAC answers at the address; otherwise
    // false after showing why and unlocking the window.
    [[nodiscard]] bool passes(const QString& address);

private:
    SetupController& m_controller;
};
