#include "../machinestore.h"

#include "win32store.h"

// The questions the tool asks the machine without changing it.

QString readProfileString(const QString &section, const QString &key, const QString &fileName, quint32 *error)
{
    // The system's reader gives no reason: a file it cannot read reads as a missing one.
    if (error)
        *error = 0;
    std::wstring value;
    if (!Win32Store::readProfileString(section.toStdWString(), key.toStdWString(), fileName.toStdWString(),
                                       value))
        return QString();
    return QString::fromStdWString(value);
}

bool runsPrivileged()
{
    return Win32Store::isElevated();
}

QString accountName()
{
    return QString::fromStdWString(Win32Store::accountName());
}
