#pragma once

#include <QString>
#include <QStringList>

// The platform's rules for the paths the operator types and the tool builds: which separator joins,
// which foreign separator is normalised, and what a server path must start with. Windows follows the
// backslash rules; POSIX their mirror image with '/'.
class PathRules
{
public:
    enum Convention { Windows, Posix };

    constexpr explicit PathRules(Convention convention)
        : m_convention(convention)
    {}
    // The rules of the platform this binary was built for.
    static PathRules native();

    QChar separator() const;

    // Joins the parts with exactly one separator each; nothing is removed or doubled.
    QString join(const QStringList &parts) const;
    // Replaces every foreign separator ('/' on Windows, '\' on POSIX) by the native one.
    QString normaliseSeparators(const QString &path) const;
    // Removes every trailing separator; a path of separators only becomes empty.
    QString stripTrailingSeparators(const QString &path) const;
    // True when the text does not start like a server path, looking only at its first characters.
    bool invalidServerPath(const QString &path) const;
    // The text with every Windows example path in it (help texts speak Windows) written as this
    // convention's counterpart: on POSIX \\server\share\dir becomes /mnt/server/share/dir and
    // c:\dir becomes /dir. All other characters stay; on Windows the whole text does.
    QString examplePaths(const QString &text) const;

private:
    Convention m_convention;
};
