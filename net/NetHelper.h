#pragma once

#include "net/helper/HelperProtocol.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <string>

// The front end's side of the network helper, the one small program that holds
// the capabilities for echo probes, ARP probes and neighbour entries. It is
// started on first use with an argument vector and an empty environment, never
// through a shell, and runs in the network namespace of the thread that starts
// it. Closing our end of its socket makes it remove the entries it made and exit.
class NetHelper {
public:
    // Each answer comes well within this: a probe waits 500 ms, the kernel a second at most.
    static constexpr int kAnswerTimeMs = 3000;
    static constexpr const char* kGroup = "netrika";

    explicit NetHelper(QString program = defaultProgram());
    ~NetHelper();
    NetHelper(const NetHelper&) = delete;
    NetHelper& operator=(const NetHelper&) = delete;

    // Starts the helper unless it runs. False when it cannot be started; why is
    // said once on standard error, naming the group and the command that help.
    bool start();
    // What the running helper said it can do: "echo", "arp", "neigh".
    [[nodiscard]] bool can(const QString& ability) const { return m_abilities.contains(ability); }
    // One request and the helper's answer line ("ok ...", "refused ...",
    // "failed ..."); nothing when it cannot be started or did not answer in
    // time, in which case it is stopped.
    std::optional<QString> ask(const helper::Request& request);
    // An ARP sweep of a range on one interface ("arp-sweep", HelperProtocol.h):
    // found is called with the address and the MAC (xx:xx:xx:xx:xx:xx) of
    // each "found" line as it comes; the end line ("ok swept N", "refused
    // ...", "failed ...") is answered. Nothing when the helper cannot be
    // started, did not end the sweep within sweepTimeMs, or cancelled answered
    // true (asked every 50 ms): the helper is stopped then, which ends its
    // sweep before its next frame.
    std::optional<QString> sweep(const QString& interfaceName, quint32 network, int prefixLength,
                                 const std::function<void(const QString& address, const QString& mac)>& found,
                                 const std::function<bool()>& cancelled = {});
    // The longest a sweep of a /prefixLength may take: its frames at the
    // sweep's pace, the wait for late answers, and room for a loaded host.
    [[nodiscard]] static int sweepTimeMs(int prefixLength);
    // Closes our end and waits for the helper to clean up and exit.
    void stop();

    [[nodiscard]] const QString& program() const { return m_program; }
    [[nodiscard]] qint64 pid() const { return m_pid; }

    // Beside the running program (a build tree), else in the installed
    // location relative to it (/usr/bin/netrika: /usr/libexec/netrika/).
    [[nodiscard]] static QString defaultProgram();
    // How to give the helper its capabilities: setcap, for an installed helper
    // only. A helper in a build tree must never hold them (whoever may write
    // the tree could change a program that does), so for it the advice is to
    // run the build as root or to install the package.
    [[nodiscard]] QString capabilityAdvice() const;
    // Why a running helper lacks an ability ("echo", "arp", "neigh",
    // "sweep") and what helps, to follow "the network helper cannot ...: ".
    [[nodiscard]] QString lacking(const QString& ability) const;

private:
    // Whether the helper writes its refusals where the user reads ours (its
    // standard error is ours on Linux); the Windows service logs to the
    // event log, so there the front end says them itself.
    static const bool kHelperSaysRefusals;
    // The platform's part: how the helper is reached, and its bytes moved.
    enum class Waited { Readable, TimedOut, Interrupted, Failed };
    static constexpr qintptr kNoChannel = -1;
    // Starts (or reaches) the helper; false, said once, when it cannot.
    bool openChannel();
    Waited waitReadable(int timeoutMs);
    // Bytes read, -1 for none yet, 0 once the helper has gone.
    qint64 receiveSome(char* buffer, qint64 size);
    bool sendLine(const std::string& line);

    [[nodiscard]] std::optional<QByteArray> readLine(int timeoutMs,
                                                     const std::function<bool()>& cancelled = {});
    void warnOnce(const QString& text);

    QString m_program;
    qintptr m_channel = kNoChannel; // a socket, or a pipe's handle on Windows
    qint64 m_pid = -1;
#ifdef Q_OS_WIN
    struct PipeRead; // the read under way on the pipe
    std::unique_ptr<PipeRead> m_read;
#endif
    QStringList m_abilities;
    QByteArray m_pending;
    bool m_warned = false;
};
