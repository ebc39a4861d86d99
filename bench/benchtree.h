#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Inputs the benchmarks generate for themselves in a scratch directory; nothing here is committed.
namespace BenchTree {

// A root of `count` directories with mixed-case names; every second one holds a `config`
// sub-directory and so counts as a system. Returns the root.
QString makeSystemsRoot(const QString &parent, int count);

// A system directory whose config/workstations.xml lists `count` workstations. Returns the
// system directory.
QString makeWorkstationList(const QString &parent, int count);

struct FileImage
{
    QString path;
    QByteArray contents;
};

// Every regular file below `directory`, lock and temporary files left out.
QList<FileImage> filesBelow(const QString &directory);

// Replaces a file the plain way a careful program does: a temporary file beside it, written,
// fsync'ed, renamed over the target, and the directory fsync'ed so that the rename lasts.
// False on any failure.
bool replaceDurably(const FileImage &file);

} // namespace BenchTree
