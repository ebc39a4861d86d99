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

// Windows reads its values from the process environment, as the tool always did there, and the
// registry gives the per-user landing no reason to be undone.
QList<StoredVariable> loadMachineVariables(const QStringList &names)
{
    return loadStoredVariables(names);
}

// An administrator's process keeps the environment it started with, which a write made since (by
// an earlier run of a fleet's playbook, say) leaves stale: the machine key itself decides.
QList<bool> machineVariablesDiffer(const QList<QPair<QString, QString>> &assignments)
{
    QList<bool> differ;
    for (const auto &[name, value] : assignments)
        differ.append(!Win32Store::machineVariableHolds(name.toStdWString(), value.toStdWString()));
    return differ;
}

InvokingUser removeInvokingUserVariables(const QStringList &, bool)
{
    return {};
}

void logChanges(const QStringList &)
{
    // The event log needs a registered source; the operator's dialog says what it wrote.
}

QString profilePath(const QString &fileName)
{
    // The system puts a bare name in the Windows directory; the operator is shown where that is.
    if (fileName.contains(QLatin1Char('/')) || fileName.contains(QLatin1Char('\\')))
        return fileName;
    const std::wstring directory = Win32Store::windowsDirectory();
    if (directory.empty())
        return fileName;
    return QString::fromStdWString(directory) + QLatin1Char('\\') + fileName;
}
