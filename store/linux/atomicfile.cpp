#include "atomicfile.h"

#include <QFile>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

namespace AtomicFile {

namespace {

QByteArray directoryOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return QByteArrayLiteral(".");
    if (slash == 0)
        return QByteArrayLiteral("/");
    return path.left(slash);
}

int followLinks(QByteArray &path)
{
    for (int hops = 0; hops < 40; ++hops) {
        struct stat info;
        if (lstat(path.constData(), &info) != 0)
            return errno == ENOENT ? 0 : errno; // a dangling link's target is created
        if (!S_ISLNK(info.st_mode))
            return 0;
        char target[PATH_MAX];
        const ssize_t length = readlink(path.constData(), target, sizeof target);
        if (length < 0)
            return errno;
        const QByteArray named(target, length);
        path = named.startsWith('/') ? named : directoryOf(path) + '/' + named;
    }
    return ELOOP;
}

// 0 for an existing directory, ENOTDIR for anything else there, or why it could not be looked at.
int existingDirectory(const QByteArray &directory)
{
    struct stat info;
    if (stat(directory.constData(), &info) != 0)
        return errno;
    return S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
}

int makeDirectory(const QByteArray &directory)
{
    const int found = existingDirectory(directory);
    if (found != ENOENT)
        return found;
    if (const int error = makeDirectory(directoryOf(directory)))
        return error;
    if (mkdir(directory.constData(), 0755) != 0)
        return errno == EEXIST ? 0 : errno;
    // Independent of the umask: every user's login reads these directories.
    return chmod(directory.constData(), 0755) == 0 ? 0 : errno;
}

int readAll(int fd, QByteArray &contents)
{
    char buffer[16384];
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return errno;
        if (got == 0)
            return 0;
        contents.append(buffer, got);
    }
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
    explicit TemporaryFile(const QByteArray &target)
    {
        const qsizetype slash = target.lastIndexOf('/');
        m_name = target.left(slash + 1) + '.' + target.mid(slash + 1) + ".XXXXXX";
        m_fd = mkostemp(m_name.data(), O_CLOEXEC);
        m_error = m_fd < 0 ? errno : 0;
    }
    ~TemporaryFile()
    {
        if (m_fd >= 0)
            close(m_fd);
        if (m_error == 0 && !m_renamed)
            unlink(m_name.constData());
    }
    TemporaryFile(const TemporaryFile &) = delete;
    TemporaryFile &operator=(const TemporaryFile &) = delete;

    int error() const { return m_error; }

    int commit(const QByteArray &contents, mode_t mode, const struct stat *previous, const QByteArray &target)
    {
        if (fchmod(m_fd, mode) != 0)
            return errno;
        if (previous && geteuid() == 0 && (previous->st_uid != 0 || previous->st_gid != getegid()))
            (void)fchown(m_fd, previous->st_uid, previous->st_gid);
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
        if (rename(m_name.constData(), target.constData()) != 0)
            return errno;
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

    QByteArray m_name;
    int m_fd = -1;
    int m_error = 0;
    bool m_renamed = false;
};

// An advisory lock on the target's directory serialises writers (this tool in two processes, or a
// playbook doing the same) without leaving a lock file behind or costing a write to disk.
class DirectoryLock
{
public:
    explicit DirectoryLock(const QByteArray &directory)
        : m_fd(open(directory.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
        if (m_fd < 0) {
            m_error = errno;
            return;
        }
        for (int waited = 0; flock(m_fd, LOCK_EX | LOCK_NB) != 0; waited += 10) {
            if (errno != EWOULDBLOCK && errno != EINTR) {
                m_error = errno;
                return;
            }
            if (waited >= 5000) {
                m_error = EBUSY;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ~DirectoryLock()
    {
        if (m_fd >= 0)
            close(m_fd); // releases the lock
    }
    DirectoryLock(const DirectoryLock &) = delete;
    DirectoryLock &operator=(const DirectoryLock &) = delete;
    int error() const { return m_error; }
    // Makes a rename into the directory durable.
    void sync() const { fsync(m_fd); }

private:
    int m_fd;
    int m_error = 0;
};

} // namespace

Result edit(const QString &path, Directories directories,
            const std::function<QByteArray(const QByteArray &)> &change)
{
    QByteArray target = QFile::encodeName(path);
    if (const int error = followLinks(target))
        return {error, Step::Open};
    const QByteArray directory = directoryOf(target);
    const int missing =
        directories == Directories::Create ? makeDirectory(directory) : existingDirectory(directory);
    if (missing)
        return {missing, Step::Open};

    // The temporary file comes first: creating it tells exactly why the directory is not writable.
    TemporaryFile temporary(target);
    if (temporary.error())
        return {temporary.error(), Step::Open};

    DirectoryLock lock(directory);
    if (lock.error())
        return {lock.error(), Step::Open};

    QByteArray contents;
    struct stat previous;
    bool existed = false;
    const int fd = open(target.constData(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        int error = fstat(fd, &previous) == 0 ? 0 : errno;
        if (!error && S_ISDIR(previous.st_mode))
            error = EISDIR;
        if (!error)
            error = readAll(fd, contents);
        close(fd);
        if (error)
            return {error, Step::Open};
        existed = true;
    } else if (errno != ENOENT) {
        return {errno, Step::Open};
    }

    const QByteArray changed = change(contents);
    if (changed.isNull())
        return {EBADMSG, Step::Write};
    const mode_t mode = existed ? (previous.st_mode & 07777) : 0644;
    if (const int error = temporary.commit(changed, mode, existed ? &previous : nullptr, target))
        return {error, Step::Write};
    lock.sync();
    return {};
}

} // namespace AtomicFile
