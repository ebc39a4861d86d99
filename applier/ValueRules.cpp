#include "ValueRules.h"

#include <QFileInfo>
#include <QStringList>

ValueRules::ValueRules(const PathRules &paths)
    : m_paths(paths)
{}

bool ValueRules::validWorkstation(const QString &text)
{
    const int number = text.toInt();
    return number >= 1 && number <= 999;
}

QString ValueRules::normalisedRoot(const QString &text) const
{
    return m_paths.stripTrailingSeparators(m_paths.normaliseSeparators(text));
}

bool ValueRules::validServer(const QString &text) const
{
    return !m_paths.invalidServerPath(text);
}

QString ValueRules::normalisedServer(const QString &text) const
{
    return m_paths.normaliseSeparators(text);
}

QString ValueRules::systemDirectory(const QString &root, const QString &system) const
{
    return m_paths.join({root, system});
}

QString ValueRules::systemProfile(const QString &root, const QString &system) const
{
    return m_paths.join({root, system, QStringLiteral("config"), QStringLiteral("system"),
                         QStringLiteral("trox_system.ini")});
}

bool ValueRules::systemExists(const QString &root, const QString &system) const
{
    return QFileInfo(systemDirectory(root, system)).isDir();
}
