#include "EditorRules.h"

#include <QFileInfo>
#include <QStringList>

EditorRules::EditorRules(const PathRules &paths)
    : m_paths(paths)
{}

bool EditorRules::validWorkstation(const QString &text)
{
    const int number = text.toInt();
    return number >= 1 && number <= 999;
}

QString EditorRules::normalisedRoot(const QString &text) const
{
    return m_paths.stripTrailingSeparators(m_paths.normaliseSeparators(text));
}

bool EditorRules::validServer(const QString &text) const
{
    return !m_paths.invalidServerPath(text);
}

QString EditorRules::normalisedServer(const QString &text) const
{
    return m_paths.normaliseSeparators(text);
}

QString EditorRules::systemDirectory(const QString &root, const QString &system) const
{
    return m_paths.join({root, system});
}

QString EditorRules::systemProfile(const QString &root, const QString &system) const
{
    return m_paths.join({root, system, QStringLiteral("config"), QStringLiteral("system"),
                         QStringLiteral("trox_system.ini")});
}

bool EditorRules::systemExists(const QString &root, const QString &system) const
{
    return QFileInfo(systemDirectory(root, system)).isDir();
}
