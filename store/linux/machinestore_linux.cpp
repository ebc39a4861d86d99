#include "../machinestore.h"
#include "atomicfile.h"
#include "envfile.h"
#include "machinepaths.h"
#include "profilefile.h"
#include "sessionannouncer.h"

#include <QDebug>
#include <QFile>
#include <QHash>
#include <QSet>

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
    if (breaksLine(value))
        return QStringLiteral("the value contains a line break or a NUL character");
    return QString();
}

void logRefused(const char *what, const QString &name, const QString &reason)
{
    qDebug().nospace() << "refused to write " << what << ' ' << name << ": " << qPrintable(reason);
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

quint32 failedOpen(const QString &subKey, quint32 code)
{
    qDebug("couldn't open registry path 'HKEY_LOCAL_MACHINE\\'%s error=0x%X", subKey.toLatin1().constData(),
           code);
    return code;
}

// Every variable the two files define, with the value the next login computes from them: files in
// order, the per-user file last, references looked up among the values so far and otherwise in the
// environment the login starts from (which never holds the files' own variables).
QList<QPair<QString, QString>> effectiveEnvironment()
{
    QList<EnvFile::Assignment> assignments;
    const QString files[] = {
        environmentFile(Registry::machineRoot, QLatin1String(Registry::machineEnvironmentKey)),
        environmentFile(Registry::userRoot, QLatin1String(Registry::userEnvironmentKey))};
    for (const QString &path : files) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly)) {
            for (const EnvFile::Assignment &assignment : EnvFile::parse(file.readAll())) {
                if (assignment.hasValue && EnvFile::isValidName(assignment.name))
                    assignments.append(assignment);
            }
        }
    }
    QSet<QByteArray> defined;
    for (const EnvFile::Assignment &assignment : std::as_const(assignments))
        defined.insert(assignment.name);

    QHash<QByteArray, QByteArray> values;
    QList<QByteArray> order;
    const EnvFile::Lookup lookup = [&](const QByteArray &name) -> std::optional<QByteArray> {
        const auto found = values.constFind(name);
        if (found != values.constEnd())
            return *found;
        if (!name.isEmpty() && !defined.contains(name) && qEnvironmentVariableIsSet(name.constData()))
            return qgetenv(name.constData());
        return std::nullopt;
    };
    for (const EnvFile::Assignment &assignment : std::as_const(assignments)) {
        const QByteArray value = EnvFile::expand(assignment.value, lookup);
        if (!values.contains(assignment.name))
            order.append(assignment.name);
        values.insert(assignment.name, value);
    }
    QList<QPair<QString, QString>> result;
    for (const QByteArray &name : std::as_const(order))
        result.append({QString::fromUtf8(name), QString::fromUtf8(values.value(name))});
    return result;
}

} // namespace

namespace {

// Sets several values of one key with a single replacement of its file. A failure is logged for
// each value, as separate writes would have been.
quint32 setRegistryValues(quint32 root, const QString &subKey, const QList<QPair<QString, QString>> &values)
{
    const QString path = environmentFile(root, subKey);
    quint32 error = path.isEmpty() ? ENOENT : 0;
    AtomicFile::Step step = AtomicFile::Step::Open;
    if (!error) {
        const AtomicFile::Result result =
            AtomicFile::edit(path, AtomicFile::Directories::Create, [&](const QByteArray &contents) {
                QByteArray changed = contents;
                for (const auto &[name, value] : values) {
                    changed = EnvFile::setVariable(changed, name.toLatin1(), value.toUtf8());
                    if (changed.isNull())
                        break;
                }
                return changed;
            });
        error = quint32(result.error);
        step = result.failedStep;
    }
    if (!error)
        return 0;
    for (const auto &entry : values) {
        if (step == AtomicFile::Step::Write)
            qDebug("couldn't set key value '%s' in registry path 'HKEY_LOCAL_MACHINE\\%s' error = 0x%X",
                   entry.first.toLatin1().constData(), subKey.toLatin1().constData(), error);
        else
            failedOpen(subKey, error);
    }
    return error;
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

    const quint32 machineError =
        setRegistryValues(Registry::machineRoot, QLatin1String(Registry::machineEnvironmentKey), valid);
    const quint32 userError =
        machineError == 0
            ? 0
            : setRegistryValues(Registry::userRoot, QLatin1String(Registry::userEnvironmentKey), valid);
    for (const qsizetype i : std::as_const(validIndex)) {
        writes[i].machineError = machineError;
        writes[i].userError = userError;
        writes[i].where = machineError == 0 ? VariableWrite::MachineWide
                          : userError == 0  ? VariableWrite::PerUser
                                            : VariableWrite::Nowhere;
    }
    return writes;
}

quint32 writeProfileString(const QString &section, const QString &key, const QString &value,
                           const QString &fileName)
{
    QString refusal;
    if (breaksLine(section) || breaksLine(key) || breaksLine(value) || breaksLine(fileName))
        refusal = QStringLiteral("a line break or a NUL character in the section, key, value or file name");
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
    const QString path = bare ? MachinePaths::machinePath(QLatin1String(MachinePaths::profileDirectory)) +
                                    QLatin1Char('/') + fileName
                              : fileName;
    const QByteArray sectionBytes = section.toUtf8();
    const QByteArray keyBytes = key.toUtf8();
    const QByteArray valueBytes = value.toUtf8();
    const AtomicFile::Result result =
        AtomicFile::edit(path, bare ? AtomicFile::Directories::Create : AtomicFile::Directories::MustExist,
                         [&](const QByteArray &contents) {
                             return ProfileFile::setKey(contents, sectionBytes, keyBytes, valueBytes);
                         });
    if (result.error) {
        qDebug("couldn't write key '%s' of section '%s' in profile file '%s' error=0x%X",
               keyBytes.constData(), sectionBytes.constData(), QFile::encodeName(path).constData(),
               quint32(result.error));
    }
    return quint32(result.error);
}

void broadcastEnvironmentChange()
{
    SessionAnnouncer::announce(effectiveEnvironment(), announcementTimeoutMs);
}

QString describeStoreError(quint32 code)
{
    if (code == 0)
        return QStringLiteral("no error");
    if (code == ERROR_REFUSED_INPUT)
        return QStringLiteral(
            "refused before anything was written: a variable name must be letters, digits and "
            "underscores, and no text may contain a line break or a NUL character");
    if (code == EBADMSG)
        return QStringLiteral(
            "the file ends inside an unfinished quoted value or continued line; it was left "
            "as it is");
    if (code == EBUSY)
        return QStringLiteral("another program is changing the same file");
    if (code <= quint32(INT_MAX))
        return qt_error_string(int(code));
    return QStringLiteral("error 0x%1").arg(code, 0, 16);
}
