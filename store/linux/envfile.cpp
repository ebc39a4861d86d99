#include "envfile.h"
#include "../ValueRules.h"

#include <algorithm>

namespace EnvFile {

namespace {

bool isNewline(char c)
{
    return c == '\n' || c == '\r';
}

bool isWhitespace(char c)
{
    return c == ' ' || c == '\t' || isNewline(c);
}

bool isNameChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

bool isNameStart(char c)
{
    return isNameChar(c) && !(c >= '0' && c <= '9');
}

QByteArray lineBreakOf(const QByteArray &contents)
{
    const qsizetype lf = contents.indexOf('\n');
    return lf > 0 && contents.at(lf - 1) == '\r' ? QByteArrayLiteral("\r\n") : QByteArrayLiteral("\n");
}

// UTF-8 as systemd takes it: shortest forms only, no surrogates, no noncharacters.
bool isStrictUtf8(const QByteArray &text)
{
    for (qsizetype i = 0; i < text.size();) {
        const auto lead = uchar(text.at(i));
        const int length = lead < 0x80                   ? 1
                           : lead >= 0xC2 && lead < 0xE0 ? 2
                           : lead >= 0xE0 && lead < 0xF0 ? 3
                           : lead >= 0xF0 && lead < 0xF5 ? 4
                                                         : 0;
        if (length == 0 || i + length > text.size())
            return false;
        char32_t c = length == 1 ? lead : lead & (0x7F >> length);
        for (int k = 1; k < length; ++k) {
            const auto next = uchar(text.at(i + k));
            if ((next & 0xC0) != 0x80)
                return false;
            c = (c << 6) | (next & 0x3F);
        }
        const char32_t shortest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (c < shortest[length] || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000) ||
            ValueRules::isNoncharacter(c))
            return false;
        i += length;
    }
    return true;
}

} // namespace

bool isValidName(const QByteArray &name)
{
    if (name.isEmpty() || !isNameStart(name.at(0)))
        return false;
    for (const char c : name) {
        if (!isNameChar(c))
            return false;
    }
    return true;
}

namespace {

enum State {
    PreKey,
    Key,
    PreValue,
    Value,
    ValueEscape,
    SingleQuoted,
    DoubleQuoted,
    DoubleQuotedEscape,
    Comment,
    CommentEscape
};

QList<Assignment> parse(const QByteArray &contents, State *finalState)
{
    QList<Assignment> result;
    State state = PreKey;
    Assignment current;
    qsizetype lineStart = 0;
    qsizetype keyTrailingSpace = -1;
    qsizetype valueTrailingSpace = -1;

    auto finish = [&](qsizetype at) {
        if (keyTrailingSpace >= 0)
            current.name.truncate(keyTrailingSpace);
        if (state == Value && valueTrailingSpace >= 0)
            current.value.truncate(valueTrailingSpace);
        current.end = at;
        current.next = at;
        if (at < contents.size()) {
            current.next = at + 1;
            if (contents.at(at) == '\r' && at + 1 < contents.size() && contents.at(at + 1) == '\n')
                current.next = at + 2;
        }
        result.append(current);
        current = Assignment();
        lineStart = at + 1;
    };
    auto append = [&](char c) {
        current.value.append(c);
        current.hasValue = true;
    };

    for (qsizetype i = 0; i < contents.size(); ++i) {
        const char c = contents.at(i);
        switch (state) {
        case PreKey:
            if (isNewline(c)) {
                lineStart = i + 1;
            } else if (c == '#' || c == ';') {
                state = Comment;
            } else if (!isWhitespace(c)) {
                state = Key;
                current = Assignment();
                current.begin = lineStart;
                current.name.append(c);
                keyTrailingSpace = -1;
            }
            break;
        case Key:
            if (isNewline(c)) {
                state = PreKey;
                lineStart = i + 1;
            } else if (c == '=') {
                state = PreValue;
                valueTrailingSpace = -1;
            } else {
                if (!isWhitespace(c))
                    keyTrailingSpace = -1;
                else if (keyTrailingSpace < 0)
                    keyTrailingSpace = current.name.size();
                current.name.append(c);
            }
            break;
        case PreValue:
            if (isNewline(c)) {
                finish(i);
                state = PreKey;
            } else if (c == '\'') {
                state = SingleQuoted;
            } else if (c == '"') {
                state = DoubleQuoted;
            } else if (c == '\\') {
                state = ValueEscape;
            } else if (!isWhitespace(c)) {
                state = Value;
                append(c);
            }
            break;
        case Value:
            if (isNewline(c)) {
                finish(i);
                state = PreKey;
            } else if (c == '\\') {
                state = ValueEscape;
                valueTrailingSpace = -1;
            } else {
                if (!isWhitespace(c))
                    valueTrailingSpace = -1;
                else if (valueTrailingSpace < 0)
                    valueTrailingSpace = current.value.size();
                append(c);
            }
            break;
        case ValueEscape:
            state = Value;
            if (!isNewline(c))
                append(c);
            break;
        case SingleQuoted:
            if (c == '\'')
                state = PreValue;
            else
                append(c);
            break;
        case DoubleQuoted:
            if (c == '"')
                state = PreValue;
            else if (c == '\\')
                state = DoubleQuotedEscape;
            else
                append(c);
            break;
        case DoubleQuotedEscape:
            state = DoubleQuoted;
            if (c == '"' || c == '\\' || c == '`' || c == '$') {
                append(c);
            } else if (c != '\n') {
                append('\\');
                append(c);
            }
            break;
        case Comment:
            if (c == '\\') {
                state = CommentEscape;
            } else if (isNewline(c)) {
                state = PreKey;
                lineStart = i + 1;
            }
            break;
        case CommentEscape:
            // systemd's parser continues a comment over an escaped line break, swallowing the next line.
            state = Comment;
            break;
        }
    }
    if (finalState)
        *finalState = state;
    if (state != PreKey && state != Key && state != Comment && state != CommentEscape)
        finish(contents.size());
    return result;
}

} // namespace

