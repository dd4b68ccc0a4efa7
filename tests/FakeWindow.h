#pragma once

// Fakes of every port the window's logic uses, so that a whole setup run can be
// driven by hand: the test fires timer ticks, scripts probe answers and reads
// the status text, without a display and without waiting for real time.

#include "setup/AdaptorFinder.h"
#include "setup/SetupController.h"

#include <QStringList>
#include <QTimer>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>

class FakeWindow;

class FakeTextBox : public TextBox {
public:
    FakeTextBox(FakeWindow& w, int position)
        : m_window(w)
        , m_position(position) {}
    [[nodiscard]] QString text() const override { return m_text; }
    void setText(const QString& text) override;
    void setColour(FieldColour colour) override { m_colour = colour; }
    void setFocus() override;
    void setReadOnly(bool readOnly) override { m_readOnly = readOnly; }
    [[nodiscard]] bool readOnly() const { return m_readOnly; }
    // Sets the text as a user would: raises Change only when it differs.
    void type(const QString& text) { setText(text); }
    // Sets the text without raising Change (a field filled before the test).
    void fill(const QString& text) { m_text = text; }
    [[nodiscard]] FieldColour colour() const { return m_colour; }

private:
    FakeWindow& m_window;
    int m_position; // 0..17 for entry fields, -1 for the transcript
    QString m_text;
    FieldColour m_colour = FieldColour::Active; // not yet painted by the load
    bool m_readOnly = false;
};

class FakeButton : public Button {
public:
    FakeButton(FakeWindow& w, int focusId)
        : m_window(w)
        , m_focusId(focusId) {}
    [[nodiscard]] bool enabled() const override { return m_enabled; }
    void setEnabled(bool enabled) override { m_enabled = enabled; }
    void setFocus() override;

private:
    FakeWindow& m_window;
    int m_focusId;
    bool m_enabled = true;
};

class FakeStatus : public StatusBar {
public:
    [[nodiscard]] QString message() const override { return m_text; }
    void showMessage(const QString& text) override {
        m_text = text;
        history << text;
    }
    QStringList history;

private:
    QString m_text;
};

class FakeTimer : public Timer {
public:
    [[nodiscard]] bool enabled() const override { return m_enabled; }
    void setEnabled(bool enabled) override {
        if (failOnEnable && enabled)
            throw RunTimeError(RunTimeError::InvalidArgument);
        // Enabling a running timer leaves its period running.
        if (enabled && !m_enabled)
            ++starts;
        m_enabled = enabled;
    }
    [[nodiscard]] int interval() const override { return m_interval; }
    void setInterval(int ms) override { m_interval = ms; }
    int starts = 0;
    bool failOnEnable = false;

private:
    bool m_enabled = true; // the stored layout is disabled; the load must switch it off
    int m_interval = 0;
};

class FakePointer : public Pointer {
public:
    [[nodiscard]] MousePointer pointer() const override { return m_pointer; }
    void setPointer(MousePointer p) override { m_pointer = p; }

private:
    MousePointer m_pointer = MousePointer::Default;
};

class FakeMessageBox : public MessageBox {
public:
    struct Shown {
        QString text;
        Buttons buttons;
        Icon icon;
        QString title;
    };
    int show(const QString& text, Buttons buttons, Icon icon, const QString& title) override {
        shown.push_back({text, buttons, icon, title});
        if (answers.empty())
            return buttons == YesNo ? No : Ok;
        const int a = answers.front();
        answers.pop_front();
        return a;
    }
    std::vector<Shown> shown;
    std::deque<int> answers;
};

class FakeFrame : public Frame {
public:
    void setTitle(const QString& t) override { title = t; }
    void endProgram() override { ++ended; }
    QString title;
    int ended = 0;
};

