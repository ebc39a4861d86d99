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

// The machine key as stored: an administrator's process keeps the environment it started with,
// which a write made since (by an earlier run of a fleet's playbook, say) leaves stale, so an
// elevated run reports and decides its writes by the key itself.
QList<StoredVariable> loadMachineVariables(const QStringList &names)
{
    QList<StoredVariable> result;
    for (const QString &name : names) {
        StoredVariable stored;
        std::wstring value;
        bool expandable = false;
        if (Win32Store::readMachineVariable(name.toStdWString(), value, expandable)) {
            stored.value = QString::fromStdWString(value);
            stored.source = StoredVariable::Machine;
        }
        result.append(stored);
    }
    return result;
}

// Unchanged only where the key holds this text as a write would leave it, expandable.
QList<bool> machineVariablesDiffer(const QList<QPair<QString, QString>> &assignments)
{
    QList<bool> differ;
    for (const auto &[name, value] : assignments) {
        std::wstring stored;
        bool expandable = false;
        differ.append(!Win32Store::readMachineVariable(name.toStdWString(), stored, expandable) ||
                      !expandable || stored != value.toStdWString());
    }
    return differ;
}

InvokingUser removeInvokingUserVariables(const QStringList &, bool)
{
    // Windows never had the tool edit another account's registry hive: a per-user value an earlier
    // refused write left stays where it is, as it always did there.
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
