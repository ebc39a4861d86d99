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

QByteArray setKeyInText(const QByteArray &contents, const QByteArray &section, const QByteArray &key,
                        const QByteArray &value)
{
    const QByteArray wantedSection = section.trimmed();
    const QByteArray wantedKey = key.trimmed();
    const qsizetype bom = contents.startsWith(utf8Bom) ? 3 : 0;
    const qsizetype firstLf = contents.indexOf('\n');
    const QByteArray lineBreak =
        firstLf > 0 && contents.at(firstLf - 1) == '\r' ? QByteArrayLiteral("\r\n") : QByteArrayLiteral("\n");

    enum { Before, Inside, After } place = Before;
    qsizetype insertAt = -1;
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
            if (place == Inside)
                break;
            if (place == Before &&
                trimmed.mid(1, close - 1).trimmed().compare(wantedSection, Qt::CaseInsensitive) == 0) {
                place = Inside;
                insertAt = line.next;
            }
            continue;
        }
        if (place != Inside || trimmed.isEmpty())
            continue;
        insertAt = line.next;
        const qsizetype equals = text.indexOf('=');
        if (equals >= 0 && text.left(equals).trimmed().compare(wantedKey, Qt::CaseInsensitive) == 0)
            return contents.left(line.start + equals + 1) + value + contents.mid(line.end);
    }

    const QByteArray entry = wantedKey + '=' + value + lineBreak;
    const bool endsOpen = contents.size() > bom && contents.back() != '\n';
    if (place == Inside) {
        const QByteArray separator = insertAt == contents.size() && endsOpen ? lineBreak : QByteArray();
        return contents.left(insertAt) + separator + entry + contents.mid(insertAt);
    }
    return contents + (endsOpen ? lineBreak : QByteArray()) + '[' + wantedSection + ']' + lineBreak + entry;
}

} // namespace

} // namespace ProfileFile
