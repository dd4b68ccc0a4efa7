// Both device dialogues against an adaptor that says anything at all: chunks
// of arbitrary bytes (NULs and codes 128-255 included) interleaved with timer
// ticks and with the connection dropping and coming back.
//
// Input: one option byte, then a script of operations:
//   bit 0 of the option byte   0: command-line dialogue (commandLineSocket), 1: setup menu (setupMenuSocket)
//   bits 1-2                   host bits of the mask for the menu: 8, 16, 24, 8
//   bit 3                      answer Yes to the sign-test question at the end
//   bit 4                      the sign's connection then succeeds (else it fails)
//   bit 5                      the menu connection is still being made at the start
//   'D' n <n bytes>            the adaptor sends a chunk (bytes read as Latin-1)
//   'B' k                      the adaptor sends the latest chunk repeated to (k+1) KiB, at most
//                              64 KiB (the first four in an input)
//   'E'                        a data arrival that delivers nothing
//   'C' / 'O'                  the connection closes / stands
//   'S' s                      the connection is in state s (closed, open, connecting, connected, closing,
//   error) 'Z'                        the adaptor ends the command-line connection (its Close event) anything
//   else              one tick of the timer, if it runs

#include "FakeWindow.h"
#include "FuzzInput.h"
#include "setup/Sequencer.h"

#include <QRegularExpression>
#include <array>
#include <set>

