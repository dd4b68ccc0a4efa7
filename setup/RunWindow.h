#pragma once

#include "base/WindowPorts.h"
#include "net/SocketControl.h"
#include "setup/RunOutcome.h"

#include <QString>

// What the parts of a setup run need of the window that runs them: locking it
// while the run is busy, handing it back, and hearing how the run ended. The
// window's logic implements it; the parts never see more. Nothing here waits:
// a run goes on from one tick or socket event to the next.
class RunWindow {
public:
    virtual ~RunWindow() = default;
    // Busy: hourglass; Setup, Exit, the sign test and the entry fields locked;
    // the run of an adaptor of this MAC family begins.
    virtual void lockWindow(qint16 family) = 0;
    // Idle again while the run still goes on: a dialogue's step that failed
    // is tried again, or the check waits for the probes to be possible. A new
    // Setup abandons the run.
    virtual void handBack() = 0;
    // The run ends here, with this outcome and the status text shown; the
    // window is idle.
    virtual void endRun(RunOutcome outcome) = 0;
    // The sign test begins: the window is busy until it ends by endRun.
    virtual void signTestBegins() = 0;
};

// The transcript box keeps at most this many of its latest characters, so a
// device that talks without end cannot fill the memory.
inline constexpr qsizetype kTranscriptLimit = 64 * 1024;
// Extends the transcript box by a line end and the text.
inline void appendTranscript(TextBox& box, const QString& text) {
    QString t = box.text() + QStringLiteral("\r\n") + text;
    if (t.size() > kTranscriptLimit)
        t = t.right(kTranscriptLimit);
    box.setText(t);
}
