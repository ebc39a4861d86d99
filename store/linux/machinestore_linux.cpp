#include "../machinestore.h"
#include "../safefile.h"
#include "../storelog.h"
#include "../ValueRules.h"
#include "atomicfile.h"
#include "envfile.h"
#include "etcenvironment.h"
#include "loginenvironment.h"
#include "machinepaths.h"
#include "profilefile.h"
#include "safeopen.h"
#include "sessionannouncer.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <climits>

namespace {

const int announcementTimeoutMs = 2000;

bool isVariableName(const QString &name)
{
    // Anything outside Latin-1 becomes '?', which no name may hold.
    return EnvFile::isValidName(name.toLatin1());
}

// NUL, CR and LF would end the line early and let the rest be read as another variable or key.
bool breaksLine(const QString &text)
{
    return text.contains(QChar(0)) || text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n'));
}

QString refusedVariable(const QString &name, const QString &value)
{
    if (!isVariableName(name))
        return QStringLiteral(
            "the name is not letters, digits and underscores starting with a letter or underscore");
    return ValueRules::refusal(value);
}

void logRefused(const char *what, const QString &name, const QString &reason)
{
    qCDebug(storeLog).nospace() << "Refused to write the " << what << ' ' << name << ": "
                                << qPrintable(reason) << '.';
}

// The environment.d file standing for a registry key; empty for a key that does not exist here.
QString environmentFile(quint32 root, const QString &subKey)
{
    if (root == Registry::machineRoot &&
        subKey.compare(QLatin1String(Registry::machineEnvironmentKey), Qt::CaseInsensitive) == 0)
        return MachinePaths::machinePath(QLatin1String(MachinePaths::machineEnvironmentFile));
    if (root == Registry::userRoot &&
        subKey.compare(QLatin1String(Registry::userEnvironmentKey), Qt::CaseInsensitive) == 0)
        return MachinePaths::userConfigHome() + QLatin1Char('/') +
               QLatin1String(MachinePaths::userEnvironmentFile);
    return QString();
}

void logFailure(const QString &subKey, const QString &path, const QString &name, quint32 code)
{
    const QByteArray error = describeStoreError(code).toUtf8();
    if (path.isEmpty())
        qCDebug(storeLog, "No environment file stands for the key '%s': %s (error 0x%X).",
                subKey.toUtf8().constData(), error.constData(), code);
    else if (name.isEmpty())
        qCDebug(storeLog, "Could not open the environment file '%s': %s (error 0x%X).",
                QFile::encodeName(path).constData(), error.constData(), code);
    else
        qCDebug(storeLog, "Could not set the variable '%s' in the environment file '%s': %s (error 0x%X).",
                name.toLatin1().constData(), QFile::encodeName(path).constData(), error.constData(), code);
}

} // namespace

