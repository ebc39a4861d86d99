#include "loginenvironment.h"

#include "../safefile.h"
#include "envfile.h"
#include "machinepaths.h"

#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <sys/stat.h>

namespace LoginEnvironment {

namespace {

// The generator's folders, the one it prefers first: the user's own (when `withUserFolder`), then
// the machine's, each under TROX_INST_ENV_PREFIX.
QStringList folders(bool withUserFolder)
{
    QStringList result;
    if (withUserFolder)
        result << MachinePaths::userConfigHome() + QLatin1String("/environment.d");
    for (const char *folder : {"/etc/environment.d", "/run/environment.d", "/usr/local/lib/environment.d",
                               "/usr/lib/environment.d"})
        result << MachinePaths::machinePath(QLatin1String(folder));
    return result;
}

const char generatorPath[] =
    "/usr/lib/systemd/user-environment-generators/30-systemd-environment-d-generator";
// The generator's own bound for one file (systemd 252): a larger file is skipped.
const qint64 fileLimit = qint64(4) * 1024 * 1024 - 1;
// A generator that takes longer, or says more, is not the one this tool knows; its own reading is used.
const int generatorTimeoutMs = 2000;
const qint64 generatorOutputLimit = qint64(16) << 20;

struct Read
{
    EnvFile::Assignment assignment;
    bool perUser;
};

struct Reading
{
    QList<Read> assignments;
    bool refused = false; // a file was not read safely, so the generator is not let near it either
};

bool isConfName(const QByteArray &name)
{
    return !name.startsWith('.') && name.endsWith(".conf");
}

Reading readFiles(bool withUserFolder)
{
    // Sorted by name across the folders; the first folder to hold a name masks the others.
    QList<QPair<QByteArray, QPair<QString, bool>>> files;
    QSet<QByteArray> seen;
    const QStringList paths = folders(withUserFolder);
    for (qsizetype f = 0; f < paths.size(); ++f) {
        DIR *directory = opendir(QFile::encodeName(paths.at(f)).constData());
        if (!directory)
            continue;
        while (const dirent *entry = readdir(directory)) {
            const QByteArray name(entry->d_name);
            // What the generator takes for a file: a FIFO or a folder named *.conf is not one.
            if ((entry->d_type != DT_REG && entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN) ||
                !isConfName(name) || seen.contains(name))
                continue;
            seen.insert(name);
            files.append(
                {name, {paths.at(f) + QLatin1Char('/') + QFile::decodeName(name), withUserFolder && f == 0}});
        }
        closedir(directory);
    }
    std::sort(files.begin(), files.end(), [](const auto &a, const auto &b) { return a.first < b.first; });

    Reading reading;
    for (const auto &file : std::as_const(files)) {
        QByteArray contents;
        const quint32 error = SafeFile::read(file.second.first, contents, fileLimit);
        if (error) {
            reading.refused = reading.refused || (error != ENOENT && error != EISDIR);
            continue;
        }
        // A NUL byte makes the generator skip the file.
        if (contents.contains('\0'))
            continue;
        for (const EnvFile::Assignment &assignment : EnvFile::parse(contents)) {
            // The generator skips "NAME=" as if the line were not there.
            if (assignment.hasValue && EnvFile::isValidName(assignment.name))
                reading.assignments.append({assignment, file.second.second});
        }
    }
    return reading;
}

QList<Variable> expandAll(const QList<Read> &assignments,
                          const std::function<std::optional<QByteArray>(const QByteArray &)> &outside,
                          const std::function<bool(const QByteArray &)> &trusted)
{
    QHash<QByteArray, qsizetype> index;
    QList<Variable> result;
    bool untrusted = false;
    const EnvFile::Lookup lookup = [&](const QByteArray &name) -> std::optional<QByteArray> {
        const auto found = index.constFind(name);
        if (found != index.constEnd()) {
            const Variable &variable = result.at(*found);
            untrusted = untrusted || variable.untrusted || (trusted && !trusted(name));
            return variable.value;
        }
        // No login has a trusted variable before the files give it one.
        if (trusted && trusted(name))
            return std::nullopt;
        untrusted = true;
        return name.isEmpty() ? std::nullopt : outside(name);
    };
    for (const Read &read : assignments) {
        untrusted = trusted && !trusted(read.assignment.name);
        const QByteArray value = EnvFile::expand(read.assignment.value, lookup);
        // systemd 252's generator fails on a value that is not UTF-8: the login gets nothing at all.
        if (!EnvFile::isValidUtf8(value))
            return {};
        if (!index.contains(read.assignment.name)) {
            index.insert(read.assignment.name, result.size());
            result.append(Variable{read.assignment.name, {}, false, false});
        }
        Variable &variable = result[index.value(read.assignment.name)];
        variable.value = value;
        variable.perUser = read.perUser;
        variable.untrusted = untrusted;
    }
    // References see the values as expanded; what the login ends up with is what the generator prints.
    for (Variable &variable : result)
        variable.value = EnvFile::loginValue(variable.value);
    return result;
}

// The environment the user manager runs the generator in: this process's, but without the tool's
// variables, which no user manager has before it reads the files (a login shell may have inherited
// them from /etc/environment or an earlier session).
std::optional<QByteArray> processVariable(const QByteArray &name)
{
    if (isToolVariable(name) || !qEnvironmentVariableIsSet(name.constData()))
        return std::nullopt;
    return qgetenv(name.constData());
}

// The generator's output, read as the user manager reads it; nothing when it could not be run here
// within the bounds. A generator that fails gives the login nothing, and so gives an empty list.
std::optional<QList<QPair<QByteArray, QByteArray>>> generated()
{
    // Only a generator root installed and alone may change: it runs with the tool's rights.
    struct stat info;
    if (stat(generatorPath, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != 0 ||
        (info.st_mode & 022) || !(info.st_mode & 0100))
        return std::nullopt;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *tool : toolVariables)
        environment.remove(QString::fromLatin1(tool));
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(QString::fromLatin1(generatorPath), {});
    QElapsedTimer clock;
    clock.start();
    QByteArray output;
    bool within = process.waitForStarted(generatorTimeoutMs);
    while (within && process.state() != QProcess::NotRunning) {
        const qint64 left = generatorTimeoutMs - clock.elapsed();
        within = left > 0 && output.size() <= generatorOutputLimit;
        if (within)
            process.waitForReadyRead(int(left));
        output += process.readAllStandardOutput();
    }
    if (!within) {
        process.kill();
        process.waitForFinished(generatorTimeoutMs);
        return std::nullopt;
    }
    output += process.readAllStandardOutput();
    QList<QPair<QByteArray, QByteArray>> result;
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return result;
    // Unlike in a file, "NAME=" in the output sets NAME, to the empty value.
    for (const EnvFile::Assignment &assignment : EnvFile::parse(output)) {
        if (EnvFile::isValidName(assignment.name))
            result.append({assignment.name, assignment.value});
    }
    return result;
}

} // namespace

bool isToolVariable(const QByteArray &name)
{
    return std::any_of(std::cbegin(toolVariables), std::cend(toolVariables),
                       [&](const char *tool) { return name == tool; });
}

QList<Variable> compute(const std::function<std::optional<QByteArray>(const QByteArray &)> &outside,
                        const std::function<bool(const QByteArray &)> &trusted, bool withUserFolder)
{
    return expandAll(readFiles(withUserFolder).assignments, outside, trusted);
}

QList<Variable> login()
{
    const Reading reading = readFiles(true);
    QList<Variable> own = expandAll(reading.assignments, processVariable, {});
    // The generator reads the real folders only: under a prefix the tool's own reading is the one.
    if (!qEnvironmentVariableIsEmpty("TROX_INST_ENV_PREFIX") || reading.refused)
        return own;
    const auto output = generated();
    if (!output)
        return own;
    QList<Variable> result;
    for (const auto &entry : *output) {
        const auto mine =
            std::find_if(own.cbegin(), own.cend(), [&](const Variable &v) { return v.name == entry.first; });
        result.append(Variable{entry.first, entry.second, mine != own.cend() && mine->perUser, false});
    }
    return result;
}

} // namespace LoginEnvironment
