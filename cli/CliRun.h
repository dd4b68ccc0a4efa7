#pragma once

#include "base/CorePorts.h"
#include "setup/HostServices.h"
#include "setup/SetupController.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTextStream>
#include <array>
#include <memory>
#include <optional>
#include <vector>

// One setup as the command line gives it: the window's eighteen field texts
// and the answer to the "Test IP Address" question.
struct SetupRequest {
    std::array<QString, 6> mac;
    std::array<QString, 4> ip, mask, gateway;
    bool signTest = false;
    // An adaptor that already has an address: the address it has, as a
    // dotted quad in plain decimal; empty for the family's own route.
    QString currentIp;
    // The sequencer's tick in milliseconds; 0 keeps the window's own. Tests
    // against the simulator shorten it.
    int tickMs = 0;

    // The MAC as six hexadecimal pairs joined by '-', ':' or nothing, and the
    // addresses as dotted quads, split into the fields' texts. Each octet is
    // held to what its entry field lets a user type: one to three digits, no
    // sign or other character, within the field's bound (below 255 for an
    // address or gateway, up to 255 for the mask), and is written in plain
    // decimal as the field writes a completed octet ("010" is ten). The checks
    // of the values themselves stay the window's. Nothing, with why ("--ip
    // +1.2.3.4: ...") and the value's name ("ip") where given, otherwise.
    [[nodiscard]] static std::optional<SetupRequest> from(const QString& mac, const QString& ip,
                                                          const QString& mask, const QString& gateway,
                                                          bool signTest, QString* why,
                                                          QString* field = nullptr);
    // Sets currentIp from a dotted quad held to the same rules as --ip;
    // false, with why ("--current-ip ...: ...") and the value's name
    // ("current_ip") where given, otherwise.
    [[nodiscard]] bool setCurrentIp(const QString& text, QString* why, QString* field = nullptr);

    // One dotted quad as its four entry fields would hold it, each octet at
    // most bound; false with why ("--ip 10.1.2.300: ...") otherwise.
    [[nodiscard]] static bool quadFields(const QString& option, const QString& text, int bound,
                                         std::array<QString, 4>& out, QString& why);
};

// One whole setup run without a window: the window's logic behind ports that
// print what the window would show. The status line and every message box
// become lines of output, each with the seconds since the start; a message
// box's text follows kBoxMark.
class CliRun {
public:
    enum Exit { Succeeded = 0, Failed = 1, BadValues = 2, Interrupted = 130 };
    // After "Logout" the adaptor ends the connection itself; it is given this long.
    static constexpr int kLogoutWaitMs = 10000;
    inline static const QString kBoxMark = QStringLiteral("box: ");
    // The line an interrupted run prints last.
    inline static const QString kInterrupted = QStringLiteral("interrupted");

    CliRun(const SetupRequest& request, QTextStream& out,
           const QString& helperProgram = NetHelper::defaultProgram());
    ~CliRun();
    CliRun(const CliRun&) = delete;
    CliRun& operator=(const CliRun&) = delete;

    // Presses Setup and waits in the event loop until the run has ended;
    // answers the exit status.
    int run();
    // Ends the run as closing the window does: "logout" on an open dialogue,
    // the neighbour entry removed.
    void interrupt();

    [[nodiscard]] SetupController& controller() { return *m_controller; }

    // Text: a line for each status text and box. Json: one JSON object a
    // line for each event (started, status, box, finished), the text lines
    // going to err instead. Quiet: the last status line and the result only.
    enum class Output { Text, Json, Quiet };
    void setOutput(Output output, QTextStream& err) {
        m_output = output;
        m_err = &err;
    }
    [[nodiscard]] static QString resultName(int exit);
    // One word for how a run ended, for programs to act on: assigned,
    // refused, interrupted, address-taken (something else answers at the
    // address), no-answer (the adaptor never answered at its new address),
    // stalled (its dialogue stopped), not-found, other-device or off-segment
    // (an adaptor looked for at its current address), sign-test, failed.
    // From the exit status and the run's last status text.
    [[nodiscard]] static QString reason(int exit, const QString& lastStatus);
    // -v: each change of stage and every piece of the dialogue, as lines of
    // their own ("> 23 hello\n" sent, "< 23 Username> " received).
    void setVerbose(bool verbose) { m_verbose = verbose; }
    // The same, with the dialogue's times to the millisecond, written to a
    // file as it happens; false with why when the file cannot be made.
    bool setLog(const QString& path, QString* why);

private:
    class Text;
    class Status;
    class Switch;
    class Pointer;
    class Box;
    class End;

    void print(const QString& text, const char* event = "status", const QString& answer = {});
    void stageChanged(const RunProgress::Snapshot& snapshot);
    void dialogue(const DialogueTranscript::Entry& entry);
    void log(const QString& line);
    [[nodiscard]] bool ended() const;
    [[nodiscard]] QString lastShown() const; // the last status text that was not empty
    int outcome();

    SetupRequest m_request;
    QTextStream& m_out;
    QElapsedTimer m_clock;
    std::vector<std::unique_ptr<Text>> m_fields;
    std::unique_ptr<Text> m_transcriptBox;
    std::unique_ptr<Status> m_status;
    std::unique_ptr<Switch> m_setupButton, m_exitButton;
    std::unique_ptr<Pointer> m_pointer;
    std::unique_ptr<Box> m_box;
    std::unique_ptr<End> m_frame;
    std::unique_ptr<TickTimer> m_timer;
    EventLoopPump m_pump;
    HostServices m_host;
    std::unique_ptr<SetupController> m_controller;
    Output m_output = Output::Text;
    QTextStream* m_err = nullptr;
    QString m_lastLine;
    bool m_interrupted = false;
    bool m_verbose = false;
    std::unique_ptr<QFile> m_log;
    RunProgress::Snapshot m_shownStage;
    int m_idleTicks = 0;          // ticks of an unlocked window that changed nothing
    QElapsedTimer m_sinceSuccess; // started by the success line
    QTimer m_wake;                // ends the wait for the adaptor's own close
};
