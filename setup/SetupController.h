#pragma once

#include "address/EntryFields.h"
#include "base/WindowPorts.h"
#include "net/EchoProbe.h"
#include "net/HostCommand.h"
#include "net/SocketControl.h"
#include "setup/DialogueTranscript.h"
#include "setup/RecordingSocket.h"
#include "setup/RunProgress.h"
#include "setup/RunState.h"

#include <array>
#include <memory>
#include <vector>

class Assignment;
class CommandLineDialogue;
class IdentityCheck;
class ReceivePath;
class SetupCommand;
class Sequencer;
class SetupMenuDialogue;
class SignTest;

// Everything the window's logic works through. The real window fills it with
// its widgets and platform services; tests fill it with fakes.
struct SetupPorts {
    // Text1(0..5), Text2(0..3), Text3(0..3), Text4(0..3).
    std::array<TextBox*, EntryFields::kFieldCount> fields{};
    TextBox* transcriptBox = nullptr; // the transcript of the device conversation
    StatusBar* status = nullptr;
    Button* setupButton = nullptr;
    Button* exitButton = nullptr;
    Timer* tickTimer = nullptr;
    Pointer* pointer = nullptr;
    MessageBox* messageBox = nullptr;
    EventPump* pump = nullptr;
    Frame* frame = nullptr;
    SocketControl* commandLineSocket = nullptr;
    SocketControl* setupMenuSocket = nullptr;
    SocketControl* datagramSocket = nullptr;
    SocketControl* signSocket = nullptr;
    EchoProbe* probe = nullptr;
    HostCommand* host = nullptr;
};

// The main window's logic: its run state, its event handlers and its
// procedures. It sees the window only through SetupPorts. Each public event
// handler is an entry point of the event loop: once the window is unloaded it
// does nothing, and a wait abandoned by the unload ends it quietly.
class SetupController {
    // Before ui, which is built with them: what goes over the adaptor's
    // connections is noted here on its way.
    DialogueTranscript m_transcript;
    std::vector<std::unique_ptr<RecordingSocket>> m_recorders;
    [[nodiscard]] SetupPorts recorded(SetupPorts ports);

public:
    inline static const QString kTitlePrefix = QStringLiteral("Ethernet Adaptor IP Configuration v");
    static constexpr int kTickMs = 3000;

    explicit SetupController(const SetupPorts& ports);
    ~SetupController();
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

    // Shared by the procedures of the window.
    RunState run;
    const SetupPorts ports;
    // Where the run stands, and what its connections carried: for the front
    // ends to show; neither changes what is sent or when.
    [[nodiscard]] RunProgress& progress() { return m_progress; }
    [[nodiscard]] DialogueTranscript& transcript() { return m_transcript; }
    // Milliseconds for the run's progress and transcript; a steady clock
    // unless a test gives its own.
    void setClock(std::function<qint64()> clock);
    [[nodiscard]] TextBox& field(FieldId id) const { return m_fields.field(id); }
    // The transcript keeps at most this many of its latest characters, so a
    // device that talks without end cannot fill the memory.
    static constexpr qsizetype kTranscriptLimit = 64 * 1024;
    // Extends the transcript by a line end and the text.
    void appendTranscript(const QString& text);
    // Busy: hourglass, Setup and Exit disabled. Idle: the opposite.

    void lockWindow();
    // runGoesOn: the window is handed back while the run still goes on (a
    // dialogue's step that failed, to be tried again); otherwise the run ends here.
    void unlockWindow(bool runGoesOn = false);
    // Waits, handling events, until done() holds. Throws Abandoned when the
    // window is unloaded meanwhile.
    void waitUntil(const std::function<bool()>& done);
    // Waits while a connection attempt is under way, showing "Connecting";
    // throws the attempt's error when it fails instead of connecting.
    void waitForConnection(SocketControl& socket);
    [[nodiscard]] bool pollPreCheck();
    void sendSignTest();
    [[nodiscard]] Sequencer& sequencer() { return *m_sequencer; }
    [[nodiscard]] CommandLineDialogue& commandLine() { return *m_commandLine; }
    [[nodiscard]] SetupMenuDialogue& setupMenu() { return *m_setupMenu; }
    void assignByDatagram();
    void assignByNeighbourEntry();
    // The adaptor reached at the address it already has and given the new one.
    void readdress(const QString& current);
    // True when the adaptor of the run's MAC answers ARP at the address;
    // otherwise the run ends here, with the reason shown.
    [[nodiscard]] bool identityPasses(const QString& address);

    // The ARP route's static neighbour entry. assignByNeighbourEntry notes it once made;
    // the route's own ends remove it with "arp -d " and ip; a run that
    // ends any other way (an error, the window closed, a new Setup) has its
    // leftover entry removed too, so that it never hides a host later.
    void neighbourEntryMade() { m_boundAddress = run.ip; }
    void releaseNeighbourEntry();
    void releaseLeftoverEntry();

    // An adaptor that already has an address: the next Setup for this MAC
    // (twelve lower-case hexadecimal digits) reaches it at currentAddress and
    // moves it to the address typed, instead of handing it one by its
    // family's route. An empty address, or another MAC typed, means the route.
    void reachAt(const QString& mac, const QString& currentAddress) { m_reach = {mac, currentAddress}; }
    // The address at which the adaptor with this MAC is to be reached, or empty.
    [[nodiscard]] QString currentAddressFor(const QString& mac) const {
        return !mac.isEmpty() && mac == m_reach.mac ? m_reach.address : QString();
    }

    // The address at which this run's dialogue reaches its adaptor when it is
    // not the new one (the adaptor already has an address); empty otherwise.
    void reachingAt(const QString& address) { m_reachingAt = address; }
    [[nodiscard]] const QString& reachedAt() const { return m_reachingAt; }
    // Where the dialogue and the sign test find the adaptor.
    [[nodiscard]] QString adaptorAddress() const { return m_reachingAt.isEmpty() ? run.ip : m_reachingAt; }

private:
    template <typename Handler> void entry(Handler&& handler);

    bool m_unloaded = false;
    RunProgress m_progress;
    std::function<qint64()> m_clock;
    QString m_boundAddress; // the address of an entry made and not yet removed
    struct {
        QString mac;
        QString address;
    } m_reach;
    QString m_reachingAt;
    EntryFields m_fields;
    std::unique_ptr<SetupCommand> m_setup;
    std::unique_ptr<Sequencer> m_sequencer;
    std::unique_ptr<SignTest> m_signTest;
    std::unique_ptr<ReceivePath> m_receive;
    std::unique_ptr<CommandLineDialogue> m_commandLine;
    std::unique_ptr<SetupMenuDialogue> m_setupMenu;
    std::unique_ptr<Assignment> m_assignment;
    std::unique_ptr<IdentityCheck> m_identity;
};