namespace {

const QString kCrLf = QStringLiteral("\r\n");
// The most one arrival hands over (the socket control's chunk limit).
constexpr qsizetype kMaxChunk = 64 * 1024;

struct Dialogue {
    bool menu = false;
    FakeSocket* socket = nullptr;
    QStringList sends;       // every line of a smooth run, in order
    QList<Long> statesAfter; // dialogueStep after 0, 1, 2, ... lines sent
};

// The command-line dialogue as the ARP route leaves it once connected.
Dialogue startCommandLine(FakeWindow& w) {
    const AdaptorTarget target = FakeWindow::target("201.23.12.82", "255.255. 255.0", "201.23.12.2");
    w.commandLineSocket.setState(SocketControl::Connected);
    w.controller->lockWindow();
    w.controller->commandLine().begin(target, true);
    w.controller->sequencer().startDialogue(RunStage::CommandLine);
    Dialogue d;
    d.socket = &w.commandLineSocket;
    for (const char* line : {"hello", "SET PRIVILEGED", "tundra"})
        d.sends << QString::fromLatin1(line) + QChar(10);
    d.sends << QStringLiteral("CHANGE IPAddress ") + AddressRules::dotted(target.ip) + QChar(10)
            << QStringLiteral("CHANGE Gateway ") + AddressRules::dotted(target.gateway) + QChar(10)
            << QStringLiteral("CHANGE Subnet Mask ") + AddressRules::dotted(target.mask) + QChar(10);
    for (const char* line :
         {"CHANGE SPEED 9600", "CHANGE CHARSIZE 8", "CHANGE STOPBITS 1", "CHANGE PARITY NONE", "Logout"})
        d.sends << QString::fromLatin1(line) + QChar(10);
    d.statesAfter = {0, 1, 2, 3, 4, 5, 10, 14, 15, 16, 6, 7};
    return d;
}

// The setup-menu dialogue as the broadcast route leaves it.
Dialogue startMenu(FakeWindow& w, int hostBits, bool connecting) {
    AdaptorTarget target = FakeWindow::target("192.168.1.20", "255.255.255.0", "192.168.1.1");
    target.hostBits = hostBits;
    // The fields are not what the dialogue sends: the checked gateway is.
    w.field(4, 1).fill(QStringLiteral(" 99"));
    const QStringList gateway{QStringLiteral("192"), QStringLiteral("168"), QStringLiteral("1"),
                              QStringLiteral("1")};
    w.setupMenuSocket.setState(connecting ? SocketControl::Connecting : SocketControl::Connected);
    w.controller->lockWindow();
    w.controller->setupMenu().begin(target, false);
    w.controller->sequencer().startDialogue(RunStage::SetupMenu);
    w.transcriptBox.fill(QStringLiteral("Connected"));
    Dialogue d;
    d.menu = true;
    d.socket = &w.setupMenuSocket;
    d.sends << kCrLf << QStringLiteral("0\n") << kCrLf << kCrLf << kCrLf << kCrLf << QStringLiteral("y");
    for (const QString& octet : gateway)
        d.sends << octet + kCrLf;
    d.sends << QString::number(hostBits) + kCrLf << kCrLf << QStringLiteral("1") + kCrLf
            << QStringLiteral("9600") + kCrLf << QStringLiteral("4C") + kCrLf << kCrLf
            << QStringLiteral("03001") + kCrLf;
    for (int i = 0; i < 12; ++i)
        d.sends << kCrLf;
    d.sends << QStringLiteral("9") + kCrLf;
    d.statesAfter = {0, 2, 3, 3, 3, 3, 4, 4, 4, 4, 4, 5, 8, 9, 10, 11, 11, 12, 13};
    for (int i = 0; i < 11; ++i)
        d.statesAfter << 13;
    d.statesAfter << 6 << 7;
    return d;
}

bool isErrorLine(const QString& line, bool menu) {
    static const QRegularExpression form(QStringLiteral("^(\\d+) - (.+) \\(Timer, (\\d+) (\\d+)\\)$"));
    const auto match = form.match(line);
    if (!match.hasMatch())
        return false;
    const int number = match.captured(1).toInt();
    static const std::set<int> codes{RunTimeError::Overflow, RunTimeError::SubscriptOutOfRange,
                                     RunTimeError::SocketWrongState, RunTimeError::NoAnswer};
    // A menu connection in its failed state: the attempt's cause, which ends the run.
    const bool connectionFailed = menu && number == RunTimeError::ConnectionRefused;
    return (codes.count(number) == 1 || connectionFailed) &&
           match.captured(2) == RunTimeError::describe(RunTimeError::Code(number)) &&
           match.captured(3) == QString::number(menu ? 3 : 1); // the dialogue's phase number
}

// checked: how many status lines earlier checks have seen.
void checkRules(FakeWindow& w, const Dialogue& d, qsizetype& checked) {
    const RunState& m = w.controller->run;
    const QStringList& sent = d.socket->sent;
    // Lines go out in the order of a smooth run, none skipped or repeated,
    // and the step always matches the lines sent so far.
    FUZZ_CHECK(sent.size() <= d.sends.size());
    for (qsizetype i = 0; i < sent.size(); ++i)
        FUZZ_CHECK(sent.at(i) == d.sends.at(i));
    FUZZ_CHECK(m.dialogueStep == d.statesAfter.at(sent.size()));
    // Nothing goes out on the other connections but the sign test.
    FUZZ_CHECK((d.menu ? w.commandLineSocket : w.setupMenuSocket).sent.isEmpty());
    FUZZ_CHECK(w.datagramSocket.sent.isEmpty());
    FUZZ_CHECK(w.transcriptBox.text().size() <= kTranscriptLimit);
    FUZZ_CHECK(w.locked() || w.idle());
    // Every status line is the closing's, the sign test's or a tick's error report.
    const QStringList& history = w.status.history;
    for (; checked < history.size(); ++checked) {
        const QString& line = history.at(checked);
        if (line.isEmpty() || line == Sequencer::kSetupSucceeded ||
            line.endsWith(QLatin1String(" (SendTest)")))
            continue;
        FUZZ_CHECK(isErrorLine(line, d.menu));
    }
    // The dialogue runs until its closing, which stops the timer and reports,
    // or until the menu's connection is found failed, which is reported once.
    const bool closed = history.contains(Sequencer::kSetupSucceeded);
    const qsizetype failures = history.filter(QRegularExpression(QStringLiteral("^1002 - "))).size();
    FUZZ_CHECK(failures <= 1);
    FUZZ_CHECK(w.timer.enabled() == (!closed && failures == 0));
    if (closed) {
        FUZZ_CHECK(m.dialogueStep == 7);
        FUZZ_CHECK(history.count(Sequencer::kSetupSucceeded) == 1);
        FUZZ_CHECK(w.messageBox.shown.size() == 1);
        FUZZ_CHECK(w.messageBox.shown[0].text == Sequencer::kTestQuestion);
    } else {
        FUZZ_CHECK(w.messageBox.shown.empty());
    }
    // The host entry is removed once, and only on the command-line route.
    const QStringList removal{QStringLiteral("release 201.23.12.82")};
    FUZZ_CHECK(w.neighbours.calls == (closed && !d.menu ? removal : QStringList()));
}

void deliver(FakeWindow& w, const Dialogue& d, const QString& chunk) {
    if (d.menu)
        w.menuSends(chunk);
    else
        w.clientSends(chunk);
}

void run(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    const std::uint8_t options = in.byte();
    FakeWindow w;
    w.messageBox.answers.push_back(options & 8 ? MessageBox::Yes : MessageBox::No);
    w.signSocket.connectOutcome = options & 16 ? SocketControl::Connected : SocketControl::Error;
    const int hostBits = std::array{8, 16, 24, 8}[(options >> 1) & 3];
    const Dialogue d = options & 1 ? startMenu(w, hostBits, options & 32) : startCommandLine(w);
    qsizetype checked = 0;
    checkRules(w, d, checked);

    QString latest;
    int ops = 0;
    int floods = 0;
    while (!in.atEnd() && ++ops < 5000) {
        switch (in.byte()) {
        case 'D':
            latest = QString::fromLatin1(in.counted());
            deliver(w, d, latest);
            break;
        case 'B': {
            // A few floods show the limits; more would only slow the search.
            if (++floods > 4)
                break;
            const qsizetype size = std::min<qsizetype>((qsizetype(in.byte()) + 1) * 1024, kMaxChunk);
            const QString unit = latest.isEmpty() ? QStringLiteral("x") : latest;
            latest = unit.repeated(size / unit.size() + 1).left(size);
            deliver(w, d, latest);
            break;
        }
        case 'E':
            deliver(w, d, QString());
            break;
        case 'C':
            d.socket->setState(SocketControl::Closed);
            break;
        case 'O':
            d.socket->setState(SocketControl::Connected);
            break;
        case 'S': {
            static constexpr int states[] = {SocketControl::Closed,      SocketControl::Open,
                                             SocketControl::Connecting,  SocketControl::Connected,
                                             SocketControl::PeerClosing, SocketControl::Error};
            d.socket->setState(states[in.byte() % 6]);
            break;
        }
        case 'Z':
            w.controller->commandLineClosed();
            break;
        default:
            // The event loop delivers ticks only while the timer runs.
            if (w.timer.enabled())
                w.tick();
            break;
        }
        checkRules(w, d, checked);
    }
    // The sign's connection, if the closing started one, ends as an event of the loop.
    w.pump.waitUntil([&w] { return w.signSocket.state() != SocketControl::Connecting; });
    if (w.status.history.contains(Sequencer::kSetupSucceeded) && (options & 8)) {
        // The sign test ran: both messages went out, or its failure was reported.
        const bool sent = w.signSocket.sent.size() == 2;
        FUZZ_CHECK(sent == bool(options & 16));
        FUZZ_CHECK(sent || w.status.message().endsWith(QLatin1String(" (SendTest)")));
    }
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
