#pragma once

#include "address/AddressRules.h"
#include "setup/RunState.h"

#include <QString>

#include <optional>

class SetupController;

// The Setup command: checks the typed addresses, locks the window, waits for
// the pre-check to find the address silent, and hands over to the route of
// the adaptor's MAC family.
class SetupCommand {
public:
    inline static const QString kInProcess = QStringLiteral("Setup is in process ...");
    inline static const QString kMacMessage =
        QStringLiteral("Please enter right format MAC address which is on the back of adaptor");
    inline static const QString kIpMessage =
        QStringLiteral("Please enter right format IP address you want to assign to the adaptor");
    inline static const QString kGatewayMessage =
        QStringLiteral("Please enter right format Gateway address you want to assign to the adaptor");
    inline static const QString kMaskMessage =
        QStringLiteral("Please enter right format Subnet Mask you want to assign to the adaptor");
    inline static const QString kFamilyMessage =
        QStringLiteral("MAC address should be started with 00-20-4a or 00-80-a3");

    explicit SetupCommand(SetupController& controller)
        : m_controller(controller) {}

    // Why the typed values were refused: the value's name ("mac", "ip",
    // "mask", "gateway"), the status text the window shows, and, for values
    // that are well formed but would misconfigure the adaptor, what is wrong
    // with them ("gateway 10.77.60.254 is not on 10.77.50.0/24").
    struct Refusal {
        QString field;
        QString status;
        QString detail;
    };
    // The four checks in their fixed order over the field texts, filling the
    // run's address members as the window does, then the sense of the values
    // together; on success the host bits are those of the mask's prefix.
    // Nothing when the values may be used.
    [[nodiscard]] static std::optional<Refusal>
    firstFailure(const AddressRules::MacTexts& mac, const AddressRules::QuadTexts& ip,
                 const AddressRules::QuadTexts& mask, const AddressRules::QuadTexts& gateway, RunState& run);
    // Whether a status text is one of the checks' refusals.
    [[nodiscard]] static bool isRefusal(const QString& status);

    // setupButton's Click.
    void run();
    // Arms the pre-check until its first probe has been counted; answers probeCycleDone.
    [[nodiscard]] bool pollPreCheck();

private:
    // The four checks in their fixed order; false after showing the message of the first that fails.
    bool checksPass();
    // Waits for the pre-check's probe cycle; false when the address answered,
    // which the sequencer has reported.
    bool preCheckPasses();
    SetupController& m_controller;
};
