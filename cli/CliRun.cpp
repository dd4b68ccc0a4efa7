#include "cli/CliRun.h"

#include "cli/SetupCheck.h"
#include "cli/WritableFile.h"
#include "setup/IdentityCheck.h"
#include "setup/Sequencer.h"
#include "setup/SetupCommand.h"

#include "cli/JsonLine.h"

#include <QRegularExpression>

#include <algorithm>
#include <tuple>

class CliRun::Text : public TextBox {
public:
    [[nodiscard]] QString text() const override { return m_text; }
    void setText(const QString& text) override { m_text = text; }
    void setColour(FieldColour) override {}
    void setFocus() override {}

private:
    QString m_text;
};

class CliRun::Status : public StatusBar {
public:
    explicit Status(CliRun& run)
        : m_run(run) {}
    [[nodiscard]] QString message() const override { return m_text; }
    void showMessage(const QString& text) override {
        if (text != m_text && !text.isEmpty())
            m_run.print(text);
        m_text = text;
    }

private:
    CliRun& m_run;
    QString m_text;
};

class CliRun::Switch : public Button {
public:
    [[nodiscard]] bool enabled() const override { return m_enabled; }
    void setEnabled(bool enabled) override { m_enabled = enabled; }
    void setFocus() override {}

private:
    bool m_enabled = true;
};

class CliRun::Pointer : public ::Pointer {
public:
    [[nodiscard]] MousePointer pointer() const override { return m_pointer; }
    void setPointer(MousePointer pointer) override { m_pointer = pointer; }

private:
    MousePointer m_pointer = MousePointer::Default;
};

// Prints the box's text and answers as the command line says: the test
// question with --sign-test Yes, otherwise No; every other box OK.
class CliRun::Box : public MessageBox {
public:
    explicit Box(CliRun& run)
        : m_run(run) {}
    int show(const QString& text, Buttons buttons, Icon, const QString&) override {
        const int answer = buttons != YesNo ? Ok : m_run.m_request.signTest ? Yes : No;
        m_run.print(kBoxMark + QString(text).replace(QChar(10), QChar(' ')), "box",
                    answer == Yes  ? QStringLiteral("Yes")
                    : answer == No ? QStringLiteral("No")
                                   : QStringLiteral("OK"));
        return answer;
    }

private:
    CliRun& m_run;
};

class CliRun::End : public Frame {
public:
    void setTitle(const QString&) override {}
    void endProgram() override {}
};

CliRun::CliRun(const SetupRequest& request, QTextStream& out, const QString& helperProgram)
    : m_request(request)
    , m_out(out)
    , m_helperProgram(helperProgram)
    , m_host(helperProgram) {
    m_clock.start();
    m_wake.setSingleShot(true);
    SetupPorts ports;
    for (int i = 0; i < EntryFields::kFieldCount; ++i) {
        m_fields.push_back(std::make_unique<Text>());
        ports.fields[i] = m_fields.back().get();
    }
    m_transcriptBox = std::make_unique<Text>();
    m_status = std::make_unique<Status>(*this);
    m_setupButton = std::make_unique<Switch>();
    m_exitButton = std::make_unique<Switch>();
    m_pointer = std::make_unique<Pointer>();
    m_box = std::make_unique<Box>(*this);
    m_frame = std::make_unique<End>();
    m_timer = std::make_unique<TickTimer>([this] {
        const RunState& m = m_controller->run;
        const RunProgress& p = m_controller->progress();
        const auto position = [&m, &p] { return std::tuple(p.stage(), m.cycleOver, m.dialogueStep, m.counter); };
        const auto before = position();
        const QString status = m_status->message();
        m_controller->tick();
        const bool idle = !m_controller->busy() && position() == before && m_status->message() == status;
        m_idleTicks = idle ? m_idleTicks + 1 : 0;
    });
    ports.transcriptBox = m_transcriptBox.get();
    ports.status = m_status.get();
    ports.setupButton = m_setupButton.get();
    ports.exitButton = m_exitButton.get();
    ports.tickTimer = m_timer.get();
    ports.pointer = m_pointer.get();
    ports.messageBox = m_box.get();
    ports.frame = m_frame.get();
    m_host.fillEmpty(ports);
    m_controller = std::make_unique<SetupController>(ports);
    m_controller->load();
    m_controller->progress().observe([this](const RunProgress::Snapshot& s) { stageChanged(s); });
    m_controller->transcript().observe([this](const DialogueTranscript::Entry& e) { dialogue(e); });
    if (request.tickMs > 0)
        m_timer->setInterval(request.tickMs);
    m_controller->onRunEnded([this](const RunResult& result) {
        // After "Logout" the command line is the adaptor's to close.
        if (result.outcome == RunOutcome::Assigned && !m_sinceSuccess.isValid()) {
            m_sinceSuccess.start();
            m_wake.start(kLogoutWaitMs);
        }
    });
}

