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

} // namespace ValueRules