QList<Assignment> parse(const QByteArray &contents)
{
    return parse(contents, nullptr);
}

bool isValidUtf8(const QByteArray &text)
{
    return isStrictUtf8(text);
}

bool isLoginReadable(const QByteArray &contents)
{
    if (contents.contains('\0'))
        return false;
    for (const Assignment &assignment : parse(contents)) {
        if (assignment.hasValue && isValidName(assignment.name) && !isStrictUtf8(assignment.value))
            return false;
    }
    return true;
}

bool assignsNothing(const QByteArray &text)
{
    State end = PreKey;
    const QList<Assignment> assignments = parse(text, &end);
    return end == PreKey && std::none_of(assignments.cbegin(), assignments.cend(), [](const Assignment &a) {
               return a.hasValue && isValidName(a.name);
           });
}

QByteArray assignmentLine(const QByteArray &name, const QByteArray &value)
{
    // The generator drops an assignment with nothing after '=', so an empty value is spelled as an
    // expansion that is empty whether or not the variable is set.
    if (value.isEmpty())
        return name + "=\"${" + name + ":+}\"";

    QByteArray line = name + "=\"";
    for (qsizetype i = 0; i < value.size(); ++i) {
        const char c = value.at(i);
        if (c == '%') {
            qsizetype j = i + 1;
            if (j < value.size() && isNameStart(value.at(j))) {
                while (j < value.size() && isNameChar(value.at(j)))
                    ++j;
                if (j < value.size() && value.at(j) == '%') {
                    const QByteArray reference = value.mid(i + 1, j - i - 1);
                    line += "${" + reference + ":-%" + reference + "%}";
                    i = j;
                    continue;
                }
            }
            line += '%';
        } else if (c == '\\' || c == '"' || c == '`') {
            line += '\\';
            line += c;
        } else if (c == '$') {
            line += "$$";
        } else {
            line += c;
        }
    }
    line += '"';
    return line;
}

