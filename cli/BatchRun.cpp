#include "cli/BatchRun.h"

#include <QDir>

#include "cli/JsonLine.h"
#include "cli/RowProcess.h"

#include "address/AddressRules.h"
#include "cli/SetupCheck.h"
#include "setup/SetupCommand.h"

#include <QElapsedTimer>
#include <QHash>
#include <QJsonDocument>
#include <QRegularExpression>

#include <algorithm>

namespace {

QString joined(const std::array<QString, 4>& octets) {
    return QStringList(octets.begin(), octets.end()).join(QLatin1Char('.'));
}

} // namespace

struct BatchRun::Child {
    QProcess process;
    QElapsedTimer clock;
};

BatchRun::BatchRun(std::vector<BatchRow> rows, Options options, QTextStream& out, QTextStream& err)
    : m_rows(std::move(rows))
    , m_options(std::move(options))
    , m_out(out)
    , m_err(err)
    , m_outcomes(m_rows.size()) {
    for (int r = 0; r < int(m_rows.size()); ++r) {
        m_waiting.push_back(r);
        m_children.push_back(std::make_unique<Child>());
    }
    m_killTimer.setSingleShot(true);
    connect(&m_killTimer, &QTimer::timeout, this, [this] {
        for (int r : m_running)
            m_children[r]->process.kill();
    });
}

BatchRun::~BatchRun() {
    for (int r : m_running) {
        m_children[r]->process.kill();
        m_children[r]->process.waitForFinished(1000);
    }
}

void BatchRun::doneBefore(int r, double seconds, const QString& status) {
    m_outcomes[r] = {Result::DoneBefore, status, seconds, QStringLiteral("done-before"), {},
                     QStringLiteral("done-before")};
    m_waiting.erase(std::remove(m_waiting.begin(), m_waiting.end(), r), m_waiting.end());
}

int BatchRun::run() {
    m_clock.start();
    for (int r = 0; r < int(m_rows.size()); ++r)
        if (m_outcomes[r].result == Result::DoneBefore && !m_options.check)
            jsonEvent("skipped", r,
                      {{QStringLiteral("mac"), shownMac(r)},
                       {QStringLiteral("ip"), joined(m_rows[r].request.ip)},
                       {QStringLiteral("result"), resultName(Result::DoneBefore)},
                       {QStringLiteral("reason"), m_outcomes[r].reason},
                       {QStringLiteral("status"), m_outcomes[r].status}});
    startMore();
    while (!m_running.empty())
        m_loop.exec();
    if (m_summaryShown)
        m_out << "\r\033[K";
    if (m_options.check)
        return checked();
    const bool allSet = std::all_of(m_outcomes.begin(), m_outcomes.end(), [](const Outcome& o) {
        return o.result == Result::Succeeded || o.result == Result::DoneBefore || o.result == Result::InPlace;
    });
    // Every row is told how it ended, those never started too.
    for (int r = 0; r < int(m_outcomes.size()); ++r) {
        Outcome& o = m_outcomes[r];
        if (o.result != Result::Waiting)
            continue;
        o.reason = QStringLiteral("not-run");
        jsonEvent("finished", r,
                  {{QStringLiteral("result"), resultName(o.result)},
                   {QStringLiteral("reason"), o.reason},
                   {QStringLiteral("seconds"), 0},
                   {QStringLiteral("status"), o.status}});
    }
    const int exit = m_interrupted ? CliRun::Interrupted : allSet ? CliRun::Succeeded : CliRun::Failed;
    if (m_options.output == CliRun::Output::Json) {
        m_err << "\n" << table() << counts() << Qt::endl;
        const auto count = [this](Result r) {
            return int(std::count_if(m_outcomes.begin(), m_outcomes.end(),
                                     [r](const Outcome& o) { return o.result == r; }));
        };
        m_out << jsonLine("summary", m_clock.isValid() ? double(m_clock.elapsed()) / 1000.0 : 0,
                          {{QStringLiteral("succeeded"), count(Result::Succeeded)},
                           {QStringLiteral("failed"), count(Result::Failed)},
                           {QStringLiteral("interrupted"), count(Result::Interrupted)},
                           {QStringLiteral("not_run"), count(Result::Waiting)},
                           {QStringLiteral("done_before"), count(Result::DoneBefore)},
                           {QStringLiteral("in_place"), count(Result::InPlace)},
                           {QStringLiteral("exit"), exit}})
              << Qt::endl;
    } else {
        m_out << (m_options.output == CliRun::Output::Quiet ? "" : "\n") << table() << counts() << Qt::endl;
    }
    return exit;
}

