#include "safeopen.h"

#include <QList>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <unistd.h>

namespace SafeOpen {

bool ownedByUs(const struct stat &info)
{
    return info.st_uid == 0 || info.st_uid == geteuid();
}

quint32 resolve(const QByteArray &path, QByteArray &resolved)
{
    QByteArray start = path;
    if (!start.startsWith('/')) {
        char cwd[PATH_MAX];
        if (!getcwd(cwd, sizeof cwd))
            return quint32(errno);
        start = QByteArray(cwd) + '/' + start;
    }
    // The parts still to walk, the next one last.
    QList<QByteArray> pending = start.split('/');
    std::reverse(pending.begin(), pending.end());
    QByteArray done; // empty for '/'
    bool missing = false;
    for (int links = 0; !pending.isEmpty();) {
        const QByteArray part = pending.takeLast();
        if (part.isEmpty() || part == ".")
            continue;
        if (part == "..") {
            // What is walked so far holds no link, so going up is going up.
            done.truncate(qMax(qsizetype(0), done.lastIndexOf('/')));
            continue;
        }
        const QByteArray next = done + '/' + part;
        struct stat info;
        if (!missing && lstat(next.constData(), &info) != 0) {
            if (errno != ENOENT)
                return quint32(errno);
            missing = true;
        } else if (!missing && S_ISLNK(info.st_mode)) {
            if (!ownedByUs(info))
                return ERROR_FOREIGN_LINK;
            if (++links > 40)
                return ELOOP;
            char target[PATH_MAX];
            const ssize_t length = readlink(next.constData(), target, sizeof target);
            if (length < 0)
                return quint32(errno);
            if (size_t(length) >= sizeof target)
                return ENAMETOOLONG;
            const QByteArray named(target, length);
            const QList<QByteArray> parts = named.split('/');
            for (auto it = parts.crbegin(); it != parts.crend(); ++it)
                pending.append(*it);
            if (named.startsWith('/'))
                done.clear();
            continue;
        }
        done = next;
    }
    resolved = done.isEmpty() ? QByteArrayLiteral("/") : done;
    return 0;
}

quint32 checkOwners(const QByteArray &directory)
{
    const QList<QByteArray> parts = directory.split('/');
    QByteArray prefix;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        if (i > 0 && parts.at(i).isEmpty())
            continue;
        prefix += parts.at(i) + '/';
        struct stat info;
        if (lstat(prefix.constData(), &info) != 0)
            return errno == ENOENT ? 0 : quint32(errno);
        if (!ownedByUs(info))
            return ERROR_FOREIGN_DIRECTORY;
    }
    return 0;
}

int openRegular(const QByteArray &path, struct stat &info, quint32 &error)
{
    // A writer that replaces the file between the look and the open swaps one regular file for
    // another; look again rather than report the file as something it is not.
    for (int attempt = 0;; ++attempt) {
        // Looked at before it is opened: opening some devices has effects of its own.
        struct stat named;
        if (lstat(path.constData(), &named) != 0) {
            error = quint32(errno);
            return -1;
        }
        if (!S_ISREG(named.st_mode)) {
            // A link here was planted after the path was resolved.
            error = S_ISLNK(named.st_mode) ? ERROR_FOREIGN_LINK : ERROR_NOT_REGULAR;
            return -1;
        }
        const int fd = open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) {
            error = errno == ELOOP ? ERROR_FOREIGN_LINK : quint32(errno);
            return -1;
        }
        error = fstat(fd, &info) == 0 ? 0 : quint32(errno);
        const bool replaced =
            !error && S_ISREG(info.st_mode) && (info.st_dev != named.st_dev || info.st_ino != named.st_ino);
        if (!error && !replaced && S_ISREG(info.st_mode))
            return fd;
        close(fd);
        if (!replaced || attempt == 16) {
            error = error ? error : ERROR_NOT_REGULAR;
            return -1;
        }
    }
}

quint32 readAll(int fd, QByteArray &contents, qint64 limit)
{
    char buffer[65536];
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return quint32(errno);
        if (got == 0)
            return 0;
        if (contents.size() + got > limit)
            return EFBIG;
        contents.append(buffer, got);
    }
}

} // namespace SafeOpen
