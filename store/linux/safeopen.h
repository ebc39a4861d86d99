#pragma once

#include <QByteArray>
#include <QtGlobal>

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

// 0 when every existing directory from '/' down to `directory` (already resolved) belongs to root
// or to the user the tool runs as, else ERROR_FOREIGN_DIRECTORY.
quint32 checkOwners(const QByteArray &directory);

// A read-only descriptor of the regular file at the resolved `path` with its status in `info`, or
// -1 with `error` set (ENOENT when nothing is there).
int openRegular(const QByteArray &path, struct stat &info, quint32 &error);

// The rest of the file; EFBIG once it holds more than `limit` bytes.
quint32 readAll(int fd, QByteArray &contents, qint64 limit);

} // namespace SafeOpen
