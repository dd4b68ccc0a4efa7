#pragma once

// A whole segment of the test's own: a "host" namespace whose bridge holds
// 10.77.<subnet>.1/24, and one namespace per adaptor, each joined to the
// bridge by a veth pair and holding no address until its adaptor takes one.
// A datagram to 255.255.255.255 from the host reaches every adaptor, as on a
// switch. Nothing here sends a packet from the namespace the test started in.
// A test that needs several segments numbers them (site 1, 2, ...), which
// keeps their names apart.

#include "NetnsHarness.h"

class LanHarness {
public:
    LanHarness(int subnet, int devices, int site = 0)
        : m_tag(QString::number(::getpid()))
        , m_site(site > 0 ? QStringLiteral("s%1").arg(site) : QString())
        , m_prefix(QStringLiteral("10.77.%1.").arg(subnet)) {
        m_root = ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
        NetnsHarness::sweepStale();
        m_namespaces << QStringLiteral("nk-%1lh-").arg(m_site) + m_tag;
        const QString bridge = QStringLiteral("nk%1br").arg(m_site) + m_tag;
        m_ok = m_root >= 0 && run({"netns", "add", hostNs()}) &&
               run({"-n", hostNs(), "link", "set", "lo", "up"}) &&
               run({"-n", hostNs(), "link", "add", bridge, "type", "bridge"}) &&
               run({"-n", hostNs(), "addr", "add", m_prefix + "1/24", "brd", "+", "dev", bridge}) &&
               run({"-n", hostNs(), "link", "set", bridge, "up"});
        for (int k = 0; m_ok && k < devices; ++k) {
            const QString ns = QStringLiteral("nk-%1l%2-%3").arg(m_site).arg(k).arg(m_tag);
            const QString near = QStringLiteral("nk%1l%2h%3").arg(m_site).arg(k).arg(m_tag);
            m_namespaces << ns;
            m_ok = run({"netns", "add", ns}) && run({"-n", ns, "link", "set", "lo", "up"}) &&
                   run({"link", "add", near, "netns", hostNs(), "type", "veth", "peer", "name",
                        deviceInterface(k), "netns", ns}) &&
                   run({"-n", hostNs(), "link", "set", near, "master", bridge, "up"}) &&
                   run({"-n", ns, "link", "set", deviceInterface(k), "up"});
        }
    }
    ~LanHarness() {
        if (m_root >= 0) {
            ::setns(m_root, CLONE_NEWNET);
            ::close(m_root);
        }
        for (const QString& ns : m_namespaces)
            ip({"netns", "del", ns});
    }
    LanHarness(const LanHarness&) = delete;
    LanHarness& operator=(const LanHarness&) = delete;

    [[nodiscard]] bool ok() const { return m_ok; }
    [[nodiscard]] const QString& error() const { return m_error; }
    [[nodiscard]] QString address(int last) const { return m_prefix + QString::number(last); }
    [[nodiscard]] QString hostNs() const { return m_namespaces.first(); }
    [[nodiscard]] QString deviceNs(int k) const { return m_namespaces.value(k + 1); }
    [[nodiscard]] QString deviceInterface(int k) const {
        return QStringLiteral("nk%1l%2d%3").arg(m_site).arg(k).arg(m_tag);
    }

    // The calling thread enters the host namespace; its children start there.
    bool enterHost() { return NetnsHarness::enterNamespace(hostNs()); }
    // Runs the ip tool; its standard output, or a null array with error() set.
    QByteArray ip(const QStringList& args) { return NetnsHarness::runIp(args, m_error); }

private:
    bool run(const QStringList& args) { return !ip(args).isNull(); }

    QString m_tag, m_site, m_prefix;
    QStringList m_namespaces;
    int m_root = -1;
    bool m_ok = false;
    QString m_error;
};