class FakeSocket : public SocketControl {
public:
    void setProtocol(Protocol p) override { protocol = p; }
    void setRemoteAddress(quint32 a) override { host = a ? AddressRules::dotted(a) : QString(); }
    void setRemotePort(Long p) override { port = p; }
    [[nodiscard]] int state() const override { return m_state; }
    void connect() override {
        ++connects;
        m_state = Connecting;
        // The outcome of the attempt comes later, as an event of the loop.
        if (connectOutcome >= 0 && events)
            events->push_back([this] { setState(connectOutcome); });
    }
    void close() override {
        ++closes;
        m_state = Closed;
    }
    void sendData(const QString& data) override {
        if (failSend || (protocol == Tcp && m_state != Connected))
            throw RunTimeError(RunTimeError::SocketWrongState);
        if (protocol == Udp)
            m_state = Open;
        sent << data;
    }
    QString getData() override {
        QString d = pending;
        pending.clear();
        return d;
    }
    [[nodiscard]] RunTimeError lastError() const override { return RunTimeError(failure); }
    // An attempt under way that ends here raises the connect event.
    void setState(int s) {
        const bool settles = m_state == Connecting && s != Connecting;
        m_state = s;
        if (settles && onConnect)
            onConnect();
    }

    Protocol protocol = Tcp;
    QString host;
    Long port = 0;
    int connects = 0;
    int closes = 0;
    bool failSend = false;
    int connectOutcome = -1; // the state an attempt ends in; -1: it stays pending
    RunTimeError::Code failure = RunTimeError::ConnectionRefused; // why a failed attempt failed
    std::deque<std::function<void()>>* events = nullptr;

    QStringList sent;
    QString pending;

private:
    int m_state = Closed;
};

// Echo probe whose answers the test scripts: answer(n) is the status of the
// n-th probe (1-based) since the test began.
class FakeProbe : public EchoProbe {
public:
    bool start() override {
        ++initializations;
        if (initFailures > 0) {
            --initFailures;
            return false;
        }
        ++open;
        return true;
    }
    Long ping(quint32 address, const QString& data, EchoReply& reply) override {
        pinged << AddressRules::dotted(address);
        payloads << data;
        reply.status = answer ? answer(pinged.size()) : 1;
        return reply.status;
    }
    bool stop() override {
        --open;
        return cleanupOk;
    }
    Long arpProbe(quint32 address) override {
        arped << AddressRules::dotted(address);
        return arpAnswer ? arpAnswer(arped.size()) : 1;
    }
    std::function<Long(qsizetype)> answer;
    std::function<Long(qsizetype)> arpAnswer; // the n-th ARP probe's status; none: silent
    QStringList arped;
    int initFailures = 0;
    int initializations = 0;
    int open = 0;
    bool cleanupOk = true;
    QStringList pinged;
    QStringList payloads;
};

// The neighbour table's requests, one line each: "bind 10.0.0.5
// 00-80-a3-61-63-dd" or "release 10.0.0.5".
class FakeNeighbours : public NeighbourTable {
public:
    void bind(quint32 address, const AddressRules::MacOctets& mac) override {
        if (fail)
            throw RunTimeError(RunTimeError::CommandNotStarted);
        QStringList pairs;
        for (quint8 octet : mac)
            pairs << QStringLiteral("%1").arg(octet, 2, 16, QLatin1Char('0'));
        calls
            << QStringLiteral("bind %1 %2").arg(AddressRules::dotted(address), pairs.join(QLatin1Char('-')));
    }
    void release(quint32 address) override {
        if (fail)
            throw RunTimeError(RunTimeError::CommandNotStarted);
        calls << QStringLiteral("release ") + AddressRules::dotted(address);
    }
    QStringList calls;
    bool fail = false;
};

// The fake event loop: delivers socket events and user input in order, then
// timer ticks, until what the test waits for holds. Actions scheduled for a
// tick run just before that tick is delivered.
class FakePump {
public:
    explicit FakePump(FakeWindow& w)
        : m_window(w) {}
    void waitUntil(const std::function<bool()>& done);
    int maxTicks = 1000;
    // Socket events and user input, delivered in order before any further tick.
    std::deque<std::function<void()>> events;
    // Called before each delivery, to let a test slip events in (out of order).
    std::function<void()> refill;

private:
    FakeWindow& m_window;
};

// A finder that reports what the test lists, from the event loop as the
// real one does, and notes each start and cancel.
class FakeFinder : public AdaptorFinder {
public:
    void start(const ScanRequest& request, Found found, Done done) override {
        requests.append(request);
        m_found = std::move(found);
        m_done = std::move(done);
        // Not after the finder is gone: a test may end before the event loop runs again.
        QTimer::singleShot(0, &m_context, [this] { holdEnd ? report() : finish(); });
    }
    void cancel() override {
        ++cancels;
        m_found = nullptr;
        m_done = nullptr;
    }
    // Reports the listed adaptors, as a search still asking.
    void report() {
        for (const FoundAdaptor& a : answers)
            if (m_found)
                m_found(a);
    }
    // Reports the listed adaptors and the end, as a search that has run.
    void finish() {
        report();
        if (m_done)
            std::exchange(m_done, nullptr)(ScanEnd{});
    }

