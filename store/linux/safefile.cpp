#include "../safefile.h"
#include "safeopen.h"

#include <cerrno>
#include <unistd.h>

namespace SafeFile {

quint32 read(const QString &path, QByteArray &contents, qint64 limit)
{
    contents.clear();
    struct stat info;
    quint32 error = 0;
    const int fd = SafeOpen::openFile(path, false, info, error);
    if (fd < 0)
        return error;
    error = info.st_size > limit ? quint32(EFBIG) : SafeOpen::readAll(fd, contents, limit);
    close(fd);
    if (error)
        contents.clear();
    return error;
}

} // namespace SafeFile