namespace {

// Sets several values of one key with a single replacement of its file. A failure is logged for
// each value, as separate writes would have been.
// `differs`, when given, gets for each value whether it changed what the file holds.
quint32 setRegistryValues(quint32 root, const QString &subKey, const QList<QPair<QString, QString>> &values,
                          QList<bool> *differs = nullptr)
{
    const QString path = environmentFile(root, subKey);
    quint32 error = path.isEmpty() ? ENOENT : 0;
    AtomicFile::Options options;
    options.directories = AtomicFile::Directories::Create;
    // No login reads a machine file only its owner can read. A per-user file goes only into a home
    // of the user the tool runs as: root with another user's HOME would hand that user a file of
    // root's, and without HOME it would land in the root directory.
    options.readableByAll = root == Registry::machineRoot;
    options.ownDirectories = root == Registry::userRoot;
    const QString home = qEnvironmentVariable("HOME");
    if (!error && options.ownDirectories &&
        (!QDir::isAbsolutePath(home) || QDir::cleanPath(home) == QLatin1String("/")))
        error = SafeOpen::ERROR_FOREIGN_DIRECTORY;
    AtomicFile::Step step = AtomicFile::Step::Open;
    bool unreadable = false;
    if (!error) {
        const AtomicFile::Result result = AtomicFile::edit(path, options, [&](const QByteArray &contents) {
            QByteArray changed = contents;
            if (differs)
                differs->clear();
            for (const auto &[name, value] : values) {
                const QByteArray next = EnvFile::setVariable(changed, name.toLatin1(), value.toUtf8());
                if (differs)
                    differs->append(next != changed);
                changed = next;
                if (changed.isNull())
                    break;
            }
            unreadable = !EnvFile::isLoginReadable(contents);
            return changed;
        });
        error = unreadable ? quint32(EILSEQ) : quint32(result.error);
        step = result.failedStep;
    }
    if (!error)
        return 0;
    for (const auto &entry : values)
        logFailure(subKey, path, step == AtomicFile::Step::Write ? entry.first : QString(), error);
    return error;
}

// pam_env gives sessions that read no environment.d file (cron, "ssh host COMMAND", a zsh or fish
// login) /etc/environment: the tool's lines there carry what the machine's environment.d files give
// its variables, which a value built on another variable, or one pam_env cannot read back, cannot be.
quint32 keepEtcEnvironmentInStep()
{
    const QList<LoginEnvironment::Variable> machine = LoginEnvironment::compute(
        [](const QByteArray &) { return std::nullopt; }, LoginEnvironment::isToolVariable, false);
    QList<QByteArray> names;
    QList<QByteArray> lines;
    for (const char *tool : LoginEnvironment::toolVariables) {
        names.append(tool);
        const auto found = std::find_if(machine.cbegin(), machine.cend(),
                                        [&](const LoginEnvironment::Variable &v) { return v.name == tool; });
        if (found == machine.cend())
            continue;
        const QByteArray line =
            found->untrusted ? QByteArray() : EtcEnvironment::managedLine(tool, found->value);
        if (line.isNull())
            qCDebug(storeLog, "%s is left out of %s: its value %s.", tool, EtcEnvironment::path,
                    found->untrusted ? "refers to a variable that is not the tool's own"
                                     : "holds a '#' or is too long for pam_env to read back");
        else
            lines.append(line);
    }
    const QString path = MachinePaths::machinePath(QLatin1String(EtcEnvironment::path));
    if (lines.isEmpty() && !QFile::exists(path))
        return 0;
    AtomicFile::Options options;
    options.readableByAll = true;
    const AtomicFile::Result result = AtomicFile::edit(path, options, [&](const QByteArray &contents) {
        return EtcEnvironment::setManaged(contents, names, lines);
    });
    if (result.error)
        logFailure(QString(), path, QString(), quint32(result.error));
    return quint32(result.error);
}

} // namespace

quint32 setRegistryValue(quint32 root, const QString &subKey, const QString &valueName, const QString &value)
{
    const QString refusal = refusedVariable(valueName, value);
    if (!refusal.isEmpty()) {
        logRefused("variable", valueName, refusal);
        return ERROR_REFUSED_INPUT;
    }
    return setRegistryValues(root, subKey, {{valueName, value}});
}

VariableWrite setEnvironmentVariable(const QString &name, const QString &value)
{
    return setEnvironmentVariables({{name, value}}).constFirst();
}

QList<VariableWrite> setEnvironmentVariables(const QList<QPair<QString, QString>> &assignments)
{
    QList<VariableWrite> writes(assignments.size());
    QList<QPair<QString, QString>> valid;
    QList<qsizetype> validIndex;
    for (qsizetype i = 0; i < assignments.size(); ++i) {
        const QString refusal = refusedVariable(assignments.at(i).first, assignments.at(i).second);
        if (refusal.isEmpty()) {
            valid.append(assignments.at(i));
            validIndex.append(i);
            continue;
        }
        // The per-user file would take the same bytes, so it is not tried either.
        logRefused("variable", assignments.at(i).first, refusal);
        writes[i].machineError = ERROR_REFUSED_INPUT;
        writes[i].userError = ERROR_REFUSED_INPUT;
    }
    if (valid.isEmpty())
        return writes;

    QList<bool> differs;
    const quint32 machineError = setRegistryValues(
        Registry::machineRoot, QLatin1String(Registry::machineEnvironmentKey), valid, &differs);
    const quint32 sessionCopyError = machineError == 0 ? keepEtcEnvironmentInStep() : 0;
    // A lock held past the wait is another writer at work, not a reason to land elsewhere.
    const quint32 userError =
        machineError == 0 || machineError == SafeOpen::ERROR_LOCK_HELD
            ? 0
            : setRegistryValues(Registry::userRoot, QLatin1String(Registry::userEnvironmentKey), valid,
                                &differs);
    for (qsizetype k = 0; k < validIndex.size(); ++k) {
        VariableWrite &write = writes[validIndex.at(k)];
        write.machineError = machineError;
        write.userError = userError;
        write.where = machineError == 0 ? VariableWrite::MachineWide
                      : userError == 0  ? VariableWrite::PerUser
                                        : VariableWrite::Nowhere;
        write.changed = write.written() && differs.value(k, true);
        write.sessionCopyError = sessionCopyError;
        if (sessionCopyError)
            write.sessionCopy = MachinePaths::machinePath(QLatin1String(EtcEnvironment::path));
    }
    return writes;
}

