#pragma once

#include <QString>

// What a stored environment value may hold on every platform: only text that each login reads
// back exactly and that every program start can carry.
namespace ValueRules {

// Windows' limit for one variable, well below Linux's 128 KiB per environment string (past which
// every program start fails); counted in UTF-16 units as Windows counts.
inline constexpr qsizetype maximumLength = 32767;

// U+FDD0..U+FDEF and the last two code points of every plane, which systemd refuses in a value.
bool isNoncharacter(char32_t c);

// Why the value cannot be stored as it is, in plain words, or an empty string when it can.
QString refusal(const QString &value);

// Text from stored files or inherited variables as it may reach a terminal, a dialog or the system
// log: C0, DEL and C1 controls written as JSON writes them (\u001b), so that no value can move the
// cursor, retitle a window or start a log line of its own.
QString printable(const QString &text);

} // namespace ValueRules
