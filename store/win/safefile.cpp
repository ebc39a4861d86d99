#include "../safefile.h"

#include <QFile>
#include <QFileInfo>

namespace SafeFile {

namespace {
// Windows' own codes, so that describeStoreError() explains them.
constexpr quint32 fileNotFound = 2;   // ERROR_FILE_NOT_FOUND
constexpr quint32 accessDenied = 5;   // ERROR_ACCESS_DENIED
constexpr quint32 fileTooLarge = 223; // ERROR_FILE_TOO_LARGE
constexpr quint32 notAFile = 267;     // ERROR_DIRECTORY
} // namespace

// Windows has no FIFOs or device nodes among ordinary paths; a directory is still refused by type.
quint32 read(const QString &path, QByteArray &contents, qint64 limit)
{
    contents.clear();
    const QFileInfo info(path);
    if (!info.exists())
        return fileNotFound;
    if (!info.isFile())
        return notAFile;
    if (info.size() > limit)
        return fileTooLarge;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return accessDenied;
    contents = file.read(limit + 1);
    if (contents.size() > limit) {
        contents.clear();
        return fileTooLarge;
    }
    return 0;
}

} // namespace SafeFile
