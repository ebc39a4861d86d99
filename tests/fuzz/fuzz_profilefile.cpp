#include "profilefile.h"

#include <QList>
#include <QString>

#include <cstdlib>

namespace {

// What a reader of the file finds: the raw text after '=' of the first matching key of the first
// matching section, both compared case-insensitively after trimming.
QByteArray lookUp(const QByteArray &contents, const QByteArray &section, const QByteArray &key)
{
    bool inside = false, seen = false;
    const QByteArray body = contents.startsWith("\xEF\xBB\xBF") ? contents.mid(3) : contents;
    for (QByteArray line : body.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        const QByteArray trimmed = line.trimmed();
        const qsizetype close = trimmed.indexOf(']');
        if (trimmed.startsWith('[') && close > 0) {
            if (inside)
                break;
            inside = !seen && trimmed.mid(1, close - 1).trimmed().compare(section, Qt::CaseInsensitive) == 0;
            seen = seen || inside;
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (inside && equals >= 0 && line.left(equals).trimmed().compare(key, Qt::CaseInsensitive) == 0)
            return line.mid(equals + 1);
    }
    return "<missing>";
}

} // namespace

// Input: section, NUL, key, NUL, value, NUL, file contents, with the texts writeProfileString refuses
// skipped. The key must read back as the value, and the file gain at most a section and a key line.
extern "C" int LLVMFuzzerTestOneInput(const char *data, size_t size)
{
    const QList<QByteArray> parts = QByteArray(data, qsizetype(size)).split('\0');
    if (parts.size() < 4)
        return 0;
    const QByteArray &section = parts.at(0), &key = parts.at(1), &value = parts.at(2);
    QByteArray contents = parts.at(3);
    for (qsizetype i = 4; i < parts.size(); ++i)
        contents += '\0' + parts.at(i);
    // The store hands over text it holds as QString: valid UTF-8, never a line break.
    for (const QByteArray &text : {section, key, value}) {
        if (text.contains('\r') || text.contains('\n') || QString::fromUtf8(text).toUtf8() != text)
            return 0;
    }
    if (section.trimmed().isEmpty() || section.contains(']') || key.trimmed().isEmpty() ||
        key.contains('=') || key.trimmed().startsWith('['))
        return 0;

    const QByteArray after = ProfileFile::setKey(contents, section, key, value);
    // Text the file's encoding cannot hold is refused and the file left as it is.
    if (after.isNull())
        return 0;
    if (contents.startsWith("\xFF\xFE") || contents.startsWith("\xFE\xFF")) {
        if (ProfileFile::value(after, section, key) != value.trimmed())
            std::abort();
        return 0;
    }
    if (lookUp(after, section.trimmed(), key.trimmed()) != value)
        std::abort();
    const qsizetype added = after.count('\n') - contents.count('\n');
    if (added < 0 || added > 3 || !after.startsWith(contents.left(contents.indexOf('\n') + 1)))
        std::abort();
    return 0;
}
