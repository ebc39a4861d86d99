#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

// Read-modify-write of one file that never leaves it half written: under a lock on its directory,
// the current contents are read, changed, written to a temporary file in the same directory,
// flushed to disk and renamed over the target. A symbolic link is followed to the file it names,
// which is replaced where it lies; an existing file keeps its permission bits (and, when root
// writes, its owner); a new file gets 0644.
namespace AtomicFile {

enum class Step {
    None,
    Open, // making directories, the temporary file, taking the lock, reading the file
    Write // writing, flushing and renaming
};

struct Result
{
    int error = 0; // errno of the failing step
    Step failedStep = Step::None;
};

enum class Directories { MustExist, Create };

// A change that returns a null array leaves the file as it is and fails the write with EBADMSG.

Result edit(const QString &path, Directories directories,
            const std::function<QByteArray(const QByteArray &)> &change);

} // namespace AtomicFile
