#include "machinepaths.h"

#include <QDir>

namespace MachinePaths {

QString machinePath(const QString &absolutePath)
{
    const QString prefix = qEnvironmentVariable("TROX_INST_ENV_PREFIX");
    if (prefix.isEmpty())
        return absolutePath;
    QString base = prefix;
    while (base.size() > 1 && base.endsWith(QLatin1Char('/')))
        base.chop(1);
    return base + absolutePath;
}

QString userConfigHome()
{
    const QString configured = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!configured.isEmpty() && QDir::isAbsolutePath(configured))
        return configured;
    return QDir::homePath() + QLatin1String("/.config");
}

QString systemConfigDir()
{
    // Only the first entry: that is where a system-scope QSettings writes.
    QString first = qEnvironmentVariable("XDG_CONFIG_DIRS").section(QLatin1Char(':'), 0, 0);
    if (first.isEmpty() || !QDir::isAbsolutePath(first))
        first = QStringLiteral("/etc/xdg");
    return machinePath(first);
}

} // namespace MachinePaths
