#include "envfile.h"

#include <cstdlib>

// Input: value, NUL, file contents. After setVariable the file must give the variable exactly that
// value the way the login reads it, and every other assignment keeps its value.
extern "C" int LLVMFuzzerTestOneInput(const char *data, size_t size)
{
    const QByteArray input(data, qsizetype(size));
    const qsizetype split = input.indexOf('\0');
    const QByteArray value = split < 0 ? QByteArray() : input.left(split);
    const QByteArray contents = input.mid(split + 1);
    if (value.contains('\r') || value.contains('\n'))
        return 0; // refused before the file is touched
    const QByteArray name("OV_ROOT");
    const EnvFile::Lookup unset = [](const QByteArray &) {
        return std::optional<QByteArray>();
    };

    QList<QPair<QByteArray, QByteArray>> others;
    for (const EnvFile::Assignment &a : EnvFile::parse(contents)) {
        if (a.begin > a.end || a.end > a.next || a.next > contents.size())
            std::abort();
        if (a.name != name)
            others.append({a.name, a.value});
    }
    const QByteArray after = EnvFile::setVariable(contents, name, value);
    if (after.isNull())
        return 0; // the file ends inside an unfinished value and is left alone
    QByteArray last = "<unset>";
    QList<QPair<QByteArray, QByteArray>> othersAfter;
    for (const EnvFile::Assignment &a : EnvFile::parse(after)) {
        if (a.name == name)
            last = EnvFile::expand(a.value, unset);
        else
            othersAfter.append({a.name, a.value});
    }
    if (last != value || othersAfter != others)
        std::abort();
    return 0;
}