void BatchRun::interrupt() {
    if (m_interrupted)
        return;
    m_interrupted = true;
    m_waiting.clear(); // left as they are: not run
    progress(QStringLiteral("interrupted: ending %1 running").arg(m_running.size()));
    for (int r : m_running)
        RowProcess::askToEnd(m_children[r]->process);
    m_killTimer.start(kStopWaitMs);
}

void BatchRun::startMore() {
    for (int r : startable(m_rows, m_waiting, m_running, m_options.jobs)) {
        m_waiting.erase(std::find(m_waiting.begin(), m_waiting.end(), r));
        started(r);
    }
    if (m_options.terminal)
        progress({});
}

QString BatchRun::logName(const SetupRequest& request) {
    return dashedMac(request) + QStringLiteral(".log");
}

void BatchRun::started(int r) {
    const BatchRow& row = m_rows[r];
    const SetupRequest& q = row.request;
    QStringList arguments{QStringLiteral("setup"),
                          QStringLiteral("--mac"),
                          row.mac,
                          QStringLiteral("--ip"),
                          joined(q.ip),
                          QStringLiteral("--mask"),
                          joined(q.mask),
                          QStringLiteral("--gateway"),
                          joined(q.gateway)};
    if (!q.currentIp.isEmpty())
        arguments << QStringLiteral("--current-ip") << q.currentIp;
    if (q.signTest)
        arguments << QStringLiteral("--sign-test");
    // Each row asks by ARP first whether its adaptor is in place already.
    if (m_options.check)
        arguments << QStringLiteral("--check");
    else
        arguments << QStringLiteral("--in-place")
                  << (m_options.force || m_applyAgain.contains(r) ? QStringLiteral("apply")
                                                                  : QStringLiteral("leave"));
    arguments << m_options.extraArguments;
    // A row's run tells the batch what happened as events: its status texts
    // and boxes for people, and how it ended for the report, never read back
    // from a text.
    arguments << QStringLiteral("--json");
    if (!m_options.logDir.isEmpty())
        arguments << QStringLiteral("--log") << QDir(m_options.logDir).filePath(logName(q));

    QJsonObject fields{{QStringLiteral("mac"), shownMac(r)}, {QStringLiteral("ip"), joined(q.ip)}};
    if (!q.currentIp.isEmpty())
        fields.insert(QStringLiteral("current_ip"), q.currentIp);
    if (!m_options.check)
        jsonEvent("started", r, fields);
    Child& c = *m_children[r];
    m_running.push_back(r);
    m_outcomes[r].result = Result::Running;
    connect(&c.process, &QProcess::readyReadStandardOutput, this,
            [this, r] { readLines(r, QProcess::StandardOutput); });
    connect(&c.process, &QProcess::readyReadStandardError, this,
            [this, r] { readLines(r, QProcess::StandardError); });
    connect(&c.process, &QProcess::finished, this,
            [this, r](int code, QProcess::ExitStatus status) { finished(r, code, status); });
    connect(&c.process, &QProcess::errorOccurred, this, [this, r](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            finished(r, -1, QProcess::CrashExit);
    });
    RowProcess::prepare(c.process);
    c.clock.start();
    // The program and its arguments go to the system as they are: no shell.
    c.process.start(m_options.program, arguments);
    RowProcess::adopt(c.process);
}

void BatchRun::readLines(int r, QProcess::ProcessChannel channel) {
    static const QRegularExpression timed(QStringLiteral("^ *\\d+\\.\\d  (.*)$"));
    QProcess& p = m_children[r]->process;
    p.setReadChannel(channel);
    while (p.canReadLine()) {
        const QString line = QString::fromUtf8(p.readLine()).chopped(1);
        if (channel == QProcess::StandardOutput) {
            childEvent(r, line);
            continue;
        }
        // The row's own lines for people come again as its events: on a
        // terminal or in a log they are shown from those.
        if (m_options.output != CliRun::Output::Json && timed.match(line).hasMatch())
            continue;
        aside(shownMac(r) + QStringLiteral("  ") + line);
    }
}

void BatchRun::aside(const QString& line) {
    // On a terminal the summary line stays at the bottom: it is cleared
    // first, so that the line does not run on from it, and shown again.
    if (m_summaryShown) {
        m_out << "\r\033[K";
        m_out.flush();
    }
    m_err << line << Qt::endl;
    if (m_summaryShown) {
        m_out << summary();
        m_out.flush();
    }
}

