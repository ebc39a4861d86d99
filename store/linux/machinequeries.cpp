#include "../machinestore.h"
#include "../safefile.h"
#include "machinepaths.h"
#include "profilefile.h"

#include <cerrno>
#include <pwd.h>
#include <unistd.h>

// The questions the tool asks the machine without changing it.

QString readProfileString(const QString &section, const QString &key, const QString &fileName, quint32 *error)
{
    if (error)
        *error = 0;
    if (fileName.isEmpty())
        return QString();
    // Asked before every write, and by show, of files anyone may have put a FIFO or a link in place of.
    QByteArray contents;
    const quint32 failed = SafeFile::read(profilePath(fileName), contents);
    if (failed && failed != ENOENT && failed != ENOTDIR && error)
        *error = failed;
    const QByteArray value = ProfileFile::value(contents, section.toUtf8(), key.toUtf8());
    return value.isNull() ? QString() : QString::fromUtf8(value);
}

bool runsPrivileged()
{
    return geteuid() == 0;
}

QString accountName()
{
    // The password database rather than USER or LOGNAME, which the caller's environment may carry
    // over from another account (sudo, su without a login).
    const uid_t uid = geteuid();
    const passwd *entry = getpwuid(uid);
    return entry && entry->pw_name ? QString::fromLocal8Bit(entry->pw_name) : QString::number(uid);
}
