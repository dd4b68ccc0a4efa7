#include "net/NetHelper.h"

#include "net/NetLog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

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

const bool NetHelper::kHelperSaysRefusals = true;

QString NetHelper::lacking(const QString& ability) const {
    return QStringLiteral("it lacks %1. %2")
        .arg(ability == QLatin1String("neigh") ? QLatin1String("CAP_NET_ADMIN")
                                               : QLatin1String("CAP_NET_RAW"),
             capabilityAdvice());
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

// The helper is a child of this process, started with an argument vector and
// an empty environment, on one end of a socket pair.
bool NetHelper::openChannel() {
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
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSID);
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
    m_channel = pair[0];
    m_pid = pid;
    return true;
}

NetHelper::Waited NetHelper::waitReadable(int timeoutMs) {
    pollfd p{int(m_channel), POLLIN, 0};
    const int ready = ::poll(&p, 1, timeoutMs);
    if (ready < 0)
        return errno == EINTR ? Waited::Interrupted : Waited::Failed;
    return ready == 0 ? Waited::TimedOut : Waited::Readable;
}

qint64 NetHelper::receiveSome(char* buffer, qint64 size) {
    const ssize_t n = ::recv(int(m_channel), buffer, size_t(size), MSG_DONTWAIT);
    if (n < 0)
        return errno == EINTR || errno == EAGAIN ? -1 : 0;
    return n;
}

bool NetHelper::sendLine(const std::string& line) {
    return ::send(int(m_channel), line.data(), line.size(), MSG_NOSIGNAL) == ssize_t(line.size());
}

void NetHelper::stop() {
    if (m_channel != kNoChannel)
        ::close(int(std::exchange(m_channel, kNoChannel)));
    if (m_pid <= 0)
        return;
    // It removes its neighbour entries first: a few kernel requests.
    for (int i = 0; i < 300; ++i) {
        if (::waitpid(pid_t(m_pid), nullptr, WNOHANG) != 0) {
            m_pid = -1;
            return;
        }
        ::usleep(10000);
    }
    ::kill(pid_t(m_pid), SIGKILL);
    ::waitpid(pid_t(m_pid), nullptr, 0);
    m_pid = -1;
}
