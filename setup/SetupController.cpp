#include "setup/SetupController.h"

#include "setup/AppInfo.h"

#include <QElapsedTimer>

SetupPorts SetupController::recorded(SetupPorts ports) {
    for (SocketControl** socket :
         {&ports.commandLineSocket, &ports.setupMenuSocket, &ports.datagramSocket, &ports.signSocket}) {
        if (*socket == nullptr)
            continue;
        m_recorders.push_back(std::make_unique<RecordingSocket>(**socket, m_transcript));
        *socket = m_recorders.back().get();
    }
    return ports;
}

SetupController::SetupController(const SetupPorts& p)
    : ports(recorded(p))
    , m_clock([timer = std::make_shared<QElapsedTimer>()] {
        if (!timer->isValid())
            timer->start();
        return timer->elapsed();
    })
    , m_fields(ports.fields, *ports.status, *ports.setupButton)
    , m_binding(*ports.neighbours)
    , m_signTest(*ports.signSocket, *ports.status, *ports.transcriptBox, m_progress, *this)
    , m_receive(run, *ports.commandLineSocket, *ports.setupMenuSocket, *ports.transcriptBox)
    , m_identity(*ports.probe, *ports.status, m_progress, *this)
    , m_commandLine(run, *ports.commandLineSocket, *ports.transcriptBox, m_binding)
    , m_setupMenu(run, *ports.setupMenuSocket, *ports.transcriptBox)
    , m_sequencer(run,
                  {*ports.tickTimer, *ports.status, *ports.messageBox, *ports.probe, *ports.setupMenuSocket,
                   m_progress, *this, m_binding, m_commandLine, m_setupMenu, m_signTest})
    , m_assignment(run, {*ports.commandLineSocket, *ports.setupMenuSocket, *ports.datagramSocket,
                         *ports.status, *ports.transcriptBox, m_progress, *this, m_binding, m_sequencer,
                         m_commandLine, m_setupMenu, m_signTest})
    , m_setup({*ports.status, m_fields, m_progress, *this, m_binding, m_identity, m_sequencer,
                    m_assignment, m_signTest}) {
    m_progress.setClock(m_clock);
    // Each line of the dialogue sent is a step of its stage.
    m_transcript.observe([this](const DialogueTranscript::Entry& entry) {
        if (entry.direction == DialogueTranscript::Direction::Sent &&
            isDialogue(m_progress.stage()) &&
            (entry.port == Assignment::kMenuPort || entry.port == Assignment::kTelnetPort))
            m_progress.step(m_progress.now().step + 1);
    });
    ports.signSocket->onSendComplete = [this] { signMessagesSent(); };
    ports.signSocket->onConnect = [this] { entry([&] { m_signTest.connected(); }); };
    ports.commandLineSocket->onConnect = [this] { entry([&] { m_assignment.commandLineConnected(); }); };
    ports.commandLineSocket->onDataArrival = [this](Long) { commandLineDataArrived(); };
    ports.commandLineSocket->onClose = [this] { commandLineClosed(); };
    ports.setupMenuSocket->onDataArrival = [this](Long) { setupMenuDataArrived(); };
}

SetupController::~SetupController() = default;

template <typename Handler> void SetupController::entry(Handler&& handler) {
    if (m_unloaded)
        return;
    handler();
}

void SetupController::load() {
    // Each step that fails is skipped and the next one performed.
    const auto step = [](auto&& s) {
        try {
            s();
        } catch (const RunTimeError&) {
        }
    };
    step([&] { ports.frame->setTitle(kTitlePrefix + AppInfo::versionText()); });
    for (int i = 0; i < EntryFields::kFieldCount; ++i)
        step([&] { ports.fields[i]->setColour(FieldColour::Inactive); });
    step([&] { ports.tickTimer->setEnabled(false); });
    step([&] { ports.tickTimer->setInterval(kTickMs); });
}

void SetupController::unload() {
    if (m_unloaded)
        return;
    m_unloaded = true;
    static const QString logout = QStringLiteral("logout\n");
    try {
        if (ports.commandLineSocket->state() == SocketControl::Connected) {
            ports.commandLineSocket->sendData(logout);
            ports.commandLineSocket->close();
        }
        if (ports.setupMenuSocket->state() == SocketControl::Connected) {
            ports.setupMenuSocket->sendData(logout);
            ports.setupMenuSocket->close();
        }
        if (ports.signSocket->state() == SocketControl::Connected)
            ports.signSocket->close();
    } catch (const RunTimeError&) {
        // A failing logout ends the unload early; the program ends all the same.
    }
    m_binding.releaseLeftover();
    ports.tickTimer->setEnabled(false);
    ports.frame->endProgram();
}

void SetupController::exitClicked() {
    entry([&] { unload(); });
}

// A click that reaches the logic while a run is busy starts nothing: the
// button is disabled then, and no run ever starts inside another.
void SetupController::setupClicked() {
    if (!m_busy)
        entry([&] { m_setup.run(); });
}

void SetupController::tick() {
    entry([&] { m_sequencer.tick(); });
}

void SetupController::fieldChanged(FieldId id) {
    entry([&] { m_fields.textChanged(id); });
}

void SetupController::fieldFocused(FieldId id) {
    entry([&] { m_fields.focusGained(id); });
}

void SetupController::fieldLeft(FieldId id) {
    entry([&] { m_fields.focusLost(id); });
}

void SetupController::sendTestClicked() {
    if (!m_busy)
        entry([&] { m_signTest.send(); });
}

void SetupController::signMessagesSent() {
    entry([&] { m_signTest.messagesSent(); });
}

void SetupController::commandLineDataArrived() {
    entry([&] { m_receive.commandLineDataArrived(); });
}

void SetupController::commandLineClosed() {
    entry([&] { m_receive.commandLineClosed(); });
}

void SetupController::setupMenuDataArrived() {
    entry([&] { m_receive.setupMenuDataArrived(); });
}

void SetupController::setClock(std::function<qint64()> clock) {
    m_progress.setClock(clock);
    m_clock = std::move(clock);
}

void SetupController::reachAt(const QString& mac, const QString& currentAddress) {
    m_setup.reachAt(mac, AddressRules::readDotted(currentAddress));
}

void SetupController::start(const AdaptorTarget& target, std::optional<quint32> current) {
    if (!m_busy)
        entry([&] { m_setup.start(target, current); });
}

void SetupController::lockInputs(bool locked) {
    ports.pointer->setPointer(locked ? MousePointer::Busy : MousePointer::Default);
    ports.setupButton->setEnabled(!locked);
    ports.exitButton->setEnabled(!locked);
    if (ports.signTestButton)
        ports.signTestButton->setEnabled(!locked);
    m_fields.setLocked(locked);
}

void SetupController::lockWindow(qint16 family) {
    // A run begins where the window locks.
    m_transcript.start(m_clock);
    m_progress.started(family, ports.tickTimer->interval());
    m_busy = true;
    m_result.reset();
    lockInputs(true);
}

void SetupController::handBack() {
    m_busy = false;
    lockInputs(false);
}

void SetupController::signTestBegins() {
    m_busy = true;
    m_result.reset();
    lockInputs(true);
}

void SetupController::endRun(RunOutcome outcome) {
    m_busy = false;
    lockInputs(false);
    m_result = RunResult{outcome, ports.status->message()};
    // A stalled dialogue has its result, yet it still listens for the prompt:
    // its stage stays until the prompt comes or another run begins.
    if (m_progress.running() && outcome != RunOutcome::Stalled)
        m_progress.ended(ports.status->message());
    const RunResult result = *m_result;
    for (const auto& observer : m_ended)
        observer(result);
}
