#include "etcenvironment.h"
#include "envfile.h"

#include <algorithm>
#include <cctype>

namespace EtcEnvironment {

namespace {

// pam_env's line buffer: fgets() gets one byte less, the line break included.
const qsizetype bufferSize = 8192;

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n';
}

QByteArray managedPrefix(const QByteArray &name)
{
    return "export " + name + '=';
}

bool isManaged(const QByteArray &line, const QByteArray &name)
{
    qsizetype i = 0;
    while (i < line.size() && isBlank(line.at(i)))
        ++i;
    return line.mid(i).startsWith(managedPrefix(name));
}

} // namespace

QList<Line> read(const QByteArray &contents)
{
    QList<Line> result;
    qsizetype at = 0;
    while (at < contents.size()) {
        // One logical line: physical lines joined at a trailing backslash, blank and comment lines
        // skipped, everything from a '#' on dropped.
        QByteArray buffer;
        bool complete = false;
        while (!complete && at < contents.size()) {
            qsizetype end = contents.indexOf('\n', at);
            end = end < 0 ? contents.size() : end + 1;
            QByteArray physical = contents.mid(at, end - at);
            at = end;
            if (buffer.size() + physical.size() >= bufferSize || physical.startsWith('\0'))
                return result; // pam_env stops reading the file there
            const qsizetype nul = physical.indexOf('\0');
            if (nul >= 0)
                return result; // the line looks cut short: read as too long
            qsizetype s = 0;
            while (s < physical.size() && isBlank(physical.at(s)))
                ++s;
            if (s == physical.size() || physical.at(s) == '#')
                continue;
            const qsizetype hash = physical.indexOf('#', s);
            if (hash >= 0) {
                buffer += physical.left(hash);
                complete = true;
                continue;
            }
            qsizetype last = physical.size() - 1;
            while (last > s && isBlank(physical.at(last)))
                --last;
            if (physical.at(last) == '\\') {
                buffer += physical.left(last);
            } else {
                buffer += physical;
                complete = true;
            }
        }
        qsizetype k = 0;
        while (k < buffer.size() && isBlank(buffer.at(k)))
            ++k;
        QByteArray key = buffer.mid(k);
        if (key.isEmpty() || key.startsWith('#'))
            continue;
        const bool exported = key.startsWith("export ");
        if (exported)
            key = key.mid(7);
        const qsizetype stop = key.indexOf('\n');
        if (stop >= 0)
            key.truncate(stop);
        if (key.startsWith('='))
            continue;
        qsizetype i = 0;
        while (i < key.size() && key.at(i) != '=' && (std::isalnum(uchar(key.at(i))) || key.at(i) == '_'))
            ++i;
        if (i < key.size() && key.at(i) != '=')
            continue;
        Line line;
        line.name = key.left(i);
        line.managed = exported;
        if (i < key.size()) {
            QByteArray value = key.mid(i + 1);
            // Opening quote dropped, and a quote only where it is the last character.
            if (value.startsWith('"') || value.startsWith('\'')) {
                QByteArray unquoted;
                for (qsizetype t = 1; t < value.size(); ++t) {
                    const char c = value.at(t);
                    if ((c != '"' && c != '\'') || t + 1 < value.size())
                        unquoted += c;
                }
                value = unquoted;
            }
            line.value = value;
        }
        result.append(line);
    }
    return result;
}

QByteArray managedLine(const QByteArray &name, const QByteArray &value)
{
    if (!EnvFile::isValidName(name))
        return QByteArray();
    const QByteArray line = managedPrefix(name) + '"' + value + '"';
    const QList<Line> pam = read(line + '\n');
    if (pam.size() != 1 || pam.constFirst().name != name || pam.constFirst().value != value)
        return QByteArray();
    if (!EnvFile::assignsNothing(line + '\n'))
        return QByteArray();
    return line;
}

QByteArray setManaged(const QByteArray &contents, const QList<QByteArray> &names,
                      const QList<QByteArray> &lines)
{
    QByteArray kept;
    for (qsizetype at = 0; at < contents.size();) {
        qsizetype end = contents.indexOf('\n', at);
        end = end < 0 ? contents.size() : end + 1;
        const QByteArray physical = contents.mid(at, end - at);
        at = end;
        if (std::none_of(names.cbegin(), names.cend(),
                         [&](const QByteArray &n) { return isManaged(physical, n); }))
            kept += physical;
    }
    QByteArray result;
    for (const QByteArray &line : lines)
        result += line + '\n';
    return result + kept;
}

} // namespace EtcEnvironment