// One line of a row run with --json. Its own started and finished are the
// batch's to tell (the batch knows how the process ended); every other event
// is passed on with the row's line and the batch's time. The row's lines for
// people come on its standard error.
void BatchRun::childEvent(int r, const QString& line) {
    QJsonParseError error{};
    QJsonObject e = QJsonDocument::fromJson(line.toUtf8(), &error).object();
    const QString name = e.value(QStringLiteral("event")).toString();
    if (error.error != QJsonParseError::NoError || name.isEmpty()) {
        aside(shownMac(r) + QStringLiteral("  ") + line);
        return;
    }
    if (name == QLatin1String("finished")) {
        m_outcomes[r].childReason = e.value(QStringLiteral("reason")).toString();
        return;
    }
    if (name == QLatin1String("started"))
        return;
    if (name == QLatin1String("check")) {
        Outcome& o = m_outcomes[r];
        o.state = e.value(QStringLiteral("state")).toString();
        if (o.state == QLatin1String("in-place") && (m_options.force || m_applyAgain.contains(r)))
            o.state = QStringLiteral("to-apply");
        o.reason = e.value(QStringLiteral("reason")).toString();
        o.status = e.value(QStringLiteral("text")).toString();
        jsonEvent("check", r,
                  {{QStringLiteral("mac"), shownMac(r)},
                   {QStringLiteral("ip"), joined(m_rows[r].request.ip)},
                   {QStringLiteral("state"), o.state},
                   {QStringLiteral("reason"), o.reason},
                   {QStringLiteral("text"), o.status}});
        return;
    }
    const QString text = e.value(QStringLiteral("text")).toString();
    if (name == QLatin1String("status"))
        keepStatus(r, text);
    if (m_options.output != CliRun::Output::Json) {
        // The line the row's run prints for people.
        if (name == QLatin1String("status") || name == QLatin1String("box"))
            progress(shownMac(r) + QStringLiteral("  ") +
                     QString::asprintf("%7.1f  ", e.value(QStringLiteral("time")).toDouble()) +
                     (name == QLatin1String("box") ? CliRun::kBoxMark : QString()) + text);
        return;
    }
    e.remove(QStringLiteral("event"));
    e.remove(QStringLiteral("time"));
    jsonEvent(name.toUtf8().constData(), r, e);
}

void BatchRun::finished(int r, int exitCode, QProcess::ExitStatus status) {
    const auto at = std::find(m_running.begin(), m_running.end(), r);
    if (at == m_running.end())
        return; // reported already (a start that failed, then finished)
    m_running.erase(at);
    Child& c = *m_children[r];
    readLines(r, QProcess::StandardOutput);
    readLines(r, QProcess::StandardError);
    Outcome& o = m_outcomes[r];
    o.seconds = double(c.clock.elapsed()) / 1000.0;
    // The row's run says why it ended; one that ended before it could say
    // is known only by how the process ended.
    const auto reasonOr = [&o](RunOutcome fallback) {
        return o.childReason.isEmpty() ? RunOutcomes::reason(fallback) : o.childReason;
    };
    if (m_options.check) {
        // A check that could not say: its adaptor cannot be told apart.
        if (o.state.isEmpty()) {
            o.state = SetupCheck::stateName(SetupCheck::State::Refused);
            o.reason = RunOutcomes::reason(RunOutcome::Failed);
        }
        o.result = exitCode == CliRun::Succeeded && status == QProcess::NormalExit ? Result::Succeeded
                                                                                    : Result::Failed;
    } else if (status == QProcess::NormalExit && exitCode == CliRun::Succeeded &&
               o.childReason == RunOutcomes::reason(RunOutcome::InPlace)) {
        o.result = Result::InPlace;
        o.reason = o.childReason;
    } else if (status == QProcess::NormalExit && exitCode == CliRun::Succeeded) {
        o.result = Result::Succeeded;
        o.reason = reasonOr(RunOutcome::Assigned);
    } else if (m_interrupted && (status == QProcess::CrashExit || exitCode == CliRun::Interrupted)) {
        o.result = Result::Interrupted;
        o.reason = RunOutcomes::reason(RunOutcome::Interrupted);
    } else {
        o.result = Result::Failed;
        o.reason = status == QProcess::CrashExit   ? RunOutcomes::reason(RunOutcome::Failed)
                   : exitCode == CliRun::BadValues ? reasonOr(RunOutcome::Refused)
                                                   : reasonOr(RunOutcome::Failed);
        if (status == QProcess::CrashExit) {
            const QString why = QStringLiteral("netrika-cli setup: %1").arg(c.process.errorString());
            o.status = o.status.isEmpty() ? why : o.status + QStringLiteral(" (") + why + QLatin1Char(')');
        }
    }
    if (m_options.check) {
        progress(QStringLiteral("%1  %2: %3").arg(shownMac(r), o.state, o.status));
    } else {
        progress(QStringLiteral("%1  %2 after %3 s")
                     .arg(shownMac(r), resultName(o.result))
                     .arg(o.seconds, 0, 'f', 1));
        jsonEvent("finished", r,
                  {{QStringLiteral("result"), resultName(o.result)},
                   {QStringLiteral("reason"), o.reason},
                   {QStringLiteral("seconds"), qRound(o.seconds * 10) / 10.0},
                   {QStringLiteral("status"), o.status}});
    }
    if (m_options.onFinished)
        m_options.onFinished(r);
    if (!m_interrupted)
        startMore();
    if (m_running.empty())
        m_killTimer.stop();
    m_loop.quit();
}

