#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

// Read-modify-write of one file that never leaves it half written: under a lock only writers of the
// directory can take, the current contents are read, changed, written to a temporary file in the
// same directory, flushed to disk and renamed over the target. A symbolic link that root or the
// user the tool runs as owns is followed to the file it names, which is replaced where it lies; any
// other link, and anything but a regular file, is refused (see SafeOpen). An existing file keeps its
// group, permission bits, ACLs and extended attributes (and, when root writes, its owner); a new
// file gets 0644. Temporary files a killed writer left beside the target are removed.
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

struct Options
{
    Directories directories = Directories::MustExist;
    // Every directory on the way must belong to root or to the user the tool runs as: a file in a
    // home of its own, never in another user's (SafeOpen::ERROR_FOREIGN_DIRECTORY).
    bool ownDirectories = false;
    // The file is read by every user's login: one that would not be readable by all is made so.
    bool readableByAll = false;
};

// A change that returns a null array leaves the file as it is and fails the write with EBADMSG. A
// change that returns the file's bytes as they are writes nothing and takes no lock: the file keeps
// its inode and time, and succeeds in a directory no one may write to. `change` may be called twice.
Result edit(const QString &path, const Options &options,
            const std::function<QByteArray(const QByteArray &)> &change);

} // namespace AtomicFile
