// The eighteen entry fields typed into like a user would (each write raises
// Change, nested writes included), with focus moves in between, then Setup
// pressed: the pre-check, the route of the MAC family and its probe cycle run
// on the fake event loop, with more typing delivered while the window waits.
//
// Input: one scenario byte, then lines separated by '\n':
//   bits 0-1 of the scenario   echo probes: 0 the address answers at once; 1 never answers;
//                              2 silent in the pre-check, answers from probe 4; 3 from probe 5
//   bit 2                      the command-line connection succeeds (else it fails)
//   bit 3                      launching the host command fails
//   bit 4                      stopping the socket library fails
//   bit 5                      sending the broadcast datagram fails
//   bits 6-7                   the socket library fails to start this many times first
//   "a<text>" to "r<text>"     type the text (UTF-8) into entry field 0 to 17
//                              (Text1(0..5), Text2, Text3, Text4); MAC fields take two characters
//   ">x"                       move the focus: 'a'-'r' an entry field, 's' Setup, 't' Exit
//   "="                        the lines after it are typed one per timer tick while Setup waits
//   other lines                the first byte picks a field (modulo 18), the rest is typed

#include "FakeWindow.h"
#include "FuzzInput.h"
#include "Oracles.h"
#include "setup/Sequencer.h"
#include "setup/SetupCommand.h"

#include <QRegularExpression>
#include <cmath>
#include <set>

