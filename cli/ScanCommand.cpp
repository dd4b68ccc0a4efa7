#include "cli/ScanCommand.h"

#include "address/AddressRules.h"

#include "cli/JsonLine.h"
#include "net/NetHelper.h"

#include <QJsonArray>

ScanCommand::ScanCommand(ScanRequest request, AdaptorFinder& finder, CliRun::Output output, QTextStream& out,
                         QTextStream& err)
    : m_request(std::move(request))
    , m_finder(finder)
    , m_output(output)
    , m_out(out)
    , m_err(err) {}

void ScanCommand::announce(const QList<ScanRange>& ranges, bool terminal) {
    m_ranges.clear();
    m_expectedMs = 0;
    for (const ScanRange& r : ranges) {
        m_ranges << r.text();
        m_expectedMs += NetHelper::sweepTimeMs(r.prefixLength);
    }
    m_terminal = terminal;
}

// A sweep that takes longer than this shows how far it is, on a terminal.
constexpr int kProgressAfterMs = 3000;

int ScanCommand::run() {
    m_clock.start();
    if (!m_ranges.isEmpty()) {
        const QString text = QStringLiteral("sweeping %1 (at most %2 s)")
                                 .arg(m_ranges.join(QStringLiteral(", ")))
                                 .arg((m_expectedMs + 999) / 1000);
        if (m_output == CliRun::Output::Json)
            m_out << jsonLine("sweep", 0,
                              {{QStringLiteral("ranges"), QJsonArray::fromStringList(m_ranges)},
                               {QStringLiteral("at_most"), (m_expectedMs + 999) / 1000}})
                  << Qt::endl;
        m_err << "netrika-cli: " << text << Qt::endl;
        if (m_terminal && m_output == CliRun::Output::Text && m_expectedMs > kProgressAfterMs) {
            QObject::connect(&m_ticker, &QTimer::timeout, [this] { showProgress(); });
            m_ticker.start(1000);
        }
    }
    m_finder.onHeard([this](const FoundAdaptor& a) { heard(a); });
    m_finder.start(
        m_request, [this](const FoundAdaptor& a) { found(a); }, [this](const ScanEnd& end) { done(end); });
    m_loop.exec();
    return m_status;
}

void ScanCommand::interrupt() {
    m_finder.cancel();
}

// Told as soon as the sweep hears it: a wide range takes a while.
void ScanCommand::heard(const FoundAdaptor& a) {
    ++m_heard;
    const QString mac = AddressRules::dashedMac(a.mac);
    if (m_output == CliRun::Output::Json) {
        m_out << jsonLine("heard", m_clock.elapsed() / 1000.0,
                          {{QStringLiteral("mac"), mac},
                           {QStringLiteral("family"), a.family},
                           {QStringLiteral("address"), a.address},
                           {QStringLiteral("interface"), a.interfaceName}})
              << Qt::endl;
        return;
    }
    if (m_ticker.isActive())
        m_err << "\r\033[K";
    m_err << QStringLiteral("netrika-cli: heard %1 at %2 on %3").arg(mac, a.address, a.interfaceName) << Qt::endl;
    if (m_ticker.isActive())
        showProgress();
}

void ScanCommand::found(const FoundAdaptor& a) {
    m_found.append(a);
    if (m_output != CliRun::Output::Json)
        return;
    QJsonObject fields{{QStringLiteral("mac"), AddressRules::dashedMac(a.mac)},
                       {QStringLiteral("family"), a.family},
                       {QStringLiteral("address"), a.address},
                       {QStringLiteral("interface"), a.interfaceName},
                       {QStringLiteral("ports_tried"), a.onHostSubnet}};
    if (a.onHostSubnet) {
        QJsonArray ports;
        for (int p : a.openPorts)
            ports.append(p);
        fields.insert(QStringLiteral("open_ports"), ports);
    }
    m_out << jsonLine("adaptor", m_clock.elapsed() / 1000.0, fields) << Qt::endl;
}

void ScanCommand::printTable() {
    QList<QStringList> rows{{QStringLiteral("MAC"), QStringLiteral("FAMILY"), QStringLiteral("ADDRESS"),
                             QStringLiteral("INTERFACE"), QStringLiteral("OPEN PORTS")}};
    for (const FoundAdaptor& a : m_found) {
        QStringList ports;
        for (int p : a.openPorts)
            ports << QString::number(p);
        rows.append({AddressRules::dashedMac(a.mac),
                     a.family == 0 ? QStringLiteral("-") : QString::number(a.family), a.address,
                     a.interfaceName,
                     !a.onHostSubnet   ? QStringLiteral("not tried (not on a subnet of this host)")
                     : ports.isEmpty() ? QStringLiteral("none")
                                       : ports.join(QLatin1Char(' '))});
    }
    QList<qsizetype> widths(rows.first().size(), 0);
    for (const QStringList& row : rows)
        for (qsizetype c = 0; c < row.size(); ++c)
            widths[c] = std::max(widths[c], row[c].size());
    for (const QStringList& row : rows) {
        QString line;
        for (qsizetype c = 0; c < row.size(); ++c)
            line += c + 1 < row.size() ? row[c].leftJustified(widths[c] + 2) : row[c];
        m_out << line << Qt::endl;
    }
}

void ScanCommand::showProgress() {
    const qint64 seconds = m_clock.elapsed() / 1000;
    m_err << "\r\033[K"
          << QStringLiteral("sweeping: %1 s of at most %2 s, %3 heard")
                 .arg(seconds)
                 .arg((m_expectedMs + 999) / 1000)
                 .arg(m_heard)
          << Qt::flush;
}

void ScanCommand::done(const ScanEnd& end) {
    if (m_ticker.isActive()) {
        m_ticker.stop();
        m_err << "\r\033[K" << Qt::flush;
    }
    if (!end.error.isEmpty())
        m_err << "netrika-cli: " << end.error << Qt::endl;
    if (m_output == CliRun::Output::Json) {
        QJsonObject fields{{QStringLiteral("found"), int(m_found.size())},
                           {QStringLiteral("swept"), QJsonArray::fromStringList(end.swept)},
                           {QStringLiteral("cancelled"), end.cancelled}};
        if (!end.error.isEmpty())
            fields.insert(QStringLiteral("error"), end.error);
        m_out << jsonLine("end", m_clock.elapsed() / 1000.0, fields) << Qt::endl;
    } else if (!m_found.isEmpty()) {
        printTable();
    }
    if (end.cancelled)
        m_status = CliRun::Interrupted;
    else if (!m_found.isEmpty())
        m_status = CliRun::Succeeded;
    else
        m_status = CliRun::Failed;
    QTextStream& text = m_output == CliRun::Output::Json ? m_err : m_out;
    if (m_found.isEmpty() && !end.cancelled && end.error.isEmpty())
        text << "No adaptor answered in " << end.swept.join(QStringLiteral(", ")) << "." << Qt::endl
             << "An adaptor with no address cannot answer ARP, and so cannot be found: give it one with "
                "netrika-cli setup --mac ..."
             << Qt::endl;
    m_loop.quit();
}
