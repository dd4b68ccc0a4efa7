#include "setup/Form1.h"

#include "setup/AppInfo.h"
#include "setup/Assignment.h"
#include "setup/CommandLineDialogue.h"
#include "setup/IdentityCheck.h"
#include "setup/ReceivePath.h"
#include "setup/Sequencer.h"
#include "setup/SetupCommand.h"
#include "setup/SetupMenuDialogue.h"
#include "setup/SignTest.h"

#include <QElapsedTimer>

Form1Ports Form1::recorded(Form1Ports ports) {
    for (SocketControl** socket : {&ports.wsClient, &ports.wsMenuTelnet, &ports.wsBroadcast, &ports.wsTest}) {
        if (*socket == nullptr)
            continue;
        m_recorders.push_back(std::make_unique<RecordingSocket>(**socket, m_transcript));
        *socket = m_recorders.back().get();
    }
    return ports;
}

Form1::Form1(const Form1Ports& ports)
    : ui(recorded(ports))
    , m_clock([timer = std::make_shared<QElapsedTimer>()] {
        if (!timer->isValid())
            timer->start();
        return timer->elapsed();
    })
    , m_fields(ports.fields, *ports.status, *ports.SetupIP)
    , m_setup(std::make_unique<SetupCommand>(*this))
    , m_sequencer(std::make_unique<Sequencer>(*this))
    , m_signTest(std::make_unique<SignTest>(*this))
    , m_receive(std::make_unique<ReceivePath>(*this))
    , m_commandLine(std::make_unique<CommandLineDialogue>(*this))
    , m_setupMenu(std::make_unique<SetupMenuDialogue>(*this))
    , m_assignment(std::make_unique<Assignment>(*this))
    , m_identity(std::make_unique<IdentityCheck>(*this)) {
    m_progress.setClock(m_clock);
    // Each line of the dialogue sent is a step of its stage.
    m_transcript.observe([this](const DialogueTranscript::Entry& entry) {
        if (entry.direction == DialogueTranscript::Direction::Sent &&
            m_progress.now().stage == RunProgress::Stage::Dialogue &&
            (entry.port == Assignment::kMenuPort || entry.port == Assignment::kTelnetPort))
            m_progress.step(m_progress.now().step + 1);
    });
    ui.wsTest->onSendComplete = [this] { wsTest_SendComplete(); };
    ui.wsClient->onDataArrival = [this](Long) { wsClient_DataArrival(); };
    ui.wsClient->onClose = [this] { wsClient_Close(); };
    ui.wsMenuTelnet->onDataArrival = [this](Long) { wsMenuTelnet_DataArrival(); };
}

Form1::~Form1() = default;

template <typename Handler> void Form1::entry(Handler&& handler) {
    if (m_unloaded)
        return;
    try {
        handler();
    } catch (const Abandoned&) {
        // The window was unloaded during a wait: nothing more of this handler runs.
    }
}

void Form1::Form_Load() {
    // Each step that fails is skipped and the next one performed.
    const auto step = [](auto&& s) {
        try {
            s();
        } catch (const RunTimeError&) {
        }
    };
    step([&] { ui.frame->setTitle(kTitlePrefix + AppInfo::versionText()); });
    for (int i = 0; i < EntryFields::kFieldCount; ++i)
        step([&] { ui.fields[i]->setBackColor(FieldColour::Inactive); });
    step([&] { ui.Timer1->setEnabled(false); });
    step([&] { ui.Timer1->setInterval(kTickMs); });
}

void Form1::Form_Unload() {
    if (m_unloaded)
        return;
    m_unloaded = true;
    static const QString logout = QStringLiteral("logout\n");
    try {
        if (ui.wsClient->state() == SocketControl::Connected) {
            ui.wsClient->sendData(logout);
            ui.wsClient->close();
        }
        if (ui.wsMenuTelnet->state() == SocketControl::Connected) {
            ui.wsMenuTelnet->sendData(logout);
            ui.wsMenuTelnet->close();
        }
        if (ui.wsTest->state() == SocketControl::Connected)
            ui.wsTest->close();
    } catch (const RunTimeError&) {
        // A failing logout ends the unload early; the program ends all the same.
    }
    releaseLeftoverEntry();
    ui.Timer1->setEnabled(false);
    ui.frame->endProgram();
}

