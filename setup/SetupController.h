#pragma once

#include "address/EntryFields.h"
#include "base/WindowPorts.h"
#include "net/EchoProbe.h"
#include "net/NeighbourTable.h"
#include "net/SocketControl.h"
#include "setup/Assignment.h"
#include "setup/CommandLineDialogue.h"
#include "setup/DialogueTranscript.h"
#include "setup/IdentityCheck.h"
#include "setup/NeighbourBinding.h"
#include "setup/ReceivePath.h"
#include "setup/RecordingSocket.h"
#include "setup/RunOutcome.h"
#include "setup/RunProgress.h"
#include "setup/RunState.h"
#include "setup/RunWindow.h"
#include "setup/Sequencer.h"
#include "setup/SetupCommand.h"
#include "setup/SetupMenuDialogue.h"
#include "setup/SignTest.h"

#include <array>
#include <memory>
#include <optional>
#include <vector>

// Everything the window's logic works through. The real window fills it with
// its widgets and platform services; tests fill it with fakes.
struct SetupPorts {
    // The MAC's six fields, then the IP's, the mask's and the gateway's four.
    std::array<TextBox*, EntryFields::kFieldCount> fields{};
    TextBox* transcriptBox = nullptr; // the transcript of the device conversation
    StatusBar* status = nullptr;
    Button* setupButton = nullptr;
    Button* exitButton = nullptr;
    Button* signTestButton = nullptr; // none where the front end has no such button
    Timer* tickTimer = nullptr;
    Pointer* pointer = nullptr;
    MessageBox* messageBox = nullptr;
    Frame* frame = nullptr;
    SocketControl* commandLineSocket = nullptr;
    SocketControl* setupMenuSocket = nullptr;
    SocketControl* datagramSocket = nullptr;
    SocketControl* signSocket = nullptr;
    EchoProbe* probe = nullptr;
    NeighbourTable* neighbours = nullptr;
};

// The main window's logic: builds the parts of a setup run over the ports,
// routes each event of the window to its part, and locks and unlocks the
// window for them. Each public event handler is an entry point of the event
// loop and returns at once: a run goes on from one tick or socket event to
// the next, and ends with a result. Once the window is unloaded no handler
// does anything.
class SetupController : private RunWindow {
    // Before ports, which are built with them: what goes over the adaptor's
    // connections is noted here on its way.
    DialogueTranscript m_transcript;
    std::vector<std::unique_ptr<RecordingSocket>> m_recorders;
    [[nodiscard]] SetupPorts recorded(SetupPorts ports);

public:
    inline static const QString kTitlePrefix = QStringLiteral("Ethernet Adaptor IP Configuration v");
    static constexpr int kTickMs = 3000;

    explicit SetupController(const SetupPorts& ports);
    ~SetupController() override;
    SetupController(const SetupController&) = delete;
    SetupController& operator=(const SetupController&) = delete;

    // Events of the window and its controls.
    void load();
    void unload();
    void exitClicked();
    void setupClicked();
    void tick();
    void fieldChanged(FieldId id);
    void fieldFocused(FieldId id);
    void fieldLeft(FieldId id);
    void sendTestClicked();
    void signMessagesSent();
    void commandLineDataArrived();
    void commandLineClosed();
    void setupMenuDataArrived();

    [[nodiscard]] bool unloaded() const { return m_unloaded; }

    // A run for a target checked elsewhere (the command line's options go
    // through the same checks), as Setup starts one for the fields': the
    // adaptor is reached at current when it has an address already.
    void start(const AdaptorTarget& target, std::optional<quint32> current = std::nullopt);
    // A run is busy: started and not yet ended or handed back.
    [[nodiscard]] bool busy() const { return m_busy; }
    // How the latest run ended; nothing while it goes on.
    [[nodiscard]] const std::optional<RunResult>& result() const { return m_result; }
    // Told each time a run ends.
    void onRunEnded(std::function<void(const RunResult&)> observer) {
        m_ended.push_back(std::move(observer));
    }

    // Where the timer-driven part of the run stands.
    RunState run;
    const SetupPorts ports;
    // Where the run stands, and what its connections carried: for the front
    // ends to show; neither changes what is sent or when.
    [[nodiscard]] RunProgress& progress() { return m_progress; }
    [[nodiscard]] const RunProgress& progress() const { return m_progress; }
    [[nodiscard]] DialogueTranscript& transcript() { return m_transcript; }
    // Milliseconds for the run's progress and transcript; a steady clock
    // unless a test gives its own.
    void setClock(std::function<qint64()> clock);
    [[nodiscard]] TextBox& field(FieldId id) const { return m_fields.field(id); }

    // Busy: hourglass; Setup, Exit, the sign test and the entry fields locked.
    void lockWindow(qint16 family = AddressRules::kUnknownFamily) override;
    void handBack() override;
    void endRun(RunOutcome outcome) override;
    void signTestBegins() override;

    // An adaptor that already has an address: the next Setup for this MAC
    // (twelve lower-case hexadecimal digits) reaches it at currentAddress
    // (dotted decimal) and moves it to the address typed, instead of handing
    // it one by its family's route. An empty address, or another MAC typed,
    // means the route.
    void reachAt(const QString& mac, const QString& currentAddress);
    // The address (dotted decimal) at which the adaptor with this MAC is to be
    // reached, or empty.
    [[nodiscard]] QString currentAddressFor(const QString& mac) const {
        const auto address = m_setup.currentAddressFor(mac);
        return address ? AddressRules::dotted(*address) : QString();
    }

    // The parts, for the front ends and tests to look into.
    [[nodiscard]] Sequencer& sequencer() { return m_sequencer; }
    [[nodiscard]] CommandLineDialogue& commandLine() { return m_commandLine; }
    [[nodiscard]] SetupMenuDialogue& setupMenu() { return m_setupMenu; }
    [[nodiscard]] SignTest& signTest() { return m_signTest; }

private:
    template <typename Handler> void entry(Handler&& handler);
    // The inputs that could change a run: locked while it is busy.
    void lockInputs(bool locked);

    bool m_unloaded = false;
    bool m_busy = false;
    std::optional<RunResult> m_result;
    std::vector<std::function<void(const RunResult&)>> m_ended;
    RunProgress m_progress;
    std::function<qint64()> m_clock;
    EntryFields m_fields;
    // The parts, each built from those before it: the calls run one way.
    NeighbourBinding m_binding;
    SignTest m_signTest;
    ReceivePath m_receive;
    IdentityCheck m_identity;
    CommandLineDialogue m_commandLine;
    SetupMenuDialogue m_setupMenu;
    Sequencer m_sequencer;
    Assignment m_assignment;
    SetupCommand m_setup;
};
