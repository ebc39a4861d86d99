#include "benchtree.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace BenchTree {

namespace {

bool makeDirectory(const QByteArray &path)
{
    return ::mkdir(path.constData(), 0755) == 0 || errno == EEXIST;
}

bool writeAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0)
            return false;
        done += put;
    }
    return true;
}

} // namespace

QString makeSystemsRoot(const QString &parent, int count)
{
    const QString root = parent + QStringLiteral("/systems-%1").arg(count);
    QDir().mkpath(root);
    const QByteArray base = QFile::encodeName(root) + '/';
    // Plain mkdir: 150 000 directories through QDir would make the set-up longer than the runs.
    for (int i = 0; i < count; ++i) {
        const QByteArray name =
            (i % 3 == 0 ? QByteArrayLiteral("Plant-") : QByteArrayLiteral("plant-")) + QByteArray::number(i);
        const QByteArray system = base + name;
        if (!makeDirectory(system))
            return QString();
        if (i % 2 == 0 && !makeDirectory(system + "/config"))
            return QString();
    }
    return root;
}

QString makeWorkstationList(const QString &parent, int count)
{
    const QString system = parent + QStringLiteral("/workstations-%1").arg(count);
    QDir().mkpath(system + QStringLiteral("/config"));
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<workstations>\n"
                     "  <!-- generated for the benchmarks -->\n";
    xml.reserve(xml.size() + qsizetype(count) * 96);
    for (int i = 1; i <= count; ++i) {
        xml += "  <workstation id=\"" + QByteArray::number(i) + "\" name=\"Control room " +
               QByteArray::number(i % 97) + " desk " + QByteArray::number(i) +
               "\" location=\"Hall B\"><display screens=\"2\"/></workstation>\n";
    }
    xml += "</workstations>\n";
    QFile file(system + QStringLiteral("/config/workstations.xml"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(xml) != xml.size())
        return QString();
    return system;
}

QList<FileImage> filesBelow(const QString &directory)
{
    QList<FileImage> files;
    QDirIterator it(directory, QDir::Files | QDir::Hidden | QDir::NoSymLinks, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString name = it.fileName();
        if (name.endsWith(QLatin1String(".lock")) || name.startsWith(QLatin1Char('.')))
            continue;
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            files.append({path, file.readAll()});
    }
    return files;
}

bool replaceDurably(const FileImage &file)
{
    const QByteArray target = QFile::encodeName(file.path);
    const QByteArray temporary = target + ".new";
    const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool written = writeAll(fd, file.contents) && ::fsync(fd) == 0;
    if (::close(fd) != 0 || !written)
        return false;
    if (::rename(temporary.constData(), target.constData()) != 0)
        return false;
    const int directory = ::open(QFile::encodeName(QFileInfo(file.path).path()).constData(),
                                 O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory < 0)
        return false;
    const bool synced = ::fsync(directory) == 0;
    return ::close(directory) == 0 && synced;
}

} // namespace BenchTree
