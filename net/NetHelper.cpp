#include "net/NetHelper.h"

#include "net/NetLog.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

NetHelper::NetHelper(QString program)
    : m_program(std::move(program)) {}

NetHelper::~NetHelper() {
    stop();
}

QString NetHelper::defaultProgram() {
    const QString dir = QCoreApplication::applicationDirPath();
    const QString beside = dir + QStringLiteral("/netrika-net-helper");
    if (QFileInfo(beside).isFile())
        return beside;
    return QDir::cleanPath(dir + QStringLiteral("/../" NETRIKA_HELPER_DIR "/netrika-net-helper"));
}

QString NetHelper::capabilityAdvice() const {
    const QString path = QFileInfo(m_program).absoluteFilePath();
    const QString build = QFileInfo(QStringLiteral(NETRIKA_BUILD_DIR)).absoluteFilePath() + QLatin1Char('/');
    const bool installed = path.endsWith(QStringLiteral("/" NETRIKA_HELPER_DIR "/netrika-net-helper")) &&
                           !path.startsWith(build);
    if (installed)
        return QStringLiteral("Give it with: sudo setcap cap_net_raw,cap_net_admin+ep %1").arg(path);
    return QStringLiteral("%1 is a build's helper: never give it capabilities, since whoever may write "
                          "its folder could change a program that holds them. From a build, run as root "
                          "(sudo), or install the package (tools/package.sh builds it).")
        .arg(path);
}

void NetHelper::warnOnce(const QString& text) {
    if (std::exchange(m_warned, true))
        return;
    qCWarning(lcNet).noquote() << text;
}

bool NetHelper::start() {
    if (m_fd >= 0)
        return true;
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        warnOnce(QStringLiteral("cannot reach the network helper: %1").arg(qt_error_string(errno)));
        return false;
    }
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_adddup2(&files, pair[1], 0);
    posix_spawn_file_actions_adddup2(&files, pair[1], 1);
    posix_spawn_file_actions_addclosefrom_np(&files, 3);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    // A session of its own from the start: a terminal's Ctrl-C to our process
    // group must not end it before it has removed its entries.
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);
    const QByteArray path = QFile::encodeName(m_program);
    char* argv[] = {const_cast<char*>(path.constData()), nullptr};
    char* environment[] = {nullptr};
    pid_t pid = -1;
    const int error = ::posix_spawn(&pid, path.constData(), &files, &attributes, argv, environment);
    posix_spawn_file_actions_destroy(&files);
    posix_spawnattr_destroy(&attributes);
    ::close(pair[1]);
    if (error != 0) {
        ::close(pair[0]);
        if (error == EACCES || error == EPERM)
            warnOnce(QStringLiteral(
                         "cannot start the network helper %1: %2. Echo probes and neighbour entries go "
                         "through it, and only root and members of the group \"%3\" may run it. Join the "
                         "group with: sudo adduser $USER %3, then log out and in again.")
                         .arg(m_program, qt_error_string(error), QLatin1String(kGroup)));
        else
            warnOnce(QStringLiteral("cannot start the network helper %1: %2. Reinstall netrika.")
                         .arg(m_program, qt_error_string(error)));
        return false;
    }
    m_fd = pair[0];
    m_pid = pid;
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
        pollfd p{m_fd, POLLIN, 0};
        const int wait = cancelled ? int(std::min<qint64>(deadline.remainingTime(), 50)) : int(deadline.remainingTime());
        const int ready = ::poll(&p, 1, wait);
        if (ready == 0 && cancelled)
            continue;
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return std::nullopt;
        char buffer[512];
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            return std::nullopt;
        m_pending.append(buffer, n);
    }
}

std::optional<QString> NetHelper::ask(const helper::Request& request) {
    if (!start())
        return std::nullopt;
    const std::string line = helper::formatRequest(request) + '\n';
    bool sent = ::send(m_fd, line.data(), line.size(), MSG_NOSIGNAL) == ssize_t(line.size());
    const auto answer = sent ? readLine(kAnswerTimeMs) : std::nullopt;
    if (!answer) {
        qCWarning(lcNet).noquote() << QStringLiteral(
                                          "the network helper stopped answering (%1); it is restarted "
                                          "on the next request")
                                          .arg(QString::fromStdString(line).trimmed());
        stop();
        return std::nullopt;
    }
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
    if (::send(m_fd, line.data(), line.size(), MSG_NOSIGNAL) != ssize_t(line.size())) {
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

void NetHelper::stop() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (m_pid <= 0)
        return;
    // It removes its neighbour entries first: a few kernel requests.
    for (int i = 0; i < 300; ++i) {
        if (::waitpid(m_pid, nullptr, WNOHANG) != 0) {
            m_pid = -1;
            return;
        }
        ::usleep(10000);
    }
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, nullptr, 0);
    m_pid = -1;
}
