#include "net/NetHelper.h"

#include "net/NetLog.h"

#include <QDeadlineTimer>

#include <algorithm>
#include <utility>

void NetHelper::warnOnce(const QString& text) {
    if (std::exchange(m_warned, true))
        return;
    qCWarning(lcNet).noquote() << text;
}

bool NetHelper::start() {
    if (m_channel != kNoChannel)
        return true;
    if (!openChannel())
        return false;
    m_pending.clear();
    const auto greeting = readLine(kAnswerTimeMs);
    const QByteArray expected = QByteArray(helper::kGreeting.data(), qsizetype(helper::kGreeting.size()));
    if (!greeting || !greeting->startsWith(expected)) {
        stop();
        warnOnce(QStringLiteral("the network helper %1 did not greet as protocol %2 expects%3")
                     .arg(m_program)
                     .arg(helper::kProtocol)
                     .arg(greeting ? QStringLiteral(": ") + QString::fromLatin1(*greeting) : QString()));
        return false;
    }
    m_abilities =
        QString::fromLatin1(greeting->mid(expected.size())).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    qCDebug(lcNet) << "network helper" << m_pid << "can" << m_abilities;
    return true;
}

std::optional<QByteArray> NetHelper::readLine(int timeoutMs, const std::function<bool()>& cancelled) {
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        const qsizetype end = m_pending.indexOf('\n');
        if (end >= 0) {
            QByteArray line = m_pending.left(end);
            m_pending.remove(0, end + 1);
            return line;
        }
        if (deadline.hasExpired() || m_pending.size() > 4096 || (cancelled && cancelled()))
            return std::nullopt;
        const int wait =
            cancelled ? int(std::min<qint64>(deadline.remainingTime(), 50)) : int(deadline.remainingTime());
        const Waited waited = waitReadable(wait);
        if (waited == Waited::Interrupted || (waited == Waited::TimedOut && cancelled))
            continue;
        if (waited != Waited::Readable)
            return std::nullopt;
        char buffer[512];
        const qint64 n = receiveSome(buffer, sizeof buffer);
        if (n < 0)
            continue;
        if (n == 0)
            return std::nullopt;
        m_pending.append(buffer, n);
    }
}

std::optional<QString> NetHelper::ask(const helper::Request& request) {
    if (!start())
        return std::nullopt;
    const std::string line = helper::formatRequest(request) + '\n';
    const bool sent = sendLine(line);
    const auto answer = sent ? readLine(kAnswerTimeMs) : std::nullopt;
    if (!answer) {
        qCWarning(lcNet).noquote() << QStringLiteral(
                                          "the network helper stopped answering (%1); it is restarted "
                                          "on the next request")
                                          .arg(QString::fromStdString(line).trimmed());
        stop();
        return std::nullopt;
    }
    if (!kHelperSaysRefusals && answer->startsWith("refused "))
        qCWarning(lcNet).noquote() << QStringLiteral("the network service refused \"%1\": %2")
                                          .arg(QString::fromStdString(line).trimmed(),
                                               QString::fromLatin1(answer->mid(8)));
    return QString::fromLatin1(*answer);
}

int NetHelper::sweepTimeMs(int prefixLength) {
    const qint64 frames = 2 * qint64(helper::sweptAddresses(prefixLength));
    return int(frames * 1000 / helper::kSweepFramesPerSecond) * 3 / 2 + helper::kSweepLateMs + kAnswerTimeMs;
}

std::optional<QString> NetHelper::sweep(const QString& interfaceName, quint32 network, int prefixLength,
                                        const std::function<void(const QString&, const QString&)>& found,
                                        const std::function<bool()>& cancelled) {
    if (!start())
        return std::nullopt;
    helper::Request request;
    request.kind = helper::Request::ArpSweep;
    request.address = network;
    request.interfaceName = interfaceName.toStdString();
    request.prefixLength = prefixLength;
    const std::string line = helper::formatRequest(request) + '\n';
    if (!sendLine(line)) {
        this->stop();
        return std::nullopt;
    }
    QDeadlineTimer deadline(sweepTimeMs(prefixLength));
    for (;;) {
        const auto answer = readLine(int(std::max<qint64>(deadline.remainingTime(), 0)), cancelled);
        if (!answer) {
            if (!(cancelled && cancelled()))
                qCWarning(lcNet).noquote()
                    << QStringLiteral("the network helper did not end its sweep in time (%1); it is stopped")
                           .arg(QString::fromStdString(line).trimmed());
            this->stop();
            return std::nullopt;
        }
        if (!answer->startsWith("found ")) {
            return QString::fromLatin1(*answer);
        }
        const QList<QByteArray> fields = answer->split(' ');
        if (fields.size() == 3 && found)
            found(QString::fromLatin1(fields[1]), QString::fromLatin1(fields[2]));
    }
}
