#include "safeopen.h"

#include <QFile>
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

int openDirectory(const QByteArray &directory, bool create, bool ownOnly, quint32 &error)
{
    const int flags = O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int fd = open("/", O_PATH | flags);
    error = fd < 0 ? quint32(errno) : 0;
    const QList<QByteArray> parts = directory.split('/');
    for (qsizetype i = 0; fd >= 0; ++i) {
        struct stat info;
        const bool known = fstat(fd, &info) == 0;
        if (!known || (ownOnly && !ownedByUs(info))) {
            error = known ? ERROR_FOREIGN_DIRECTORY : quint32(errno);
            close(fd);
            return -1;
        }
        while (i < parts.size() && (parts.at(i).isEmpty() || parts.at(i) == "."))
            ++i;
        if (i == parts.size()) {
            // Read access for syncing and listing it; a directory only writable is still written.
            const int readable = openat(fd, ".", O_RDONLY | flags);
            if (readable >= 0) {
                close(fd);
                return readable;
            }
            return fd;
        }
        const char *part = parts.at(i).constData();
        bool made = false;
        int next = openat(fd, part, O_PATH | flags);
        if (next < 0 && errno == ENOENT && create) {
            made = mkdirat(fd, part, 0755) == 0;
            if (made || errno == EEXIST)
                next = openat(fd, part, (made ? O_RDONLY : O_PATH) | flags);
        }
        // Independent of the umask: every user's login reads these directories.
        if (next >= 0 && made && fchmod(next, 0755) != 0) {
            close(next);
            next = -1;
        }
        if (next < 0) {
            error = quint32(errno);
            struct stat named;
            if ((errno == ENOTDIR || errno == ELOOP) && fstatat(fd, part, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISLNK(named.st_mode))
                error = ERROR_FOREIGN_LINK; // planted after the path was resolved
        }
        close(fd);
        fd = next;
    }
    return -1;
}

int openRegular(const QByteArray &path, struct stat &info, quint32 &error, int directory)
{
    // A writer that replaces the file between the look and the open swaps one regular file for
    // another; look again rather than report the file as something it is not.
    for (int attempt = 0;; ++attempt) {
        // Looked at before it is opened: opening some devices has effects of its own.
        struct stat named;
        if (fstatat(directory, path.constData(), &named, AT_SYMLINK_NOFOLLOW) != 0) {
            error = quint32(errno);
            return -1;
        }
        if (!S_ISREG(named.st_mode)) {
            // A link here was planted after the path was resolved.
            error = S_ISLNK(named.st_mode) ? ERROR_FOREIGN_LINK : ERROR_NOT_REGULAR;
            return -1;
        }
        const int fd =
            openat(directory, path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
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

int openFile(const QString &path, bool ownOnly, struct stat &info, quint32 &error)
{
    QByteArray resolved;
    if ((error = resolve(QFile::encodeName(path), resolved)) != 0)
        return -1;
    const qsizetype slash = resolved.lastIndexOf('/');
    const int directory = openDirectory(resolved.left(qMax(slash, qsizetype(1))), false, ownOnly, error);
    if (directory < 0)
        return -1;
    const int fd = openRegular(resolved.mid(slash + 1), info, error, directory);
    close(directory);
    return fd;
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