    QList<FoundAdaptor> answers;
    bool holdEnd = false; // the adaptors are reported, the end is not
    QList<ScanRequest> requests;
    int cancels = 0;

private:
    Found m_found;
    Done m_done;
    QObject m_context;
};

class FakeWindow {
public:
    static constexpr int kNoFocus = -1;
    static constexpr int kSetupFocus = 100;
    static constexpr int kExitFocus = 101;
    static constexpr int kSignTestFocus = 102;

    // A real echo probe may stand in for the scripted one (inside a namespace).
    explicit FakeWindow(EchoProbe* realProbe = nullptr)
        : setupButton(*this, kSetupFocus)
        , exitButton(*this, kExitFocus)
        , signTestButton(*this, kSignTestFocus)
        , transcriptBox(*this, -1)
        , pump(*this) {
        SetupPorts p;
        for (int i = 0; i < EntryFields::kFieldCount; ++i) {
            fields.push_back(std::make_unique<FakeTextBox>(*this, i));
            p.fields[i] = fields.back().get();
        }
        transcriptBox.fill(QStringLiteral("Text5"));
        p.transcriptBox = &transcriptBox;
        p.status = &status;
        p.setupButton = &setupButton;
        p.exitButton = &exitButton;
        p.signTestButton = &signTestButton;
        p.tickTimer = &timer;
        p.pointer = &pointer;
        p.messageBox = &messageBox;
        p.frame = &frame;
        for (FakeSocket* s : {&commandLineSocket, &setupMenuSocket, &datagramSocket, &signSocket})
            s->events = &pump.events;
        p.commandLineSocket = &commandLineSocket;

        p.setupMenuSocket = &setupMenuSocket;
        p.datagramSocket = &datagramSocket;
        p.signSocket = &signSocket;
        p.probe = realProbe ? realProbe : &probe;

        p.neighbours = &neighbours;
        controller = std::make_unique<SetupController>(p);
        controller->load();
        // The layout's initial texts.
        for (int i = 0; i < 4; ++i) {
            field(3, i).fill(i < 3 ? QStringLiteral("255") : QStringLiteral("0"));
            field(4, i).fill(QStringLiteral("0"));
        }
    }

    FakeTextBox& field(int array, int index) { return *fields.at(EntryFields::position({array, index})); }

    // Fills the four address rows without raising Change; "-" separates octets.
    void fillAddresses(const QString& mac, const QString& ip,
                       const QString& mask = QStringLiteral("255.255.255.0"),
                       const QString& gateway = QStringLiteral("0.0.0.0")) {
        fillRow(1, mac.split(QLatin1Char('-')));
        fillRow(2, ip.split(QLatin1Char('.')));
        fillRow(3, mask.split(QLatin1Char('.')));
        fillRow(4, gateway.split(QLatin1Char('.')));
    }
    // The target the checks make of these texts, as a route hands it to its
    // dialogue; values the checks refuse are a fault of the test.
    static AdaptorTarget target(const QString& ip, const QString& mask = QStringLiteral("255.255.255.0"),
                                const QString& gateway = QStringLiteral("0.0.0.0"),
                                const QString& mac = QStringLiteral("00-80-a3-61-63-dd")) {
        const auto quad = [](const QString& text) {
            AddressRules::QuadTexts out;
            const QStringList parts = text.split(QLatin1Char('.'));
            for (std::size_t i = 0; i < out.size(); ++i)
                out[i] = parts.value(qsizetype(i));
            return out;
        };
        AddressRules::MacTexts pairs;
        const QStringList macParts = mac.split(QLatin1Char('-'));
        for (std::size_t i = 0; i < pairs.size(); ++i)
            pairs[i] = macParts.value(qsizetype(i));
        const auto checked = SetupCommand::check(pairs, quad(ip), quad(mask), quad(gateway));
        if (!std::holds_alternative<AdaptorTarget>(checked))
            throw std::logic_error("the checks refuse the test's target");
        return std::get<AdaptorTarget>(checked);
    }
    void fillRow(int array, const QStringList& octets) {
        for (int i = 0; i < octets.size(); ++i)
            field(array, i).fill(octets.at(i));
    }

