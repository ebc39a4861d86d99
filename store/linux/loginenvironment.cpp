#include "loginenvironment.h"

#include "../safefile.h"
#include "envfile.h"
#include "machinepaths.h"

#include <QHash>
#include <QSet>

namespace LoginEnvironment {

QList<Variable> compute(const std::function<std::optional<QByteArray>(const QByteArray &)> &outside,
                        const std::function<bool(const QByteArray &)> &trusted)
{
    struct Read
    {
        EnvFile::Assignment assignment;
        bool perUser;
    };
    QList<Read> assignments;
    const QString files[] = {MachinePaths::machinePath(QLatin1String(MachinePaths::machineEnvironmentFile)),
                             MachinePaths::userConfigHome() + QLatin1Char('/') +
                                 QLatin1String(MachinePaths::userEnvironmentFile)};
    for (const QString &path : files) {
        QByteArray contents;
        if (SafeFile::read(path, contents) != 0)
            continue;
        for (const EnvFile::Assignment &assignment : EnvFile::parse(contents)) {
            // The generator skips "NAME=" as if the line were not there.
            if (assignment.hasValue && EnvFile::isValidName(assignment.name))
                assignments.append({assignment, &path == &files[1]});
        }
    }

    // The user manager that runs the generator never had the files' own variables before it.
    QSet<QByteArray> defined;
    for (const Read &read : std::as_const(assignments))
        defined.insert(read.assignment.name);

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
        // A variable of the files not assigned yet is empty for certain, as the manager starts without it.
        if (name.isEmpty() || defined.contains(name))
            return std::nullopt;
        untrusted = true;
        return outside(name);
    };
    for (const Read &read : std::as_const(assignments)) {
        untrusted = trusted && !trusted(read.assignment.name);
        const QByteArray value = EnvFile::expand(read.assignment.value, lookup);
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

} // namespace LoginEnvironment
