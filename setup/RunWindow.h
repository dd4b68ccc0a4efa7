#pragma once

#include "base/WindowPorts.h"
#include "net/SocketControl.h"

#include <QString>

#include <functional>

// What the parts of a setup run need of the window that runs them: locking it
// while the run is busy, handing it back, and waiting while it keeps handling
// its events. The window's logic implements it; the parts never see more.
class RunWindow {
public:
    virtual ~RunWindow() = default;
    // Busy: hourglass, Setup and Exit disabled; the run of an adaptor of this
    // MAC family begins.
    virtual void lockWindow(qint16 family) = 0;
    // Idle again. runGoesOn: the window is handed back while the run still
    // goes on (a dialogue's step that failed, to be tried again); otherwise
    // the run ends here.
    virtual void unlockWindow(bool runGoesOn = false) = 0;
    // Waits, handling events, until done() holds. Throws Abandoned when the
    // window is unloaded meanwhile.
    virtual void waitUntil(const std::function<bool()>& done) = 0;
    // Waits while a connection attempt is under way, showing "Connecting";
    // throws the attempt's error when it fails instead of connecting.
    virtual void waitForConnection(SocketControl& socket) = 0;
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
