#pragma once

#include "address/AdaptorTarget.h"
#include "address/AddressRules.h"
#include "address/EntryFields.h"
#include "base/WindowPorts.h"
#include "setup/Assignment.h"
#include "setup/IdentityCheck.h"
#include "setup/NeighbourBinding.h"
#include "setup/RunProgress.h"
#include "setup/RunWindow.h"
#include "setup/Sequencer.h"
#include "setup/SignTest.h"

#include <QString>

#include <variant>

// The Setup command: checks the typed addresses, locks the window, waits for
// the pre-check to find the address silent, and hands the checked target to
// the route of the adaptor's MAC family.
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

    // Why the typed values were refused: the value's name ("mac", "ip",
    // "mask", "gateway"), the status text the window shows, and, for values
    // that are well formed but would misconfigure the adaptor, what is wrong
    // with them ("gateway 10.77.60.254 is not on 10.77.50.0/24").
    struct Refusal {
        QString field;
        QString status;
        QString detail;
    };
    // The four checks in their fixed order over the field texts, then the
    // sense of the values together: the first refusal, or the target they make.
    [[nodiscard]] static std::variant<Refusal, AdaptorTarget> check(const AddressRules::MacTexts& mac,
                                                                    const AddressRules::QuadTexts& ip,
                                                                    const AddressRules::QuadTexts& mask,
                                                                    const AddressRules::QuadTexts& gateway);
    // The same sense checks over values that are numbers already (the
    // command line's options): the target, or why not. mac: twelve
    // hexadecimal digits.
    [[nodiscard]] static std::variant<Refusal, AdaptorTarget> targetOf(const QString& mac, quint32 ip,
                                                                       quint32 mask, quint32 gateway);
    // Whether a status text is one of the checks' refusals.
    [[nodiscard]] static bool isRefusal(const QString& status);

    struct Parts {
        StatusBar& status;
        const EntryFields& fields;
        RunProgress& progress;
        RunWindow& window;
        NeighbourBinding& binding;
        IdentityCheck& identity;
        Sequencer& sequencer;
        Assignment& assignment;
        SignTest& signTest;
    };

    explicit SetupCommand(const Parts& parts)
        : m_parts(parts) {}

    // The Setup button's click: the checks over the fields, then a run for
    // the target they make.
    void run();
    // A run for this checked target: the pre-check, then the route of its
    // family; or, for an adaptor reached at the address it has (current), the
    // identity check there and the dialogue that moves it. Returns at once:
    // the run goes on on the ticks and socket events.
    void start(const AdaptorTarget& target, std::optional<quint32> current = std::nullopt);

    // An adaptor that already has an address: the next Setup for this MAC
    // (twelve lower-case hexadecimal digits) reaches it at currentAddress and
    // moves it to the address typed, instead of handing it one by its
    // family's route. No address, or another MAC typed, means the route.
    void reachAt(const QString& mac, std::optional<quint32> currentAddress) {
        m_reach = {mac, currentAddress};
    }
    // The address at which the adaptor with this MAC is to be reached, if any.
    [[nodiscard]] std::optional<quint32> currentAddressFor(const QString& mac) const {
        return !mac.isEmpty() && mac == m_reach.mac ? m_reach.address : std::nullopt;
    }

private:
    [[nodiscard]] static Refusal refusalOf(const AddressRules::SenseRefusal& wrong);
    // Ends what an earlier run left going on.
    void abandonEarlier();
    // The pre-check's probe cycle at the address; goOn once it found the
    // address silent. An answer, or an address that could not be checked,
    // ends the run there.
    void preCheck(quint32 address, std::function<void()> goOn);
    void assign(const AdaptorTarget& target);

    Parts m_parts;
    struct {
        QString mac;
        std::optional<quint32> address;
    } m_reach;
};
