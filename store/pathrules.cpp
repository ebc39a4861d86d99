#include "pathrules.h"

#include <QRegularExpression>

QChar PathRules::separator() const
{
    return m_convention == Windows ? QLatin1Char('\\') : QLatin1Char('/');
}

QString PathRules::join(const QStringList &parts) const
{
    return parts.join(separator());
}

QString PathRules::normaliseSeparators(const QString &path) const
{
    QString result = path;
    const QChar foreign = m_convention == Windows ? QLatin1Char('/') : QLatin1Char('\\');
    return result.replace(foreign, separator());
}

QString PathRules::stripTrailingSeparators(const QString &path) const
{
    qsizetype length = path.size();
    while (length > 0 && path.at(length - 1) == separator())
        --length;
    return path.left(length);
}

bool PathRules::invalidServerPath(const QString &path) const
{
    if (m_convention == Posix)
        return !path.startsWith(QLatin1Char('/'));
    // A drive path (any character before the colon) or a UNC path; nothing further is examined.
    if (path.size() >= 2 && path.at(1) == QLatin1Char(':'))
        return false;
    return !path.startsWith(QLatin1String("\\\\"));
}

QString PathRules::examplePaths(const QString &text) const
{
    if (m_convention == Windows)
        return text;
    // A path ends where the markup, a blank or a closing parenthesis of the sentence begins.
    static const QRegularExpression example(QStringLiteral(R"((\\\\|\b[A-Za-z]:\\)([^\s<>()]*))"));
    QString result;
    qsizetype copied = 0;
    for (const QRegularExpressionMatch &match : example.globalMatch(text)) {
        result += QStringView(text).mid(copied, match.capturedStart() - copied);
        const QString head =
            match.captured(1).startsWith(QLatin1Char('\\')) ? QStringLiteral("/mnt/") : QStringLiteral("/");
        result += head + normaliseSeparators(match.captured(2));
        copied = match.capturedEnd();
    }
    return result.append(QStringView(text).mid(copied));
}