CliRun::~CliRun() {
    m_controller->unload();
}

void CliRun::print(const QString& text, const char* event, const QString& answer) {
    const double time = double(m_clock.elapsed()) / 1000.0;
    const QString line = QString::asprintf("%7.1f  ", time) + text;
    switch (m_output) {
    case Output::Text:
        m_out << line << Qt::endl;
        break;
    case Output::Quiet:
        if (qstrcmp(event, "status") == 0)
            m_lastLine = line;
        break;
    case Output::Json: {
        *m_err << line << Qt::endl;
        QJsonObject fields{
            {QStringLiteral("text"), qstrcmp(event, "box") == 0 ? text.mid(kBoxMark.size()) : text}};
        if (!answer.isEmpty())
            fields.insert(QStringLiteral("answer"), answer);
        m_out << jsonLine(event, time, fields) << Qt::endl;
        break;
    }
    }
}

bool CliRun::setLog(const QString& path, QString* why) {
    auto file = std::make_unique<QFile>();
    QString no;
    if (!openWritable(*file, path, QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text, no)) {
        if (why)
            *why = QStringLiteral("--log %1: %2").arg(path, no);
        return false;
    }
    m_log = std::move(file);
    return true;
}

void CliRun::log(const QString& line) {
    if (!m_log)
        return;
    m_log->write(line.toUtf8());
    m_log->flush();
}

// A new stage, or a new step within it for machine output.
void CliRun::stageChanged(const RunProgress::Snapshot& s) {
    const bool newStage = s.stage != m_shownStage.stage;
    if (!newStage && s.step == m_shownStage.step)
        return;
    m_shownStage = s;
    const QString text = QStringLiteral("stage: ") + RunProgress::describe(s);
    if (newStage)
        log(QString::asprintf("%9.3f  ", double(m_clock.elapsed()) / 1000.0) + text + QLatin1Char('\n'));
    if (m_output == Output::Json) {
        QJsonObject fields{{QStringLiteral("stage"), RunProgress::stageKey(s.stage)},
                           {QStringLiteral("text"), RunProgress::describe(s)},
                           {QStringLiteral("percent"), s.percent}};
        if (s.steps > 0) {
            fields.insert(QStringLiteral("step"), s.step);
            fields.insert(QStringLiteral("steps"), s.steps);
        }
        if (s.leftMs >= 0)
            fields.insert(QStringLiteral("left"), double(s.leftMs) / 1000.0);
        m_out << jsonLine("stage", double(m_clock.elapsed()) / 1000.0, fields) << Qt::endl;
    } else if (m_verbose && newStage && m_output == Output::Text) {
        print(text, "stage");
    }
}

void CliRun::dialogue(const DialogueTranscript::Entry& e) {
    log(DialogueTranscript::line(e));
    const bool sent = e.direction == DialogueTranscript::Direction::Sent;
    if (m_output == Output::Json) {
        m_out << jsonLine("dialogue", double(m_clock.elapsed()) / 1000.0,
                          {{QStringLiteral("direction"),
                            sent ? QStringLiteral("sent") : QStringLiteral("received")},
                           {QStringLiteral("port"), e.port},
                           {QStringLiteral("text"), DialogueTranscript::visible(e.bytes)},
                           {QStringLiteral("hex"), QString::fromLatin1(e.bytes.toHex())}})
              << Qt::endl;
    } else if (m_verbose && m_output == Output::Text) {
        print(QStringLiteral("%1 %2 %3")
                  .arg(sent ? QLatin1Char('>') : QLatin1Char('<'))
                  .arg(e.port)
                  .arg(DialogueTranscript::visible(e.bytes)),
              "dialogue");
    }
}

