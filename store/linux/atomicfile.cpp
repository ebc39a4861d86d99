#include "atomicfile.h"
#include "../safefile.h"
#include "safeopen.h"

#include <QFile>
#include <QRandomGenerator>
#include <QScopeGuard>

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <thread>

namespace AtomicFile {

namespace {

// Extended attributes, POSIX ACLs among them (system.posix_acl_access), from one file to another.
int copyAttributes(int from, int to)
{
    const auto tolerated = [](int error) {
        // A file system without them has none to keep; a user other than root may not set
        // the trusted and security ones, and could not read them either.
        return error == ENOTSUP || (geteuid() != 0 && (error == EPERM || error == EACCES));
    };
    QByteArray names(4096, Qt::Uninitialized);
    ssize_t length;
    while ((length = flistxattr(from, names.data(), size_t(names.size()))) < 0 && errno == ERANGE)
        names.resize(names.size() * 4);
    if (length < 0)
        return tolerated(errno) ? 0 : errno;
    QByteArray value;
    for (const QByteArray &name : names.left(length).split('\0')) {
        if (name.isEmpty())
            continue;
        const ssize_t size = fgetxattr(from, name.constData(), nullptr, 0);
        value.resize(qMax(size, ssize_t(0)));
        const ssize_t got = size < 0 ? size : fgetxattr(from, name.constData(), value.data(), size_t(size));
        if (got < 0 || fsetxattr(to, name.constData(), value.constData(), size_t(got), 0) != 0) {
            if (!tolerated(errno))
                return errno;
        }
    }
    return 0;
}

int writeAll(int fd, const QByteArray &contents)
{
    qsizetype done = 0;
    while (done < contents.size()) {
        const ssize_t put = write(fd, contents.constData() + done, size_t(contents.size() - done));
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0)
            return errno;
        done += put;
    }
    return 0;
}

class TemporaryFile
{
public:
    TemporaryFile(int directory, const QByteArray &target)
        : m_directory(directory)
    {
        static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
        for (int tries = 0; tries < 100; ++tries) {
            m_name = '.' + target + '.';
            for (int i = 0; i < 6; ++i)
                m_name += letters[QRandomGenerator::global()->bounded(int(sizeof letters) - 1)];
            m_fd = openat(directory, m_name.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          0600);
            m_error = m_fd < 0 ? errno : 0;
            if (m_error != EEXIST)
                break;
        }
    }
    ~TemporaryFile()
    {
        if (m_fd >= 0)
            close(m_fd);
        if (m_error == 0 && !m_renamed)
            unlinkat(m_directory, m_name.constData(), 0);
    }
    TemporaryFile(const TemporaryFile &) = delete;
    TemporaryFile &operator=(const TemporaryFile &) = delete;

    int error() const { return m_error; }

    int commit(const QByteArray &contents, mode_t mode, const struct stat *previous, int previousFd,
               const QByteArray &target)
    {
        if (previous) {
            // Root keeps the owner; anyone keeps the group, or a group-shared file would lock its
            // group out.
            struct stat mine;
            if (fstat(m_fd, &mine) != 0)
                return errno;
            const uid_t owner = geteuid() == 0 ? previous->st_uid : mine.st_uid;
            if ((owner != mine.st_uid || previous->st_gid != mine.st_gid) &&
                fchown(m_fd, owner, previous->st_gid) != 0)
                return errno;
            if (const int error = copyAttributes(previousFd, m_fd))
                return error;
        }
        // After the owner (which clears set-id bits) and the ACL (whose entries it keeps in step).
        if (fchmod(m_fd, mode) != 0)
            return errno;
        if (const int error = writeAll(m_fd, contents))
            return error;
        if (previous)
            keepNewer(*previous);
        if (fsync(m_fd) != 0)
            return errno;
        const int fd = m_fd;
        m_fd = -1;
        if (close(fd) != 0)
            return errno;
        if (renameat(m_directory, m_name.constData(), m_directory, target.constData()) != 0)
            return errno == EBUSY ? int(SafeOpen::ERROR_MOUNTED_TARGET) : errno;
        m_renamed = true;
        return 0;
    }

private:
    // Readers that judge a file fresh by its size and its time to the millisecond (QSettings keeps
    // parsed files that way) would keep the old contents of a same-sized file replaced within the
    // same millisecond; the replacement therefore always carries a later millisecond.
    void keepNewer(const struct stat &previous)
    {
        struct stat now;
        if (fstat(m_fd, &now) != 0)
            return;
        const auto milliseconds = [](const timespec &t) {
            return qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
        };
        const qint64 old = milliseconds(previous.st_mtim);
        if (milliseconds(now.st_mtim) > old)
            return;
        const timespec times[2] = {{0, UTIME_OMIT},
                                   {time_t((old + 1) / 1000), long((old + 1) % 1000) * 1000000}};
        futimens(m_fd, times);
    }

