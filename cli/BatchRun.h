#pragma once

#include "cli/BatchFile.h"
#include "cli/BatchSchedule.h"
#include "cli/CliRun.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonObject>
#include <QObject>
#include <QProcess>
#include <QSet>
#include <QTimer>

#include <functional>
#include <memory>
#include <vector>

// Runs the rows of a batch, each as a child process of `netrika-cli setup`,
// up to `jobs` at once. A child has its own event loop, its own network
// helper (and so its own rate limit) and its own clean-up, and a run that
// fails, hangs or floods cannot hold up or break another. Every line a child
// prints is passed on with the row's MAC in front.
class BatchRun : public QObject {
public:
    struct Options {
        int jobs = 16;
        QString program;            // netrika-cli itself
        QStringList extraArguments; // passed to every child
        QString logDir;             // each row's stages and dialogue to <logDir>/<mac>.log
        bool terminal = false;      // keep a summary line at the bottom
        // Text: each row's lines with its MAC in front. Json: an event a line
        // (started, stage, dialogue, status, box, finished, each with the
        // row's line), the text going to err. Quiet: nothing until the final
        // table.
        CliRun::Output output = CliRun::Output::Text;
        std::function<void(int row)> onFinished; // once a row's outcome is known
        // Where the rows' cells hold a column "name" (the sign's), shown in
        // the final table; -1 for none.
        qsizetype nameCell = -1;
        // Each row is only checked (setup --check: ARP alone), and its state
        // kept instead of a run's result.
        bool check = false;
        // Adaptors already in place are given their values again.
        bool force = false;
    };
    // DoneBefore: a row an earlier run's report lists as done with the same
    // values, not run again. InPlace: its adaptor already answered at its
    // address with its own MAC, and was left alone.
    enum class Result { Waiting, Running, Succeeded, Failed, Interrupted, DoneBefore, InPlace };
    struct Outcome {
        Result result = Result::Waiting;
        QString status; // the last status text the row's run showed
        double seconds = 0;
        QString reason;      // the row's run's own reason word, "not-run" or "done-before"
        QString childReason; // the reason the row's run gave in its finished event
        // Checking only: what a run would find (to-assign, in-place, to-apply,
        // taken, not-found, refused; done-before when it would not run).
        QString state;
    };
    // 00-80-a3-61-63-dd: a row's MAC as the window writes it, whatever the file's spelling.
    [[nodiscard]] static QString dashedMac(const SetupRequest& request);
    // "00-80-a3-61-63-dd.log": where a row's dialogue goes under --log-dir.
    [[nodiscard]] static QString logName(const SetupRequest& request);
    // How long children are given to log out and clean up after an interrupt.
    static constexpr int kStopWaitMs = 15000;

    BatchRun(std::vector<BatchRow> rows, Options options, QTextStream& out, QTextStream& err);
    ~BatchRun() override;

    // A row the earlier run finished: it is not run, and is told as done
    // before, with what that run said of it. Before run().
    void doneBefore(int row, double seconds, const QString& status);
    // A row whose adaptor, if in place, is given its values again (they
    // changed since the earlier run). Before run().
    void applyAgain(int row) { m_applyAgain.insert(row); }
    // Runs every row and waits until all have ended; answers the exit status.
    int run();
    // Ends every running row as closing the window does, and starts no more.
    void interrupt();

    [[nodiscard]] const std::vector<Outcome>& outcomes() const { return m_outcomes; }
    // The final table, aligned for reading, in the order of the file.
    [[nodiscard]] QString table() const;
    // The counts that stay below it: "4 succeeded, 1 failed, 0 not run".
    [[nodiscard]] QString counts() const;
    [[nodiscard]] static QString resultName(Result r);

private:
    struct Child;

    void startMore();
    void started(int row);
    void readLines(int row, QProcess::ProcessChannel channel);
    void childEvent(int row, const QString& line);
    void finished(int row, int exitCode, QProcess::ExitStatus status);
    void progress(const QString& line);
    void keepStatus(int row, const QString& text);
    // A row's line on standard error, below the lines before it.
    void aside(const QString& line);
    [[nodiscard]] QString shownMac(int row) const;
    [[nodiscard]] QString summary() const;
    // The end of a checking batch: the table of states, their counts, the exit status.
    int checked();

    std::vector<BatchRow> m_rows;
    Options m_options;
    QTextStream& m_out;
    QTextStream& m_err;
    std::vector<Outcome> m_outcomes;
    std::vector<std::unique_ptr<Child>> m_children;
    std::vector<int> m_waiting, m_running;
    QSet<int> m_applyAgain;
    bool m_interrupted = false;
    bool m_summaryShown = false;
    QElapsedTimer m_clock;
    void jsonEvent(const char* name, int row, QJsonObject fields);
    QTimer m_killTimer;
    QEventLoop m_loop;
};