namespace {

constexpr Long kSilent = 1;

struct Scenario {
    int probe = 0;
    bool connects = false;
    bool hostFails = false;
    bool cleanupFails = false;
    bool sendFails = false;
    int initFailures = 0;
};

// One line of the script, applied to the window.
void apply(FakeWindow& w, const QByteArray& line) {
    if (line.isEmpty())
        return;
    const auto first = std::uint8_t(line.at(0));
    if (first == '>') {
        const int target = line.size() > 1 ? std::uint8_t(std::uint8_t(line.at(1)) - 'a') % 20 : 0;
        w.moveFocus(target < EntryFields::kFieldCount ? target
                    : target == 18                    ? FakeWindow::kSetupFocus
                                                      : FakeWindow::kExitFocus);
        return;
    }
    const int position = first >= 'a' && first <= 'r' ? first - 'a' : first % EntryFields::kFieldCount;
    QString text = QString::fromUtf8(line.mid(1));
    // A MAC field takes at most two characters from the user.
    if (position < 6)
        text.truncate(2);
    w.fields.at(position)->type(text);
}

bool allAsciiDigits(const QString& t) {
    for (const QChar c : t) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

// The rules that hold after every Change pass, whatever was typed.
void checkFields(FakeWindow& w) {
    // Only the field with the focus is painted active.
    for (int i = 0; i < EntryFields::kFieldCount; ++i)
        FUZZ_CHECK((w.fields[i]->colour() == FieldColour::Active) == (w.focus == i));

    QString mac[6];
    for (int i = 0; i < 6; ++i) {
        mac[i] = w.field(1, i).text();
        FUZZ_CHECK(mac[i].size() <= 2);
    }
    auto complete = [](const QString& t) { return Oracle::trimmed(t).size() == 2; };
    if (complete(mac[0]))
        FUZZ_CHECK(mac[0] == QLatin1String("00"));
    if (complete(mac[1]))
        FUZZ_CHECK(mac[1] == QLatin1String("20") || mac[1] == QLatin1String("80"));
    if (complete(mac[1]) && complete(mac[2])) {
        const QString third = Oracle::trimmed(mac[2]).toLower();
        FUZZ_CHECK((mac[1] == QLatin1String("20") && third == QLatin1String("4a")) ||
                   (mac[1] == QLatin1String("80") && third == QLatin1String("a3")));
    }
    for (int i = 3; i < 6; ++i) {
        if (complete(mac[i])) {
            const QString t = Oracle::trimmed(mac[i]).toLower();
            FUZZ_CHECK(Oracle::hexDigit(t.front()) && Oracle::hexDigit(t.back()));
        }
    }

    for (int array = 2; array <= 4; ++array) {
        for (int i = 0; i < 4; ++i) {
            const QString text = w.field(array, i).text();
            if (text.isEmpty())
                continue;
            FUZZ_CHECK(!text.contains(QLatin1Char('.')));
            const Oracle::Number n = Oracle::readDecimal(text);
            if (n.open())
                continue;
            FUZZ_CHECK(n.plain);
            FUZZ_CHECK(array == 3 ? n.value <= 255 : n.value < 255);
            // A completed octet stands in plain decimal.
            const QString t = Oracle::trimmed(text);
            if (t.size() == 3)
                FUZZ_CHECK(text == QString::number(static_cast<long long>(std::trunc(n.value))));
            if (t.size() == 3 && allAsciiDigits(t))
                FUZZ_CHECK(t.front() != QLatin1Char('0'));
        }
    }
}

void checkStatusWhileTyping(FakeWindow& w) {
    const QString s = w.status.message();
    FUZZ_CHECK(s.isEmpty() || s == EntryFields::kFormatMessage || s == EntryFields::kMacPrefixMessage);
}

bool isErrorLine(const QString& line) {
    static const QRegularExpression form(
        QStringLiteral("^(\\d+) - (.+) \\((SetupIP|Timer, -?\\d+ -?\\d+|SetIPAddr, "
                       "-?\\d+,-?\\d+|SetBroadcastIP, -?\\d+,-?\\d+)\\)$"));
    const auto match = form.match(line);
    if (!match.hasMatch())
        return false;
    const int number = match.captured(1).toInt();
    static const std::set<int> codes{
        RunTimeError::InvalidArgument,    RunTimeError::Overflow,         RunTimeError::SubscriptOutOfRange,
        RunTimeError::TypeMismatch,       RunTimeError::SocketWrongState, RunTimeError::ConnectionRefused,
        RunTimeError::ConnectionTimedOut, RunTimeError::HostUnreachable,  RunTimeError::CommandNotStarted,
        RunTimeError::InvalidAddress,     RunTimeError::SocketFailure,    RunTimeError::NoAnswer};
    return codes.count(number) == 1 &&
           match.captured(2) == RunTimeError::describe(RunTimeError::Code(number));
}

void checkAfterSetup(FakeWindow& w, const Scenario& s) {
    const RunState& m = w.controller->run;
    static const std::set<QString> known{
        QString(),
        SetupCommand::kInProcess,
        SetupCommand::kMacMessage,
        SetupCommand::kIpMessage,
        SetupCommand::kGatewayMessage,
        SetupCommand::kMaskMessage,
        SetupCommand::kFamilyMessage,
        EntryFields::kFormatMessage,
        EntryFields::kMacPrefixMessage,
        Sequencer::kAddressExists,
        Sequencer::kSetupFailed,
        Sequencer::kNotChecked,
        Sequencer::kNotCheckedAfter,
    };
    for (const QString& line : w.status.history)
        FUZZ_CHECK(known.count(line) == 1 || SetupCommand::isRefusal(line) || isErrorLine(line));

    // Idle, or locked with a device dialogue under way: never half of each,
    // and never locked with nothing left to unlock it.
    const bool dialogue =
        w.timer.enabled() && isDialogue(w.controller->progress().stage());
    FUZZ_CHECK(w.idle() || w.locked());
    if (w.locked())
        FUZZ_CHECK(dialogue);
    // A socket library that failed to start unlocks the window while the run goes on.
    const bool libraryFailed =
        !w.messageBox.shown.empty() && w.messageBox.shown.front().text == Sequencer::kSocketsNotResponding;
    if (w.idle() && !libraryFailed)
        FUZZ_CHECK(!dialogue);
    if (dialogue)
        FUZZ_CHECK(m.dialogueStep == 0);

    FUZZ_CHECK(w.probe.open == 0);
    // Every probe and every neighbour request is about one address, the one
    // the run's target holds, and every entry is for one MAC.
    const QString bind = w.neighbours.calls.filter(QStringLiteral("bind ")).value(0);
    const QString ip =
        w.probe.pinged.isEmpty() ? bind.section(QLatin1Char(' '), 1, 1) : w.probe.pinged.value(0);
    for (const QString& address : w.probe.pinged)
        FUZZ_CHECK(address == ip);
    for (const QString& payload : w.probe.payloads)
        FUZZ_CHECK(payload == Sequencer::kEchoData);
    for (const QString& datagram : w.datagramSocket.sent) {
        FUZZ_CHECK(datagram.size() == 20);
        for (const QChar c : datagram)
            FUZZ_CHECK(c.unicode() < 256);
    }
    FUZZ_CHECK(bind.isEmpty() || bind.startsWith(QStringLiteral("bind ") + ip + QLatin1Char(' ')));
    const QString unbind = QStringLiteral("release ") + ip;
    for (const QString& command : w.neighbours.calls)
        FUZZ_CHECK(command == bind || command == unbind);
    if (s.probe == 0 && s.initFailures == 0 && w.probe.pinged.size() > 0)
        FUZZ_CHECK(w.status.history.contains(Sequencer::kAddressExists));
}

void run(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    const std::uint8_t b = in.byte();
    Scenario s;
    s.probe = b & 3;
    s.connects = b & 4;
    s.hostFails = b & 8;
    s.cleanupFails = b & 16;
    s.sendFails = b & 32;
    s.initFailures = b >> 6;

    FakeWindow w;
    static constexpr int answersFrom[] = {1, 0, 4, 5};
    const int from = answersFrom[s.probe];
    w.probe.answer = [from](qsizetype n) { return from && n >= from ? 0 : kSilent; };
    w.probe.initFailures = s.initFailures;
    w.probe.cleanupOk = !s.cleanupFails;
    w.neighbours.fail = s.hostFails;
    w.datagramSocket.failSend = s.sendFails;
    w.commandLineSocket.connectOutcome = s.connects ? SocketControl::Connected : SocketControl::Error;
    checkFields(w);

    int lines = 0;
    bool duringWait = false;
    int tick = 0;
    while (!in.atEnd() && ++lines < 2000) {
        const QByteArray line = in.until('\n');
        if (!duringWait && line == "=") {
            duringWait = true;
            continue;
        }
        if (duringWait) {
            w.atTick[++tick] = [&w, line] {
                apply(w, line);
                checkFields(w);
            };
            continue;
        }
        apply(w, line);
        checkFields(w);
        checkStatusWhileTyping(w);
    }

    FUZZ_CHECK(w.idle());
    // Clicking the button takes the focus to it first.
    w.moveFocus(FakeWindow::kSetupFocus);
    w.press();
    checkFields(w);
    checkAfterSetup(w, s);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        run(data, size);
    } catch (...) {
        FUZZ_CHECK(!"an exception left the window's logic");
    }
    return 0;
}