void BatchRun::jsonEvent(const char* name, int r, QJsonObject fields) {
    if (m_options.output != CliRun::Output::Json)
        return;
    fields.insert(QStringLiteral("line"), m_rows[r].line);
    // Where the row names its sign, the events that introduce and close it do too.
    static const QStringList named{QStringLiteral("started"), QStringLiteral("skipped"),
                                   QStringLiteral("finished"), QStringLiteral("check")};
    if (m_options.nameCell >= 0 && named.contains(QLatin1String(name)))
        fields.insert(QStringLiteral("name"), m_rows[r].cells.value(m_options.nameCell));
    m_out << jsonLine(name, double(m_clock.elapsed()) / 1000.0, fields) << Qt::endl;
}

void BatchRun::progress(const QString& line) {
    if (m_options.output == CliRun::Output::Quiet)
        return;
    if (m_options.output == CliRun::Output::Json) {
        if (!line.isEmpty())
            m_err << line << Qt::endl;
        return;
    }
    if (m_summaryShown)
        m_out << "\r\033[K";
    if (!line.isEmpty())
        m_out << line << '\n';
    m_summaryShown = m_options.terminal;
    if (m_summaryShown)
        m_out << summary();
    m_out.flush();
}

QString BatchRun::summary() const {
    const auto count = [this](Result r) {
        return std::count_if(m_outcomes.begin(), m_outcomes.end(),
                             [r](const Outcome& o) { return o.result == r; });
    };
    const auto done = m_outcomes.size() - count(Result::Waiting) - count(Result::Running);
    return QStringLiteral("[%1 of %2 done, %3 running, %4 failed]")
        .arg(done)
        .arg(m_outcomes.size())
        .arg(count(Result::Running))
        .arg(count(Result::Failed));
}

QString BatchRun::resultName(Result r) {
    switch (r) {
    case Result::Succeeded:
        return QStringLiteral("succeeded");
    case Result::Failed:
        return QStringLiteral("failed");
    case Result::Interrupted:
        return QStringLiteral("interrupted");
    case Result::Running:
        return QStringLiteral("running");
    case Result::DoneBefore:
        return QStringLiteral("done before");
    case Result::InPlace:
        return QStringLiteral("in place");
    case Result::Waiting:
        break;
    }
    return QStringLiteral("not run");
}

QString BatchRun::table() const {
    QStringList header{QStringLiteral("line"), QStringLiteral("mac"), QStringLiteral("ip")};
    if (m_options.nameCell >= 0)
        header << QStringLiteral("name");
    header << (m_options.check ? QStringLiteral("state") : QStringLiteral("result")) << QStringLiteral("seconds")
           << QStringLiteral("status");
    const qsizetype seconds = header.size() - 2;
    std::vector<QStringList> cells{header};
    for (std::size_t r = 0; r < m_rows.size(); ++r) {
        const BatchRow& row = m_rows[r];
        QStringList cell{QString::number(row.line), shownMac(int(r)), joined(row.request.ip)};
        if (m_options.nameCell >= 0) {
            // A long name would pad every line of the table.
            constexpr qsizetype kNameWidth = 32;
            const QString name = row.cells.value(m_options.nameCell);
            cell << (name.size() > kNameWidth ? name.left(kNameWidth - 1) + QChar(0x2026) : name);
        }
        cell << (m_options.check ? m_outcomes[r].state : resultName(m_outcomes[r].result))
             << QString::number(m_outcomes[r].seconds, 'f', 1) << m_outcomes[r].status;
        cells.push_back(cell);
    }
    std::vector<qsizetype> width(std::size_t(header.size() - 1), 0);
    for (const QStringList& row : cells)
        for (std::size_t i = 0; i < width.size(); ++i)
            width[i] = std::max(width[i], row[qsizetype(i)].size());
    QString out;
    for (const QStringList& row : cells) {
        for (std::size_t i = 0; i < width.size(); ++i)
            out += (qsizetype(i) == seconds || i == 0 ? row[qsizetype(i)].rightJustified(width[i])
                                                      : row[qsizetype(i)].leftJustified(width[i])) +
                   QStringLiteral("  ");
        out += row.last() + QLatin1Char('\n');
    }
    return out;
}

