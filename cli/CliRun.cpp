#include "cli/CliRun.h"

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
        if (text == Sequencer::kSetupSucceeded && !m_run.m_sinceSuccess.isValid()) {
            m_run.m_sinceSuccess.start();
            m_run.m_wake.start(kLogoutWaitMs);
        }
        m_text = text;
        history << text;
    }
    QStringList history;

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

std::optional<SetupRequest> SetupRequest::from(const QString& mac, const QString& ip, const QString& mask,
                                               const QString& gateway, bool signTest, QString* why,
                                               QString* field) {
    const auto refuse = [why, field](const QString& reason) -> std::optional<SetupRequest> {
        if (why)
            *why = reason;
        if (field)
            *field = reason.section(QLatin1Char(' '), 0, 0).mid(2);
        return std::nullopt;
    };
    static const QRegularExpression macForm(
        QStringLiteral("^[0-9A-Fa-f]{2}([-:]?)[0-9A-Fa-f]{2}(\\1[0-9A-Fa-f]{2}){4}$"));
    if (!macForm.match(mac).hasMatch())
        return refuse(
            QStringLiteral("--mac %1: six hexadecimal pairs, joined by '-', ':' or nothing").arg(mac));
    SetupRequest r;
    const QString digits = QString(mac).remove(QLatin1Char('-')).remove(QLatin1Char(':'));
    for (int i = 0; i < 6; ++i)
        r.mac[i] = digits.mid(i * 2, 2);
    const std::array<std::tuple<const char*, const QString*, std::array<QString, 4>*>, 3> quads{
        {{"--ip", &ip, &r.ip}, {"--mask", &mask, &r.mask}, {"--gateway", &gateway, &r.gateway}}};
    for (const auto& [option, text, out] : quads) {
        QString reason;
        if (!quadFields(QLatin1String(option), *text, out == &r.mask ? 255 : 254, *out, reason))
            return refuse(reason);
    }
    // Well formed, but would they make a network the adaptor can work on?
    if (const auto wrong = AddressRules::senseCheck(r.ip, r.mask, r.gateway)) {
        using Field = AddressRules::SenseRefusal::Field;
        const auto& [option, text] = wrong->field == Field::Ip     ? std::pair{"--ip", &ip}
                                     : wrong->field == Field::Mask ? std::pair{"--mask", &mask}
                                                                   : std::pair{"--gateway", &gateway};
        return refuse(QStringLiteral("%1 %2: %3").arg(QLatin1String(option), *text, wrong->text));
    }
    r.signTest = signTest;
    return r;
}

bool SetupRequest::quadFields(const QString& option, const QString& text, int bound,
                              std::array<QString, 4>& out, QString& why) {
    static const QRegularExpression octet(QStringLiteral("^[0-9]{1,3}$"));
    const QStringList octets = text.split(QLatin1Char('.'));
    if (octets.size() != 4) {
        why = QStringLiteral("%1 %2: a dotted quad").arg(option, text);
        return false;
    }
    for (int i = 0; i < 4; ++i) {
        if (!octet.match(octets[i]).hasMatch() || octets[i].toInt() > bound) {
            why =
                QStringLiteral("%1 %2: each octet one to three digits, 0 to %3").arg(option, text).arg(bound);
            return false;
        }
        out[std::size_t(i)] = QString::number(octets[i].toInt());
    }
    return true;
}

bool SetupRequest::setCurrentIp(const QString& text, QString* why, QString* field) {
    std::array<QString, 4> octets;
    QString reason;
    if (!quadFields(QStringLiteral("--current-ip"), text, 254, octets, reason)) {
        if (why)
            *why = reason;
        if (field)
            *field = QStringLiteral("current_ip");
        return false;
    }
    currentIp = QStringList(octets.begin(), octets.end()).join(QLatin1Char('.'));
    return true;
}

CliRun::CliRun(const SetupRequest& request, QTextStream& out, const QString& helperProgram)
    : m_request(request)
    , m_out(out)
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
        const auto position = [&m] { return std::tuple(m.phase, m.dialogueStep, m.counter); };
        const auto before = position();
        const QString status = m_status->message();
        m_controller->tick();
        const bool idle = m_setupButton->enabled() && position() == before && m_status->message() == status;
        m_idleTicks = idle ? m_idleTicks + 1 : 0;
    });
    ports.transcriptBox = m_transcriptBox.get();
    ports.status = m_status.get();
    ports.setupButton = m_setupButton.get();
    ports.exitButton = m_exitButton.get();
    ports.tickTimer = m_timer.get();
    ports.pointer = m_pointer.get();
    ports.messageBox = m_box.get();
    ports.pump = &m_pump;
    ports.frame = m_frame.get();
    m_host.fillEmpty(ports);
    m_controller = std::make_unique<SetupController>(ports);
    m_controller->load();
    m_controller->progress().observe([this](const RunProgress::Snapshot& s) { stageChanged(s); });
    m_controller->transcript().observe([this](const DialogueTranscript::Entry& e) { dialogue(e); });
    if (request.tickMs > 0)
        m_timer->setInterval(request.tickMs);
    if (!request.currentIp.isEmpty()) {
        QString mac;
        for (const QString& pair : request.mac)
            mac += pair.toLower();
        m_controller->reachAt(mac, request.currentIp);
    }

    const auto fill = [this](int array, const auto& texts) {
        for (int i = 0; i < int(texts.size()); ++i)
            m_controller->field({array, i}).setText(texts[i]);
    };
    fill(1, request.mac);
    fill(2, request.ip);
    fill(3, request.mask);
    fill(4, request.gateway);
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
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        if (why)
            *why = QStringLiteral("--log %1: %2").arg(path, file->errorString());
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