    int m_directory;
    QByteArray m_name;
    int m_fd = -1;
    int m_error = 0;
    bool m_renamed = false;
};

// Writers of one file take a lock on a file beside it that only writers of the directory can open.
// A lock on the directory or on the target itself would be open to every user who can read them,
// and any of them could stall every write. The holder removes the lock file as it lets go, so a
// writer that locked a file since removed tries again on the one now there.
class WriterLock
{
public:
    WriterLock(int directory, const QByteArray &name)
        : m_directory(directory)
        , m_name('.' + name + ".lock")
    {
        struct stat parent;
        if (fstat(directory, &parent) != 0) {
            m_error = errno;
            return;
        }
        const mode_t mode =
            0600 | ((parent.st_mode & S_IWGRP) ? 0060 : 0) | ((parent.st_mode & S_IWOTH) ? 0006 : 0);
        for (int waited = 0;; waited += 10) {
            if ((m_error = take(mode, parent.st_gid)) != EWOULDBLOCK)
                return;
            if (waited >= 5000) {
                m_error = int(SafeOpen::ERROR_LOCK_HELD);
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ~WriterLock()
    {
        if (m_error == 0)
            unlinkat(m_directory, m_name.constData(), 0);
        if (m_fd >= 0)
            close(m_fd); // releases the lock
    }
    WriterLock(const WriterLock &) = delete;
    WriterLock &operator=(const WriterLock &) = delete;
    int error() const { return m_error; }

private:
    // 0 when the lock is held, EWOULDBLOCK to try again, or why it cannot be taken.
    int take(mode_t mode, gid_t group)
    {
        if (m_fd >= 0)
            close(m_fd);
        const int flags = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
        m_fd = openat(m_directory, m_name.constData(), flags | O_CREAT | O_EXCL, mode);
        if (m_fd >= 0) {
            // Independent of the umask and the creator's group: the directory's writers share it.
            if (mode & 0060)
                (void)fchown(m_fd, uid_t(-1), group);
            fchmod(m_fd, mode);
        } else if (errno == EEXIST) {
            m_fd = openat(m_directory, m_name.constData(), flags);
            if (m_fd < 0 && errno == ENOENT)
                return EWOULDBLOCK; // its holder just removed it
        }
        if (m_fd < 0)
            return errno == ELOOP ? int(SafeOpen::ERROR_FOREIGN_LINK) : errno;
        struct stat opened, named;
        if (fstat(m_fd, &opened) != 0 || !S_ISREG(opened.st_mode))
            return int(SafeOpen::ERROR_NOT_REGULAR);
        if (flock(m_fd, LOCK_EX | LOCK_NB) != 0)
            return errno == EINTR ? EWOULDBLOCK : errno;
        if (fstatat(m_directory, m_name.constData(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
            named.st_ino != opened.st_ino || named.st_dev != opened.st_dev)
            return EWOULDBLOCK;
        return 0;
    }

    int m_directory;
    QByteArray m_name;
    int m_fd = -1;
    int m_error = 0;
};

// Temporary files are made only under the lock, so any found while holding it were left by a
// writer that was killed. Only the tool's own are removed, never another user's file.
void removeLeftovers(int directory, const QByteArray &name)
{
    const int copy = openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *listing = copy < 0 ? nullptr : fdopendir(copy);
    if (!listing) {
        if (copy >= 0)
            close(copy);
        return;
    }
    const QByteArray prefix = '.' + name + '.';
    const int fd = dirfd(listing);
    while (const dirent *entry = readdir(listing)) {
        const QByteArray found(entry->d_name);
        struct stat info;
        if (found.size() == prefix.size() + 6 && found.startsWith(prefix) &&
            fstatat(fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode) &&
            info.st_uid == geteuid())
            unlinkat(fd, entry->d_name, 0);
    }
    closedir(listing);
}

// Whether the file is there, readable by all where it must be, and already what `change` makes of
// it: then there is nothing to write.
bool alreadyChanged(int directory, const QByteArray &name, const Options &options,
                    const std::function<QByteArray(const QByteArray &)> &change)
{
    struct stat info;
    quint32 error = 0;
    const int fd = SafeOpen::openRegular(name, info, error, directory);
    if (fd < 0)
        return false;
    QByteArray contents;
    error = SafeOpen::readAll(fd, contents, SafeFile::defaultLimit);
    close(fd);
    if (error || (options.readableByAll && (info.st_mode & 0044) != 0044))
        return false;
    const QByteArray changed = change(contents);
    return !changed.isNull() && changed == contents;
}

} // namespace

Result edit(const QString &path, const Options &options,
            const std::function<QByteArray(const QByteArray &)> &change)
{
    QByteArray target;
    if (const quint32 error = SafeOpen::resolve(QFile::encodeName(path), target))
        return {int(error), Step::Open};
    // Everything below goes through the directory's descriptor: a directory on the way swapped for
    // a link meanwhile cannot send the write elsewhere.
    quint32 failed = 0;
    const qsizetype slash = target.lastIndexOf('/'); // a resolved path is absolute
    const int directory =
        SafeOpen::openDirectory(target.left(qMax(slash, qsizetype(1))),
                                options.directories == Directories::Create, options.ownDirectories, failed);
    if (directory < 0)
        return {int(failed), Step::Open};
    const auto closeDirectory = qScopeGuard([directory] { close(directory); });
    const QByteArray name = target.mid(slash + 1);

    // Nothing to write takes no lock either: a file that already holds what it should keeps its
    // inode and time, and a read-only directory holding it is no failure.
    if (alreadyChanged(directory, name, options, change))
        return {};

    // Taking the lock also tells exactly why the directory is not writable.
    WriterLock lock(directory, name);
    if (lock.error())
        return {lock.error(), Step::Open};
    removeLeftovers(directory, name);

    TemporaryFile temporary(directory, name);
    if (temporary.error())
        return {temporary.error(), Step::Open};

    QByteArray contents;
    struct stat previous;
    quint32 error = 0;
    const int fd = SafeOpen::openRegular(name, previous, error, directory);
    const bool existed = fd >= 0;
    const auto closeTarget = qScopeGuard([fd] {
        if (fd >= 0)
            close(fd);
    });
    if (!existed && error != ENOENT)
        return {int(error), Step::Open};
    if (existed && (error = SafeOpen::readAll(fd, contents, SafeFile::defaultLimit)))
        return {int(error), Step::Open};

    const QByteArray changed = change(contents);
    if (changed.isNull())
        return {EBADMSG, Step::Write};
    mode_t mode = existed ? (previous.st_mode & 07777) : 0644;
    if (options.readableByAll)
        mode |= 0044;
    // Another writer may have made the change meanwhile.
    if (existed && changed == contents && mode == (previous.st_mode & 07777))
        return {};
    if (const int written = temporary.commit(changed, mode, existed ? &previous : nullptr, fd, name))
        return {written, Step::Write};
    fsync(directory); // makes the rename durable
    return {};
}

} // namespace AtomicFile