quint32 writeProfileString(const QString &section, const QString &key, const QString &value,
                           const QString &fileName)
{
    QString refusal;
    if (breaksLine(section) || breaksLine(key) || breaksLine(value) || breaksLine(fileName))
        refusal = QStringLiteral("a line break or a NUL character in the section, key, value or file name");
    else if (!(section + key + value).isValidUtf16())
        refusal = QStringLiteral("half of a UTF-16 surrogate pair, which no UTF-8 file can hold");
    else if (section.trimmed().isEmpty() || section.contains(QLatin1Char(']')))
        refusal = QStringLiteral("the section is empty or contains ']'");
    else if (key.trimmed().isEmpty() || key.contains(QLatin1Char('=')) ||
             key.trimmed().startsWith(QLatin1Char('[')))
        refusal = QStringLiteral("the key is empty, contains '=' or starts with '['");
    if (!refusal.isEmpty()) {
        logRefused("profile key", key, refusal);
        return ERROR_REFUSED_INPUT;
    }
    if (fileName.isEmpty())
        return ENOENT;

    const bool bare = !fileName.contains(QLatin1Char('/'));
    const QString path = profilePath(fileName);
    const QByteArray sectionBytes = section.toUtf8();
    const QByteArray keyBytes = key.toUtf8();
    const QByteArray valueBytes = value.toUtf8();
    bool mixed = false;
    AtomicFile::Result result =
        AtomicFile::edit(path, {bare ? AtomicFile::Directories::Create : AtomicFile::Directories::MustExist},
                         [&](const QByteArray &contents) {
                             const QByteArray changed =
                                 ProfileFile::setKey(contents, sectionBytes, keyBytes, valueBytes);
                             mixed = changed.isNull();
                             return changed;
                         });
    if (mixed)
        result.error = EILSEQ;
    if (result.error) {
        qCDebug(storeLog,
                "Could not write the key '%s' of the section '%s' in the profile file '%s' (error 0x%X).",
                keyBytes.constData(), sectionBytes.constData(), QFile::encodeName(path).constData(),
                quint32(result.error));
    }
    return quint32(result.error);
}

QList<StoredVariable> loadStoredVariables(const QStringList &names)
{
    // The environment the login starts from is taken to be this process's.
    const QList<LoginEnvironment::Variable> login = LoginEnvironment::login();
    QByteArray etc;
    SafeFile::read(MachinePaths::machinePath(QLatin1String(EtcEnvironment::path)), etc);
    const QList<EtcEnvironment::Line> etcLines = EtcEnvironment::read(etc);

    QList<StoredVariable> result;
    for (const QString &name : names) {
        StoredVariable stored;
        const QByteArray key = name.toUtf8();
        const auto found = std::find_if(login.cbegin(), login.cend(),
                                        [&](const LoginEnvironment::Variable &v) { return v.name == key; });
        if (found != login.cend()) {
            stored.value = QString::fromUtf8(found->value);
            stored.source = found->perUser ? StoredVariable::User : StoredVariable::Machine;
        } else if (!key.isEmpty() && !key.contains('=') && qEnvironmentVariableIsSet(key.constData())) {
            stored.value = qEnvironmentVariable(key.constData());
            stored.source = StoredVariable::Inherited;
        }
        if (stored.isSet() && stored.value.isNull())
            stored.value = QStringLiteral(""); // set, though empty: only an unset value is null
        for (const EtcEnvironment::Line &line : etcLines) {
            if (line.name != key || line.managed)
                continue;
            stored.etcEnvironment = line.value ? QString::fromUtf8(*line.value) : QString();
            if (line.value && stored.etcEnvironment.isNull())
                stored.etcEnvironment = QStringLiteral("");
        }
        result.append(stored);
    }
    return result;
}

