#pragma once

#include "base/CorePorts.h"
#include "cli/SetupRequest.h"
#include "setup/HostServices.h"
#include "setup/RunOutcome.h"
#include "setup/SetupController.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTextStream>
#include <array>
#include <memory>
#include <optional>
#include <vector>

// One whole setup run without a window: the window's logic behind ports that
// print what the window would show. The status line and every message box
// become lines of output, each with the seconds since the start; a message
// box's text follows kBoxMark.
class CliRun {
public:
    enum Exit {
        Succeeded = RunOutcomes::kSucceeded,
        Failed = RunOutcomes::kFailed,
        BadValues = RunOutcomes::kRefused,
        Interrupted = RunOutcomes::kInterrupted
    };
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
    // How the run ended, once run() has returned.
    [[nodiscard]] RunOutcome result() const { return m_outcome; }
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
    RunOutcome outcome();

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
    QString m_helperProgram;
    HostServices m_host;
    std::unique_ptr<SetupController> m_controller;
    Output m_output = Output::Text;
    QTextStream* m_err = nullptr;
    QString m_lastLine;
    bool m_interrupted = false;
    RunOutcome m_outcome = RunOutcome::Failed;
    bool m_verbose = false;
    std::unique_ptr<QFile> m_log;
    RunProgress::Snapshot m_shownStage;
    int m_idleTicks = 0;          // ticks of an unlocked window that changed nothing
    QElapsedTimer m_sinceSuccess; // started by the success line
    QTimer m_wake;                // ends the wait for the adaptor's own close
};
