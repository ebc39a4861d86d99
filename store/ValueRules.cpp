#include "ValueRules.h"

namespace ValueRules {

bool isNoncharacter(char32_t c)
{
    return (c >= 0xFDD0 && c <= 0xFDEF) || (c & 0xFFFE) == 0xFFFE;
}

namespace {

QString codePoint(char32_t c)
{
    return QStringLiteral("U+%1").arg(uint(c), 4, 16, QLatin1Char('0')).toUpper();
}

} // namespace

QString refusal(const QString &value)
{
    if (value.size() > maximumLength)
        return QStringLiteral("the value is longer than %1 characters").arg(maximumLength);
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        // NUL, CR and LF would end the line early and let the rest be read as another variable.
        if (c.unicode() == 0 || c == QLatin1Char('\r') || c == QLatin1Char('\n'))
            return QStringLiteral("the value contains a line break or a NUL character");
        // systemd's generator prints these as C escapes that the user manager keeps as they are.
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return QStringLiteral("the value contains the control character %1").arg(codePoint(c.unicode()));
        if (c.isHighSurrogate() && i + 1 < value.size() && value.at(i + 1).isLowSurrogate()) {
            const char32_t full = QChar::surrogateToUcs4(c, value.at(++i));
            if (isNoncharacter(full))
                return QStringLiteral("the value contains the Unicode noncharacter %1").arg(codePoint(full));
            continue;
        }
        if (c.isSurrogate())
            return QStringLiteral("the value contains half of a UTF-16 surrogate pair");
        // The generator rejects the whole file over one, and the login loses all of its variables.
        if (isNoncharacter(c.unicode()))
            return QStringLiteral("the value contains the Unicode noncharacter %1")
                .arg(codePoint(c.unicode()));
    }
    return QString();
}

QString printable(const QString &text)
{
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7f && u < 0xa0))
            shown += QStringLiteral("\\u%1").arg(u, 4, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

} // namespace ValueRules