QList<StoredVariable> loadMachineVariables(const QStringList &names)
{
    QByteArray contents;
    SafeFile::read(MachinePaths::machinePath(QLatin1String(MachinePaths::machineEnvironmentFile)), contents);
    // As a login reads the file on its own: its assignments in order, each reference to one of its
    // own variables seeing the value so far, any other the environment the login starts from.
    QHash<QByteArray, QByteArray> values;
    QSet<QByteArray> assigned;
    const QList<EnvFile::Assignment> assignments =
        EnvFile::isLoginReadable(contents) ? EnvFile::parse(contents) : QList<EnvFile::Assignment>();
    for (const EnvFile::Assignment &assignment : assignments)
        assigned.insert(assignment.name);
    const EnvFile::Lookup lookup = [&](const QByteArray &name) -> std::optional<QByteArray> {
        if (values.contains(name))
            return values.value(name);
        if (name.isEmpty() || assigned.contains(name) || !qEnvironmentVariableIsSet(name.constData()))
            return std::nullopt;
        return qgetenv(name.constData());
    };
    for (const EnvFile::Assignment &assignment : assignments) {
        if (assignment.hasValue && EnvFile::isValidName(assignment.name))
            values.insert(assignment.name, EnvFile::expand(assignment.value, lookup));
    }
    QList<StoredVariable> result;
    for (const QString &name : names) {
        StoredVariable stored;
        const auto found = values.constFind(name.toUtf8());
        if (found != values.constEnd()) {
            stored.value = QString::fromUtf8(EnvFile::loginValue(*found));
            if (stored.value.isNull())
                stored.value = QStringLiteral("");
            stored.source = StoredVariable::Machine;
        }
        result.append(stored);
    }
    return result;
}

QList<bool> machineVariablesDiffer(const QList<QPair<QString, QString>> &assignments)
{
    QByteArray contents;
    SafeFile::read(MachinePaths::machinePath(QLatin1String(MachinePaths::machineEnvironmentFile)), contents);
    QList<bool> differ;
    for (const auto &[name, value] : assignments) {
        const QByteArray next = EnvFile::setVariable(contents, name.toLatin1(), value.toUtf8());
        differ.append(next.isNull() || next != contents);
        if (!next.isNull())
            contents = next;
    }
    return differ;
}

QString profilePath(const QString &fileName)
{
    if (fileName.contains(QLatin1Char('/')))
        return fileName;
    return MachinePaths::machinePath(QLatin1String(MachinePaths::profileDirectory)) + QLatin1Char('/') +
           fileName;
}

void broadcastEnvironmentChange()
{
    // Only the tool's own variables, and only values the tool can compute exactly as the login
    // will: a reference to anything else (PATH, HOME) resolves against the user manager's
    // environment, which this process does not have, so such a variable is left for the next login.
    QList<QPair<QString, QString>> announced;
    const auto login = LoginEnvironment::compute([](const QByteArray &) { return std::nullopt; },
                                                 LoginEnvironment::isToolVariable);
    for (const LoginEnvironment::Variable &variable : login) {
        if (!LoginEnvironment::isToolVariable(variable.name))
            continue;
        if (variable.untrusted)
            qCDebug(storeLog,
                    "The environment announcement leaves %s out: its value refers to a variable that is not "
                    "the tool's own.",
                    variable.name.constData());
        else
            announced.append({QString::fromUtf8(variable.name), QString::fromUtf8(variable.value)});
    }
    SessionAnnouncer::announce(announced, announcementTimeoutMs);
}

QString describeStoreError(quint32 code)
{
    if (code == 0)
        return QStringLiteral("no error");
    if (code == ERROR_REFUSED_INPUT)
        return QStringLiteral(
            "refused before anything was written: a variable name must be letters, digits and "
            "underscores, no text may contain a line break or a NUL character, and a value must be "
            "at most 32767 characters of text the login reads back exactly (no tabs or other "
            "control characters, no Unicode noncharacters, no half surrogate pairs)");
    if (code == EILSEQ)
        return QStringLiteral(
            "the file holds a NUL byte or text in an encoding that cannot be read or edited exactly "
            "(not valid UTF-8 or UTF-16); it was left as it is");
    if (code == EBADMSG)
        return QStringLiteral("the file ends inside an unfinished quoted value; it was left "
                              "as it is");
    if (code == SafeOpen::ERROR_LOCK_HELD)
        return QStringLiteral("another program kept the file locked for longer than 5 seconds");
    if (code == SafeOpen::ERROR_FOREIGN_LINK)
        return QStringLiteral(
            "the path leads through a symbolic link owned by another user, which is not followed");
    if (code == SafeOpen::ERROR_NOT_REGULAR)
        return QStringLiteral("a FIFO, device, socket or directory stands where a regular file should be");
    if (code == SafeOpen::ERROR_FOREIGN_DIRECTORY)
        return QStringLiteral("the per-user file would lie in a directory owned by another user, or HOME "
                              "is not set to a home directory");
    if (code == SafeOpen::ERROR_MOUNTED_TARGET)
        return QStringLiteral(
            "the file is a mount point (bind-mounted), so it cannot be replaced; change it where "
            "it is mounted from");
    if (code == EFBIG)
        return QStringLiteral("the file is too large to be one this tool edits");
    if (code <= quint32(INT_MAX))
        return qt_error_string(int(code));
    return QStringLiteral("error 0x%1").arg(code, 0, 16);
}
