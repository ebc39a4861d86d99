#include "profilefile.h"

namespace ProfileFile {

namespace {

const char utf8Bom[] = "\xEF\xBB\xBF";

struct Line
{
    qsizetype start;
    qsizetype end; // before the line break
    qsizetype next;
};

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

} // namespace

QByteArray value(const QByteArray &contents, const QByteArray &section, const QByteArray &key)
{
    const Place place = locate(contents, section.trimmed(), key.trimmed());
    if (place.valueStart < 0)
        return QByteArray();
    const QByteArray found = contents.mid(place.valueStart, place.valueEnd - place.valueStart).trimmed();
    return found.isNull() ? QByteArrayLiteral("") : found;
}

QByteArray setKey(const QByteArray &contents, const QByteArray &section, const QByteArray &key,
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

} // namespace ProfileFile