void Form1::cmdExit_Click() {
    entry([&] { Form_Unload(); });
}

void Form1::SetupIP_Click() {
    entry([&] { m_setup->run(); });
}

void Form1::Timer1_Timer() {
    entry([&] { m_sequencer->tick(); });
}

void Form1::Text_Change(FieldId id) {
    entry([&] { m_fields.Change(id); });
}

void Form1::Text_GotFocus(FieldId id) {
    entry([&] { m_fields.GotFocus(id); });
}

void Form1::Text_LostFocus(FieldId id) {
    entry([&] { m_fields.LostFocus(id); });
}

void Form1::Command1_Click() {
    entry([&] { SendTest(); });
}

void Form1::wsTest_SendComplete() {
    entry([&] { m_signTest->SendComplete(); });
}

void Form1::wsClient_DataArrival() {
    entry([&] { m_receive->clientDataArrival(); });
}

void Form1::wsClient_Close() {
    entry([&] { m_receive->clientClose(); });
}

void Form1::wsMenuTelnet_DataArrival() {
    entry([&] { m_receive->menuDataArrival(); });
}

void Form1::appendTranscript(const QString& text) {
    QString t = ui.Text5->text() + QStringLiteral("\r\n") + text;
    if (t.size() > kTranscriptLimit)
        t = t.right(kTranscriptLimit);
    ui.Text5->setText(t);
}

void Form1::setClock(std::function<qint64()> clock) {
    m_progress.setClock(clock);
    m_clock = std::move(clock);
}

void Form1::lockWindow() {
    // A run begins where the window locks, and ends where it unlocks.
    m_transcript.start(m_clock);
    m_progress.started(AddressRules::MacFamily(m.mMacAddress), ui.Timer1->interval());

    ui.pointer->setPointer(MousePointer::Hourglass);
    ui.SetupIP->setEnabled(false);
    ui.cmdExit->setEnabled(false);
}

void Form1::unlockWindow(bool runGoesOn) {
    ui.pointer->setPointer(MousePointer::Default);
    ui.SetupIP->setEnabled(true);
    ui.cmdExit->setEnabled(true);
    if (m_progress.running() && !runGoesOn)
        m_progress.ended(ui.status->simpleText());
}

void Form1::waitUntil(const std::function<bool()>& done) {
    ui.pump->waitUntil([&] { return m_unloaded || done(); });
    if (m_unloaded)
        throw Abandoned();
}

void Form1::waitForConnection(SocketControl& socket) {
    if (socket.state() == SocketControl::Connected)
        return;
    ui.Text5->setText(QStringLiteral("Connecting"));
    waitUntil([&] { return socket.state() != SocketControl::Connecting; });
    if (socket.state() != SocketControl::Connected)
        throw socket.lastError();
}

void Form1::releaseNeighbourEntry() {
    m_boundAddress.clear();
    ui.host->launch(QStringLiteral("arp -d ") + m.mIPAddress, HostCommand::kMinimizedFocus);
}

void Form1::releaseLeftoverEntry() {
    if (m_boundAddress.isEmpty())
        return;
    const QString address = std::exchange(m_boundAddress, QString());
    try {
        ui.host->launch(QStringLiteral("arp -d ") + address, HostCommand::kMinimizedFocus);
    } catch (const RunTimeError&) {
        // The line was accepted once with this address; a refusal now changes nothing.
    }
}

void Form1::SendTest() {
    m_signTest->SendTest();
}

Flag Form1::ProbeTarget() {
    return m_setup->ProbeTarget();
}

void Form1::SetBroadcastIP() {
    m_assignment->SetBroadcastIP();
}

void Form1::SetIPAddr() {
    m_assignment->SetIPAddr();
}

void Form1::Readdress(const QString& current) {
    m_assignment->Readdress(current);
}

bool Form1::identityPasses(const QString& address) {
    return m_identity->passes(address);
}