QString CliRun::reason(int exit, const QString& lastStatus) {
    switch (exit) {
    case Succeeded:
        return QStringLiteral("assigned");
    case Interrupted:
        return QStringLiteral("interrupted");
    case BadValues:
        return QStringLiteral("refused");
    default:
        break;
    }
    // The identity check's texts, each with its adaptor and address filled in.
    const auto isOf = [&lastStatus](const QString& pattern) {
        QString escaped = QRegularExpression::escape(pattern);
        for (const char* place : {"%1", "%2", "%3"})
            escaped.replace(QRegularExpression::escape(QLatin1String(place)), QStringLiteral(".*"));
        return QRegularExpression(QStringLiteral("\\A") + escaped + QStringLiteral("\\z"))
            .match(lastStatus)
            .hasMatch();
    };
    static const QString stalled = RunTimeError(RunTimeError::NoAnswer).description();
    if (lastStatus == Sequencer::kAddressExists)
        return QStringLiteral("address-taken");
    if (lastStatus == Sequencer::kSetupFailed)
        return QStringLiteral("no-answer");
    if (lastStatus.contains(stalled))
        return QStringLiteral("stalled");
    if (lastStatus == SetupCommand::kFamilyMessage || SetupCommand::isRefusal(lastStatus))
        return QStringLiteral("refused");
    if (isOf(IdentityCheck::kNoAnswer))
        return QStringLiteral("not-found");
    if (isOf(IdentityCheck::kOtherDevice))
        return QStringLiteral("other-device");
    if (isOf(IdentityCheck::kOffSegment))
        return QStringLiteral("off-segment");
    if (lastStatus.endsWith(QStringLiteral(" (SendTest)")))
        return QStringLiteral("sign-test");
    return QStringLiteral("failed");
}

bool CliRun::ended() const {
    if (m_controller->unloaded())
        return true;
    if (!m_setupButton->enabled())
        return false;
    // The sign's two messages are on their way until the send completes.
    if (m_controller->signTest().handedOver() && m_host.signSocket.state() == SocketControl::Connected)
        return false;
    // The adaptor closes the command line after "Logout": a logout of our own
    // (as closing the window sends) would only follow it.
    if (m_sinceSuccess.isValid() && m_host.commandLineSocket.state() == SocketControl::Connected &&
        m_sinceSuccess.elapsed() < kLogoutWaitMs)
        return false;
    // A dialogue that stopped answering has been reported: nobody is there to press Setup again.
    static const QString stalled = RunTimeError(RunTimeError::NoAnswer).description();
    if (!m_timer->enabled() || m_status->message().contains(stalled))
        return true;
    // An error the window reports on every tick (a dialogue whose adaptor
    // never sent anything) leaves the window unlocked for the user to start
    // again or leave; a command line has no such user.
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
    const int exit = outcome();
    const double time = double(m_clock.elapsed()) / 1000.0;
    if (m_output == Output::Json)
        m_out << jsonLine("finished", time,
                          {{QStringLiteral("result"), resultName(exit)},
                           {QStringLiteral("reason"), reason(exit, lastShown())},
                           {QStringLiteral("status"), m_status->message()},
                           {QStringLiteral("exit"), exit}})
              << Qt::endl;
    if (m_output == Output::Quiet)
        m_out << m_lastLine << Qt::endl << QString::asprintf("%7.1f  ", time) << resultName(exit) << Qt::endl;
    return exit;
}

QString CliRun::lastShown() const {
    const QStringList& h = m_status->history;
    const auto shown = std::find_if(h.rbegin(), h.rend(), [](const QString& t) { return !t.isEmpty(); });
    return shown == h.rend() ? QString() : *shown;
}

int CliRun::outcome() {
    m_controller->setupClicked();
    m_pump.waitUntil([this] { return ended(); });
    if (m_interrupted)
        return Interrupted;
    const QStringList& h = m_status->history;
    if (std::any_of(h.begin(), h.end(), SetupCommand::isRefusal))
        return BadValues;
    bool ok = h.contains(Sequencer::kSetupSucceeded);
    if (m_request.signTest)
        ok = ok && m_controller->signTest().handedOver();
    return ok ? Succeeded : Failed;
}

void CliRun::interrupt() {
    if (m_interrupted)
        return;
    m_interrupted = true;
    print(kInterrupted);
    m_controller->unload();
}