QString CliRun::resultName(int exit) {
    switch (exit) {
    case Succeeded:
        return QStringLiteral("succeeded");
    case Interrupted:
        return QStringLiteral("interrupted");
    case BadValues:
        return QStringLiteral("refused");
    default:
        return QStringLiteral("failed");
    }
}

bool CliRun::ended() const {
    if (m_controller->unloaded())
        return true;
    if (m_controller->busy())
        return false;
    if (m_controller->result()) {
        // The sign's two messages are on their way until the send completes.
        if (m_controller->signTest().handedOver() && m_host.signSocket.state() == SocketControl::Connected)
            return false;
        // The adaptor closes the command line after "Logout": a logout of our
        // own (as closing the window sends) would only follow it.
        return !(m_sinceSuccess.isValid() && m_host.commandLineSocket.state() == SocketControl::Connected &&
                 m_sinceSuccess.elapsed() < kLogoutWaitMs);
    }
    // Handed back while the run goes on: an error the window reports on every
    // tick (a dialogue whose adaptor never sent anything) leaves it to the
    // user to start again or leave; a command line has no such user.
    return m_idleTicks >= Sequencer::kStallTicks;
}

int CliRun::run() {
    if (m_output == Output::Json) {
        QStringList mac(m_request.mac.begin(), m_request.mac.end());
        QStringList ip(m_request.ip.begin(), m_request.ip.end());
        QJsonObject fields{{QStringLiteral("mac"), mac.join(QLatin1Char('-')).toLower()},
                           {QStringLiteral("ip"), ip.join(QLatin1Char('.'))}};
        if (!m_request.currentIp.isEmpty())
            fields.insert(QStringLiteral("current_ip"), m_request.currentIp);
        m_out << jsonLine("started", 0, fields) << Qt::endl;
    }
    m_outcome = outcome();
    const int exit = RunOutcomes::exitStatus(m_outcome);
    const double time = double(m_clock.elapsed()) / 1000.0;
    if (m_output == Output::Json)
        m_out << jsonLine("finished", time,
                          {{QStringLiteral("result"), resultName(exit)},
                           {QStringLiteral("reason"), RunOutcomes::reason(m_outcome)},
                           {QStringLiteral("status"), m_status->message()},
                           {QStringLiteral("exit"), exit}})
              << Qt::endl;
    if (m_output == Output::Quiet)
        m_out << m_lastLine << Qt::endl << QString::asprintf("%7.1f  ", time) << resultName(exit) << Qt::endl;
    return exit;
}

RunOutcome CliRun::outcome() {
    auto current = m_request.currentIp.isEmpty() ? std::nullopt : AddressRules::readDotted(m_request.currentIp);
    if (m_request.inPlace != SetupRequest::InPlace::AsWindow) {
        // An adaptor that answers at its address with its own MAC is in
        // place, whatever address it was said to have.
        const SetupCheck found = SetupCheck::of(m_request, m_helperProgram);
        if (found.state == SetupCheck::State::InPlace) {
            if (m_request.inPlace == SetupRequest::InPlace::Leave) {
                m_status->showMessage(found.text + QStringLiteral(": left as it is"));
                return RunOutcome::InPlace;
            }
            current = m_request.target.ip;
        }
    }
    m_controller->start(m_request.target, current);
    m_pump.waitUntil([this] { return ended(); });
    if (m_interrupted)
        return RunOutcome::Interrupted;
    if (const auto& result = m_controller->result())
        return result->outcome;
    // Given up while handed back: a check that never got its probes made, or
    // a dialogue whose step failed on every tick.
    return m_controller->progress().now().stage == RunStage::Checking ? RunOutcome::NotChecked
                                                                                : RunOutcome::Failed;
}

void CliRun::interrupt() {
    if (m_interrupted)
        return;
    m_interrupted = true;
    print(kInterrupted);
    m_controller->unload();
}
