#include "../safefile.h"
#include "safeopen.h"

#include <QFile>

#include <unistd.h>

namespace SafeFile {

quint32 read(const QString &path, QByteArray &contents, qint64 limit)
{
    contents.clear();
    QByteArray resolved;
    if (const quint32 error = SafeOpen::resolve(QFile::encodeName(path), resolved))
        return error;
    // Through the directory's descriptor, as a write is: a directory swapped for a link meanwhile
    // is refused, not followed.
    quint32 error = 0;
    const qsizetype slash = resolved.lastIndexOf('/');
    const int directory =
        SafeOpen::openDirectory(resolved.left(qMax(slash, qsizetype(1))), false, false, error);
    if (directory < 0)
        return error;
    struct stat info;
    const int fd = SafeOpen::openRegular(resolved.mid(slash + 1), info, error, directory);
    close(directory);
    if (fd < 0)
        return error;
    error = info.st_size > limit ? quint32(EFBIG) : SafeOpen::readAll(fd, contents, limit);
    close(fd);
    if (error)
        contents.clear();
    return error;
}

} // namespace SafeFile