QByteArray setVariable(const QByteArray &contents, const QByteArray &name, const QByteArray &value)
{
    if (!isLoginReadable(contents))
        return QByteArray();
    const QByteArray line = assignmentLine(name, value);
    QByteArray result;
    qsizetype copied = 0;
    bool replaced = false;
    // Every assignment of the name gets the new value: a later stale one would win at login, and an
    // earlier one could be picked up by a reference in between.
    for (const Assignment &assignment : parse(contents)) {
        if (assignment.name != name)
            continue;
        result += contents.mid(copied, assignment.begin - copied);
        result += line;
        result += contents.mid(assignment.end, assignment.next - assignment.end);
        copied = assignment.next;
        replaced = true;
    }
    if (replaced)
        return result + contents.mid(copied);

    const QByteArray lineBreak = lineBreakOf(contents);
    result = contents;
    if (!result.isEmpty() && !isNewline(result.back()))
        result += lineBreak;
    // A comment or unquoted value whose last line break is escaped would take the appended line in;
    // one more line break ends it and changes nothing it says. An unclosed quote cannot be ended so.
    State end = PreKey;
    parse(result, &end);
    for (int i = 0; i < 2 && (end == Comment || end == CommentEscape || end == Value || end == ValueEscape);
         ++i) {
        result += lineBreak;
        parse(result, &end);
    }
    if (end != PreKey)
        return QByteArray();
    return result + line + lineBreak;
}

QByteArray expand(const QByteArray &text, const Lookup &lookup)
{
    // Follows the generator's expansion step by step, quirks included, so that the announced values
    // are the ones the next login computes.
    enum State { Word, Curly, Variable, VariableRaw, Test, DefaultValue, AlternateValue };
    State state = Word;
    QByteArray result;
    qsizetype word = 0;
    qsizetype testValue = 0;
    qsizetype nameLength = 0;
    int nest = 0;
    qsizetype e = 0;
    for (; e < text.size(); ++e) {
        const char c = text.at(e);
        switch (state) {
        case Word:
            if (c == '$')
                state = Curly;
            break;
        case Curly:
            if (c == '{') {
                result += text.mid(word, e - word - 1);
                word = e - 1;
                state = Variable;
                ++nest;
            } else if (c == '$') {
                result += text.mid(word, e - word);
                word = e + 1;
                state = Word;
            } else if (isNameChar(c)) {
                result += text.mid(word, e - word - 1);
                word = e - 1;
                state = VariableRaw;
            } else {
                state = Word;
            }
            break;
        case Variable:
            if (c == '}') {
                result += lookup(text.mid(word + 2, e - word - 2)).value_or(QByteArray());
                word = e + 1;
                state = Word;
                --nest;
            } else if (c == ':') {
                nameLength = e - word - 2;
                state = Test;
            }
            break;
        case Test:
            if (c == '-') {
                state = DefaultValue;
            } else if (c == '+') {
                state = AlternateValue;
            } else {
                state = Word;
                break;
            }
            testValue = e + 1;
            break;
        case DefaultValue:
        case AlternateValue:
            if (c == '{') {
                ++nest;
                break;
            }
            if (c != '}')
                break;
            --nest;
            if (nest == 0) {
                std::optional<QByteArray> found = lookup(text.mid(word + 2, nameLength));
                const QByteArray inner = text.mid(testValue, e - testValue);
                if (found && state == AlternateValue)
                    found = expand(inner, lookup);
                else if (!found && state == DefaultValue)
                    found = expand(inner, lookup);
                result += found.value_or(QByteArray());
                word = e + 1;
                state = Word;
            }
            break;
        case VariableRaw:
            if (!isNameChar(c)) {
                result += lookup(text.mid(word + 1, e - word - 1)).value_or(QByteArray());
                word = e;
                --e; // this character starts the next word
                state = Word;
            }
            break;
        }
    }
    if (state == VariableRaw)
        return result + lookup(text.mid(word + 1, e - word - 1)).value_or(QByteArray());
    return result + text.mid(word, e - word);
}

QByteArray loginValue(const QByteArray &expanded)
{
    QByteArray result;
    for (const char c : expanded) {
        const auto byte = uchar(c);
        const qsizetype named = QByteArray("\a\b\f\n\r\t\v").indexOf(c);
        if (named >= 0 && c != 0)
            result += '\\' + QByteArray(1, "abfnrtv"[named]);
        else if (byte < 0x20 || byte == 0x7F)
            result += '\\' + QByteArray::number(byte, 8).rightJustified(3, '0');
        else
            result += c;
    }
    return result;
}

} // namespace EnvFile
