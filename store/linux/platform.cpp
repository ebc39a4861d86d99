#include "../platform.h"
#include "../pathrules.h"
#include "../preferences.h"
#include "atomicfile.h"
#include "machinepaths.h"
#include "safeopen.h"

#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSettings>
#include <QTemporaryDir>

#include <cerrno>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

PathRules PathRules::native()
{
    return PathRules(PathRules::Posix);
}

namespace {

// Where a system-scope QSettings keeps "organization/application" on Unix; naming it here saves
// parsing the file once more just to ask for its name.
QString preferenceFile()
{
    return MachinePaths::systemConfigDir() + QLatin1Char('/') + QLatin1String(Preferences::organization) +
           QLatin1Char('/') + QLatin1String(Preferences::application) + QLatin1String(".conf");
}

// Whether QSettings may open the preference file itself: nothing there yet, or a regular file
// reached without a link another user owns, in directories no other user owns (who could swap it
// for a FIFO afterwards). QSettings would follow any link and block on a FIFO.
bool safeToOpen(const QString &path)
{
    struct stat info;
    quint32 error = 0;
    const int fd = SafeOpen::openFile(path, true, info, error);
    if (fd >= 0)
        close(fd);
    return fd >= 0 || error == ENOENT;
}

// The directories down to `directory`, made and checked as AtomicFile::edit() makes them for a file
// in it, without writing any file.
bool makeOwnDirectory(const QString &directory)
{
    QByteArray resolved;
    quint32 error = SafeOpen::resolve(QFile::encodeName(directory), resolved);
    const int fd = error ? -1 : SafeOpen::openDirectory(resolved, true, true, error);
    if (fd >= 0)
        close(fd);
    return fd >= 0;
}

} // namespace

void preparePreferenceLocation()
{
    // Qt reads XDG_CONFIG_DIRS only in newer releases; setting the path each time keeps the
    // location right on all of them and follows TROX_INST_ENV_PREFIX. A file that may not be read
    // is treated as missing: the store then reads as empty (nothing can be created below /dev/null),
    // and a write is refused on its own.
    const QString directory = MachinePaths::systemConfigDir();
    QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope,
                       safeToOpen(preferenceFile()) ? directory : QStringLiteral("/dev/null"));
}

namespace {

// Every key and value of a settings file, as QSettings reads it back.
QMap<QString, QVariant> contentsOf(QSettings &settings)
{
    while (!settings.group().isEmpty()) // an edit may leave a group open
        settings.endGroup();
    QMap<QString, QVariant> contents;
    const QStringList keys = settings.allKeys();
    for (const QString &key : keys)
        contents.insert(key, settings.value(key));
    return contents;
}

} // namespace

bool savePreferences(const std::function<void(QSettings &)> &edit)
{
    const QString path = preferenceFile();
    // QSettings edits a scratch copy; the store's own safe replacement puts the result in place, so
    // a full disk or a killed process leaves the old file whole.
    // In memory where the system offers it: QSettings syncs its file to disk, which the scratch copy
    // does not need.
    auto scratch = std::make_unique<QTemporaryDir>(QStringLiteral("/dev/shm/trox_inst_env-XXXXXX"));
    if (!scratch->isValid())
        scratch = std::make_unique<QTemporaryDir>();
    if (!scratch->isValid())
        return false;
    const QString copy = scratch->filePath(QStringLiteral("preferences.conf"));
    // Machine-wide preferences never lie in a directory of another user, wherever an inherited
    // XDG_CONFIG_DIRS points.
    AtomicFile::Options options;
    options.directories = AtomicFile::Directories::Create;
    options.ownDirectories = true;
    // A QSettings writer (an older tool, a script) locks the file its own way; without that lock
    // each of the two could write back a copy read before the other's change. It needs the
    // directory.
    const QString directory = QFileInfo(path).absolutePath();
    QLockFile settingsLock(path + QLatin1String(".lock"));
    if (!QFileInfo::exists(directory) && !makeOwnDirectory(directory))
        return false;
    if (!settingsLock.tryLock(5000))
        return false;
    const AtomicFile::Result result =
        AtomicFile::edit(path, options, [&](const QByteArray &current) -> QByteArray {
            QFile file(copy);
            if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
                file.write(current) != current.size() || !file.flush())
                return QByteArray();
            file.close();
            QMap<QString, QVariant> intended;
            {
                QSettings settings(copy, QSettings::IniFormat);
                edit(settings);
                settings.sync();
                if (settings.status() != QSettings::NoError)
                    return QByteArray();
                intended = contentsOf(settings);
            }
            // QSettings does not notice a short write: trust the copy only once it reads back whole.
            QSettings check(copy, QSettings::IniFormat);
            if (check.status() != QSettings::NoError || contentsOf(check) != intended)
                return QByteArray();
            if (!file.open(QIODevice::ReadOnly))
                return QByteArray();
            const QByteArray bytes = file.readAll();
            return bytes.isNull() ? QByteArray("", 0) : bytes;
        });
    return result.error == 0;
}
