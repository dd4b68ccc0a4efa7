#pragma once

// The adaptor simulator running in the device namespace of a NetnsHarness,
// with its recording read back as JSON.

#include "NetnsHarness.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

class SimulatorProcess {
public:
    // OwnGroup keeps the adaptor out of a signal that the test sends to its
    // own process group, as a terminal's Ctrl-C does; it still ends with the test.
    enum Group { TestsGroup, OwnGroup };

    SimulatorProcess(NetnsHarness& h, const QString& mac, const QStringList& misbehave = {},
                     Group group = TestsGroup)
        : SimulatorProcess(h.deviceNs(), h.deviceInterface(), mac, misbehave, group) {}
    // On any interface of any namespace of the test's own.
    // extra: further options, such as {"--address", "10.1.2.3/24"}.
    SimulatorProcess(const QString& ns, const QString& interface, const QString& mac,
                     const QStringList& misbehave = {}, Group group = TestsGroup, const QStringList& extra = {}) {
        QStringList args{"netns",       "exec",      ns,      QStringLiteral(SIM_PATH),
                         "--interface", interface,   "--mac", mac,
                         "--record",    m_dir.path()};
        args << extra;
        for (const QString& m : misbehave)
            args << "--misbehave" << m;
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        if (group == OwnGroup) {
            m_process.setChildProcessModifier([] {
                ::setpgid(0, 0);
                ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            });
        }
        m_process.start(QStringLiteral("ip"), args);
        m_ready = m_process.waitForStarted(5000);
        while (m_ready && !m_output.contains("ready\n")) {
            if (!m_process.waitForReadyRead(10000)) {
                m_ready = false;
                break;
            }
            m_output += m_process.readAllStandardOutput();
        }
    }
    ~SimulatorProcess() {
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished(5000);
    }
    SimulatorProcess(const SimulatorProcess&) = delete;
    SimulatorProcess& operator=(const SimulatorProcess&) = delete;

    [[nodiscard]] bool ready() const { return m_ready; }
    // A power cycle: the adaptor takes on the address its configuration holds.
    void reboot() { ::kill(pid_t(m_process.processId()), SIGUSR1); }
    [[nodiscard]] QJsonObject summary() const {
        QFile f(m_dir.filePath(QStringLiteral("summary.json")));
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QJsonDocument::fromJson(f.readAll()).object();
    }
    // Everything received on connections to one port, in the order they came.
    [[nodiscard]] QByteArray received(int port) const {
        QByteArray all;
        for (const QJsonValue& c : summary().value(QStringLiteral("connections")).toArray()) {
            if (c.toObject().value(QStringLiteral("port")).toInt() == port)
                all +=
                    QByteArray::fromHex(c.toObject().value(QStringLiteral("received")).toString().toLatin1());
        }
        return all;
    }
    // Everything the adaptor sent on connections to one port, in the order they came.
    [[nodiscard]] QByteArray sent(int port) const {
        QByteArray all;
        for (const QJsonValue& c : summary().value(QStringLiteral("connections")).toArray()) {
            const QJsonObject o = c.toObject();
            if (o.value(QStringLiteral("port")).toInt() != port)
                continue;
            QFile f(m_dir.filePath(QStringLiteral("conn-%1-%2-sent.bin").arg(o.value(QStringLiteral("number")).toInt()).arg(port)));
            if (f.open(QIODevice::ReadOnly))
                all += f.readAll();
        }
        return all;
    }
    [[nodiscard]] QJsonObject config() const { return summary().value(QStringLiteral("config")).toObject(); }

    // What a smooth command-line dialogue sends to port 23.
    [[nodiscard]] static QByteArray commandLineBytes(const QString& ip, const QString& gateway) {
        return QByteArray("hello\nSET PRIVILEGED\ntundra\nCHANGE IPAddress ") + ip.toLatin1() +
               "\nCHANGE Gateway " + gateway.toLatin1() +
               "\nCHANGE Subnet Mask 255.255.255.0\nCHANGE SPEED 9600\nCHANGE CHARSIZE 8\n"
               "CHANGE STOPBITS 1\nCHANGE PARITY NONE\nLogout\n";
    }
    // What a smooth setup-menu dialogue sends to port 9999, for a /24 mask.
    [[nodiscard]] static QByteArray setupMenuBytes(const QString& gateway) {
        QByteArray expected = "\r\n0\n\r\n\r\n\r\n\r\ny";
        for (const QString& octet : gateway.split('.'))
            expected += octet.toLatin1() + "\r\n";
        expected += "8\r\n\r\n1\r\n9600\r\n4C\r\n\r\n03001\r\n";
        for (int i = 0; i < 12; ++i)
            expected += "\r\n";
        return expected + "9\r\n";
    }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QByteArray m_output;
    bool m_ready = false;
};
