#pragma once

// netrika-cli scan: a search for adaptors through the finder port, shown as a
// table or as JSON lines, with the exit status the command promises.

#include "cli/CliRun.h"
#include "setup/AdaptorFinder.h"
#include "setup/AdaptorScan.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTextStream>
#include <QTimer>

class ScanCommand {
public:
    ScanCommand(ScanRequest request, AdaptorFinder& finder, CliRun::Output output, QTextStream& out,
                QTextStream& err);

    // Before run(): the ranges the search will sweep, told as it begins,
    // with how long it may take; a long sweep tells on a terminal how far it is.
    void announce(const QList<ScanRange>& ranges, bool terminal);
    // Searches and shows what was found: Succeeded when an adaptor was found,
    // Failed when none was or the search could not run, Interrupted after interrupt().
    int run();
    // Ends the search soon (Ctrl-C, SIGTERM, SIGHUP).
    void interrupt();

private:
    void heard(const FoundAdaptor& a);
    void found(const FoundAdaptor& a);
    void done(const ScanEnd& end);
    void printTable();
    void showProgress();

    ScanRequest m_request;
    AdaptorFinder& m_finder;
    CliRun::Output m_output;
    QTextStream& m_out;
    QTextStream& m_err;
    QEventLoop m_loop;
    QElapsedTimer m_clock;
    QList<FoundAdaptor> m_found;
    int m_heard = 0; // adaptors the sweep has heard so far
    QStringList m_ranges;
    int m_expectedMs = 0;
    bool m_terminal = false;
    QTimer m_ticker; // the progress of a long sweep, on a terminal
    int m_status = CliRun::Failed;
};
