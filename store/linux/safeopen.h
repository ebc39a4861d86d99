#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <fcntl.h>
#include <sys/stat.h>

// Opening files in directories other users may write to. Links are followed by the kernel's own
// protected_symlinks rule, applied to every link and not only in sticky directories: only a link
// owned by root or by the user the tool runs as. A FIFO, device, socket or directory is never opened
// for reading, so opening cannot stall or touch a device.
namespace SafeOpen {

// Error codes beside errno values; the customer bit keeps them clear of errno and Windows codes.
inline constexpr quint32 ERROR_FOREIGN_LINK = 0x20000101u;
inline constexpr quint32 ERROR_NOT_REGULAR = 0x20000102u;
inline constexpr quint32 ERROR_FOREIGN_DIRECTORY = 0x20000103u;
inline constexpr quint32 ERROR_LOCK_HELD = 0x20000104u;
inline constexpr quint32 ERROR_MOUNTED_TARGET = 0x20000105u;

// Whether root or the user the tool runs as owns what `info` describes.
bool ownedByUs(const struct stat &info);

// `path` made absolute with every link in it replaced by what it names; a part that does not exist
// yet is kept as named. 0, ERROR_FOREIGN_LINK, ELOOP or the errno of a failing look-up.
quint32 resolve(const QByteArray &path, QByteArray &resolved);

// A descriptor of the directory at the resolved `directory`, reached one part at a time without
// following any link, so that a part swapped for a link afterwards cannot send what is done through
// the descriptor elsewhere. Missing parts are made (0755) with `create`; with `ownOnly` every part
// must belong to root or to the user the tool runs as (ERROR_FOREIGN_DIRECTORY). -1 with `error`
// set (ENOENT, ENOTDIR, ERROR_FOREIGN_LINK, ...) when it cannot be had.
int openDirectory(const QByteArray &directory, bool create, bool ownOnly, quint32 &error);

// A read-only descriptor of the regular file `path` (resolved, or a name in `directory`) with its
// status in `info`, or -1 with `error` set (ENOENT when nothing is there).
int openRegular(const QByteArray &path, struct stat &info, quint32 &error, int directory = AT_FDCWD);

// openRegular() of any path, reached through openDirectory() of its resolved directory (with
// `ownOnly` as there), so that a directory swapped for a link meanwhile is refused, not followed.
int openFile(const QString &path, bool ownOnly, struct stat &info, quint32 &error);

// The rest of the file; EFBIG once it holds more than `limit` bytes.
quint32 readAll(int fd, QByteArray &contents, qint64 limit);

} // namespace SafeOpen
