#include "cli/WritableFile.h"

#include <QtGlobal>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

bool openWritable(QFile& file, const QString& path, QIODevice::OpenMode mode, QString& why) {
#ifdef Q_OS_UNIX
    const QByteArray name = QFile::encodeName(path);
    const QString othersLink = QStringLiteral("a link of another user's, which is not followed");
    struct stat at {};
    const bool link = ::lstat(name.constData(), &at) == 0 && S_ISLNK(at.st_mode);
    if (link && at.st_uid != ::geteuid()) {
        why = othersLink;
        return false;
    }
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC;
    if (!link)
        flags |= O_NOFOLLOW;
    if (mode & QIODevice::NewOnly)
        flags |= O_EXCL;
    if (mode & QIODevice::Truncate)
        flags |= O_TRUNC;
    if (mode & QIODevice::Append)
        flags |= O_APPEND;
    const int fd = ::open(name.constData(), flags, 0666);
    if (fd < 0) {
        why = errno == ELOOP ? othersLink : QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    // What the descriptor already does, Qt is not asked to do again.
    if (!file.open(fd, mode & ~(QIODevice::NewOnly | QIODevice::Truncate), QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        why = file.errorString();
        return false;
    }
    return true;
#else
    file.setFileName(path);
    if (!file.open(mode)) {
        why = file.errorString();
        return false;
    }
    return true;
#endif
}
