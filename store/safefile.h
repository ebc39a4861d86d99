#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// Reading a file the tool did not create: only a regular file is read, never a FIFO, a device, a
// socket or a directory, without blocking on the way and never more than a bounded number of bytes.
// On Linux a symbolic link is followed only when root or the user the tool runs as owns it.
namespace SafeFile {

// Larger than any file the tool edits; a bigger one is not read at all.
inline constexpr qint64 defaultLimit = qint64(64) << 20;

// The whole file into `contents`; 0, or an error code that describeStoreError() explains (EFBIG
// for a file over `limit`).
quint32 read(const QString &path, QByteArray &contents, qint64 limit = defaultLimit);

} // namespace SafeFile