int BatchRun::checked() {
    // The states in the order a reader wants them, each with its count.
    static const QStringList order{QStringLiteral("to-assign"),   QStringLiteral("to-apply"),
                                   QStringLiteral("in-place"),    QStringLiteral("done-before"),
                                   QStringLiteral("taken"),       QStringLiteral("not-found"),
                                   QStringLiteral("refused")};
    QStringList said;
    QJsonObject counts;
    bool changes = false;
    for (const QString& state : order) {
        const auto n = std::count_if(m_outcomes.begin(), m_outcomes.end(),
                                     [&state](const Outcome& o) { return o.state == state; });
        counts.insert(QString(state).replace(QLatin1Char('-'), QLatin1Char('_')), int(n));
        if (n > 0) {
            said << QStringLiteral("%1 %2").arg(n).arg(QString(state).replace(QLatin1Char('-'), QLatin1Char(' ')));
            changes = changes || (state != QLatin1String("in-place") && state != QLatin1String("done-before"));
        }
    }
    // 0: running the batch would change nothing; 1: it would run some row
    // (to assign or apply), or some row would fail (taken, not found).
    const int exit = changes ? CliRun::Failed : CliRun::Succeeded;
    QString total = QStringLiteral("%1 %2: %3")
                        .arg(m_rows.size())
                        .arg(m_rows.size() == 1 ? QStringLiteral("row") : QStringLiteral("rows"))
                        .arg(said.join(QStringLiteral(", ")));
    if (!changes)
        total += QStringLiteral("; nothing would change");
    if (m_options.output == CliRun::Output::Json) {
        m_err << "\n" << table() << total << Qt::endl;
        counts.insert(QStringLiteral("exit"), exit);
        counts.insert(QStringLiteral("text"), total);
        m_out << jsonLine("checked", m_clock.isValid() ? double(m_clock.elapsed()) / 1000.0 : 0, counts)
              << Qt::endl;
    } else {
        m_out << (m_options.output == CliRun::Output::Quiet ? "" : "\n") << table() << total << Qt::endl;
    }
    return exit;
}

QString BatchRun::counts() const {
    const auto count = [this](Result r) {
        return std::count_if(m_outcomes.begin(), m_outcomes.end(),
                             [r](const Outcome& o) { return o.result == r; });
    };
    QString out = QStringLiteral("%1 succeeded, %2 failed, %3 not run")
                      .arg(count(Result::Succeeded))
                      .arg(count(Result::Failed))
                      .arg(count(Result::Waiting) + count(Result::Running));
    if (const auto n = count(Result::Interrupted))
        out += QStringLiteral(", %1 interrupted").arg(n);
    if (const auto n = count(Result::InPlace))
        out += QStringLiteral(", %1 in place").arg(n);
    if (const auto n = count(Result::DoneBefore))
        out += QStringLiteral(", %1 done before").arg(n);
    return out;
}

// The MAC as the window writes it (00-80-a3-61-63-dd), whatever the file's spelling.
QString BatchRun::dashedMac(const SetupRequest& request) {
    return QStringList(request.mac.begin(), request.mac.end()).join(QLatin1Char('-')).toLower();
}

QString BatchRun::shownMac(int r) const {
    return dashedMac(m_rows[std::size_t(r)].request);
}

// A row's last status, for the table and the report: the word an interrupted
// run prints last is not one, so the text shown before it is kept.
void BatchRun::keepStatus(int r, const QString& text) {
    if (text == CliRun::kInterrupted)
        return;
    m_outcomes[r].status = text;
}
