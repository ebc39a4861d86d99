#include "profilefile.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace ProfileFile {

namespace {

const char utf8Bom[] = "\xEF\xBB\xBF";

struct Line
{
    qsizetype start;
    qsizetype end; // before the line break
    qsizetype next;
};

bool isAscii(const QByteArray &text)
{
    for (const char c : text) {
        if (uchar(c) >= 0x80)
            return false;
    }
    return true;
}

QByteArray setKeyInText(const QByteArray &contents, const QByteArray &section, const QByteArray &key,
                        const QByteArray &value);

// Windows' own writer keeps a file that starts with a UTF-16 byte order mark in UTF-16; the edit is
// made on the same text in UTF-8 and turned back, so every unchanged character keeps its bytes.
QByteArray setKeyInUtf16(const QByteArray &contents, QStringConverter::Encoding encoding,
                         const QByteArray &section, const QByteArray &key, const QByteArray &value)
{
    const auto flags = QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom;
    QStringDecoder decode(encoding, flags);
    const QString text = decode(contents.mid(2));
    if (contents.size() % 2 != 0 || decode.hasError() || !text.isValidUtf16())
        return QByteArray();
    const QByteArray edited = setKeyInText(text.toUtf8(), section, key, value);
    QStringEncoder encode(encoding, flags);
    return contents.left(2) + QByteArray(encode(QString::fromUtf8(edited)));
}

} // namespace

QByteArray setKey(const QByteArray &contents, const QByteArray &section, const QByteArray &key,
                  const QByteArray &value)
{
    if (contents.startsWith("\xFF\xFE"))
        return setKeyInUtf16(contents, QStringConverter::Utf16LE, section, key, value);
    if (contents.startsWith("\xFE\xFF"))
        return setKeyInUtf16(contents, QStringConverter::Utf16BE, section, key, value);
    // Text that is not ASCII goes in as UTF-8, which must not be mixed into a file in another encoding.
    if (!isAscii(section + key + value)) {
        QStringDecoder decode(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
        const QString text = decode(contents);
        if (decode.hasError())
            return QByteArray();
    }
    return setKeyInText(contents, section, key, value);
}

namespace {

// Where a key is, or where setKey() would add it.
struct Place
{
    bool sectionFound = false;
    qsizetype insertAt = -1;   // after the section's last non-blank line
    qsizetype valueStart = -1; // after the key's '=', when the key was found
    qsizetype valueEnd = -1;   // before the line break
};

Place locate(const QByteArray &contents, const QByteArray &wantedSection, const QByteArray &wantedKey)
{
    Place place;
    const qsizetype bom = contents.startsWith(utf8Bom) ? 3 : 0;
    for (qsizetype start = bom; start < contents.size();) {
        Line line{start, contents.indexOf('\n', start), 0};
        if (line.end < 0)
            line.end = contents.size();
        line.next = line.end < contents.size() ? line.end + 1 : line.end;
        if (line.end > line.start && contents.at(line.end - 1) == '\r')
            --line.end;
        start = line.next;

        const QByteArray text = contents.mid(line.start, line.end - line.start);
        const QByteArray trimmed = text.trimmed();
        const qsizetype close = trimmed.indexOf(']');
        if (trimmed.startsWith('[') && close > 0) {
            if (place.sectionFound)
                break;
            if (trimmed.mid(1, close - 1).trimmed().compare(wantedSection, Qt::CaseInsensitive) == 0) {
                place.sectionFound = true;
                place.insertAt = line.next;
            }
            continue;
        }
        if (!place.sectionFound || trimmed.isEmpty())
            continue;
        place.insertAt = line.next;
        const qsizetype equals = text.indexOf('=');
        if (equals >= 0 && text.left(equals).trimmed().compare(wantedKey, Qt::CaseInsensitive) == 0) {
            place.valueStart = line.start + equals + 1;
            place.valueEnd = line.end;
            break;
        }
    }
    return place;
}

QByteArray setKeyInText(const QByteArray &contents, const QByteArray &section, const QByteArray &key,
                        const QByteArray &value)
{
    const QByteArray wantedSection = section.trimmed();
    const QByteArray wantedKey = key.trimmed();
    const qsizetype bom = contents.startsWith(utf8Bom) ? 3 : 0;
    const qsizetype firstLf = contents.indexOf('\n');
    const QByteArray lineBreak =
        firstLf > 0 && contents.at(firstLf - 1) == '\r' ? QByteArrayLiteral("\r\n") : QByteArrayLiteral("\n");

    const Place place = locate(contents, wantedSection, wantedKey);
    if (place.valueStart >= 0)
        return contents.left(place.valueStart) + value + contents.mid(place.valueEnd);
    const qsizetype insertAt = place.insertAt;

    const QByteArray entry = wantedKey + '=' + value + lineBreak;
    const bool endsOpen = contents.size() > bom && contents.back() != '\n';
    if (place.sectionFound) {
        const QByteArray separator = insertAt == contents.size() && endsOpen ? lineBreak : QByteArray();
        return contents.left(insertAt) + separator + entry + contents.mid(insertAt);
    }
    return contents + (endsOpen ? lineBreak : QByteArray()) + '[' + wantedSection + ']' + lineBreak + entry;
}

} // namespace

QByteArray value(const QByteArray &contents, const QByteArray &section, const QByteArray &key)
{
    QByteArray text = contents;
    // A UTF-16 file is read as the same text in UTF-8, as setKey() edits it.
    if (contents.startsWith("\xFF\xFE") || contents.startsWith("\xFE\xFF")) {
        QStringDecoder decode(contents.startsWith("\xFF\xFE") ? QStringConverter::Utf16LE
                                                              : QStringConverter::Utf16BE,
                              QStringConverter::Flag::Stateless);
        text = QString(decode(contents.mid(2))).toUtf8();
        if (decode.hasError())
            return QByteArray();
    }
    const Place place = locate(text, section.trimmed(), key.trimmed());
    if (place.valueStart < 0)
        return QByteArray();
    const QByteArray found = text.mid(place.valueStart, place.valueEnd - place.valueStart).trimmed();
    return found.isNull() ? QByteArrayLiteral("") : found;
}

} // namespace ProfileFile