    // Presses Setup, then runs the event loop while the run waits for a probe
    // cycle or its command-line connection: the run is then in its dialogue,
    // or has ended.
    void press() {
        controller->setupClicked();
        settle();
    }
    // The same for a run the command line starts with a checked target.
    void start(const AdaptorTarget& target, std::optional<quint32> current = std::nullopt) {
        controller->start(target, current);
        settle();
    }
    void settle() {
        pump.waitUntil([this] { return !waiting(); });
    }
    [[nodiscard]] bool waiting() const {
        const RunState& r = controller->run;
        const bool cycle = (isProbeCycle(controller->progress().stage()) || r.cycleOver) && timer.enabled();
        const bool connecting =
            controller->busy() && (commandLineSocket.state() == SocketControl::Connecting ||
                                   signSocket.state() == SocketControl::Connecting);
        return cycle || connecting;
    }
    // Presses Send Test and delivers the events until its connection attempt has ended.
    void sendTest() {
        controller->sendTestClicked();
        pump.waitUntil([this] { return signSocket.state() != SocketControl::Connecting; });
    }

    // One tick of tickTimer, as the event loop would deliver it.
    void tick() {
        ++ticks;
        if (auto it = atTick.find(ticks); it != atTick.end())
            it->second();
        controller->tick();
    }

    // The adaptor sends a chunk on the command-line or the setup-menu connection.
    void clientSends(const QString& chunk) {
        commandLineSocket.pending += chunk;
        controller->commandLineDataArrived();
    }
    void menuSends(const QString& chunk) {
        setupMenuSocket.pending += chunk;
        controller->setupMenuDataArrived();
    }

    [[nodiscard]] bool locked() const {

        return pointer.pointer() == MousePointer::Busy && !setupButton.enabled() && !exitButton.enabled();
    }
    [[nodiscard]] bool idle() const {
        return pointer.pointer() == MousePointer::Default && setupButton.enabled() && exitButton.enabled();
    }

    void moveFocus(int to);

    std::vector<std::unique_ptr<FakeTextBox>> fields;
    FakeButton setupButton;
    FakeButton exitButton;
    FakeButton signTestButton;
    FakeTextBox transcriptBox;
    FakeStatus status;
    FakeTimer timer;
    FakePointer pointer;
    FakeMessageBox messageBox;
    FakePump pump;
    FakeFrame frame;
    FakeSocket commandLineSocket, setupMenuSocket, datagramSocket, signSocket;
    FakeProbe probe;
    FakeNeighbours neighbours;
    std::unique_ptr<SetupController> controller;

    int ticks = 0;
    int focus = kNoFocus;
    std::map<int, std::function<void()>> atTick;
};

inline void FakeTextBox::setText(const QString& text) {
    if (text == m_text)
        return;
    m_text = text;
    if (m_position >= 0)
        m_window.controller->fieldChanged(EntryFields::idAt(m_position));
}

inline void FakeTextBox::setFocus() {
    m_window.moveFocus(m_position);
}

inline void FakeButton::setFocus() {
    m_window.moveFocus(m_focusId);
}

inline void FakeWindow::moveFocus(int to) {
    if (to == focus)
        return;
    const int from = focus;
    focus = to;
    if (from >= 0 && from < EntryFields::kFieldCount)
        controller->fieldLeft(EntryFields::idAt(from));
    if (to >= 0 && to < EntryFields::kFieldCount)
        controller->fieldFocused(EntryFields::idAt(to));
}

inline void FakePump::waitUntil(const std::function<bool()>& done) {
    int delivered = 0;
    while (!done()) {
        if (refill)
            refill();
        if (!events.empty()) {
            auto next = std::move(events.front());
            events.pop_front();
            next();
            continue;
        }
        if (!m_window.timer.enabled())
            throw std::logic_error("the wait would never end: no timer and no event to deliver");
        if (++delivered > maxTicks)
            throw std::logic_error("the wait did not end within the tick limit");
        m_window.tick();
    }
}
