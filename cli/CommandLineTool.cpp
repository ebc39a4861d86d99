#include "CommandLineTool.h"

#include "EditorRules.h"
#include "machinestore.h"
#include "preferences.h"
#include "ValueRules.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <cstdio>
#include <iterator>

namespace {

QString sourceName(StoredVariable::Source source)
{
    switch (source) {
    case StoredVariable::Machine:
        return QStringLiteral("machine");
    case StoredVariable::User:
        return QStringLiteral("user");
    case StoredVariable::Inherited:
        return QStringLiteral("inherited");
    case StoredVariable::Unset:
        break;
    }
    return QStringLiteral("unset");
}

struct ProfileFile
{
    QString file;
    QString section;
};

// The three profile files Ok writes the workstation number into, for this root and system.
QList<ProfileFile> profileFiles(const SettingsApplier::Settings &settings)
{
    SettingsApplier::Settings withNumber = settings;
    withNumber.workstation = QStringLiteral("1");
    QList<ProfileFile> files;
    const QList<SettingsApplier::Step> steps = SettingsApplier::plan(withNumber, withNumber);
    for (const SettingsApplier::Step &step : steps) {
        if (step.kind == SettingsApplier::Step::ProfileFile)
            files.append({step.target, step.section});
    }
    return files;
}

QJsonValue jsonText(const QString &text)
{
    return text.isNull() ? QJsonValue() : QJsonValue(text);
}

QString shownText(const QString &text)
{
    return text.isNull() ? QStringLiteral("(unset)") : ValueRules::printable(text);
}

// One change as the harness and the Ansible module read it.
QJsonObject changeObject(const SettingsApplier::Change &change)
{
    using Change = SettingsApplier::Change;
    static const char *const kinds[] = {"variable", "file", "preference", "user-variable-removed"};
    QJsonObject object{{QStringLiteral("kind"), QLatin1String(kinds[change.kind])},
                       {QStringLiteral("old"), jsonText(change.before)},
                       {QStringLiteral("new"), jsonText(change.after)}};
    if (change.kind == Change::Variable || change.kind == Change::UserVariableRemoved) {
        object.insert(QStringLiteral("name"), change.name);
        object.insert(QStringLiteral("scope"), change.kind == Change::Variable && !change.perUser
                                                   ? QStringLiteral("machine")
                                                   : QStringLiteral("user"));
    }
    if (change.kind != Change::Variable)
        object.insert(QStringLiteral("path"), change.path);
    if (change.kind == Change::File || change.kind == Change::Preference) {
        object.insert(QStringLiteral("section"), change.section);
        object.insert(QStringLiteral("key"), change.key);
    }
    if (change.kind == Change::UserVariableRemoved)
        object.insert(QStringLiteral("account"), change.account);
    return object;
}

} // namespace

CommandLineTool::CommandLineTool()
    : m_out(stdout)
    , m_err(stderr)
{}

int CommandLineTool::run(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption json(QStringLiteral("json"));
    const QCommandLineOption dryRun(QStringLiteral("dry-run"));
    const QCommandLineOption noSystemProfile(QStringLiteral("no-system-profile"));
    const QStringList switches = {QStringLiteral("stand-alone"), QStringLiteral("no-stand-alone"),
                                  QStringLiteral("developer"), QStringLiteral("no-developer")};
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    parser.addOptions({json, dryRun, noSystemProfile, help, version});
    for (const QString &name : switches)
        parser.addOption(QCommandLineOption(name));
    if (!parser.parse(arguments))
        return invalid(parser.errorText());

    if (parser.isSet(help)) {
        m_out << tr("Usage: trox_inst_env_cli show [--json]\n"
                    "       trox_inst_env_cli set NAME=VALUE... [--stand-alone | --no-stand-alone]\n"
                    "                             [--developer | --no-developer] [--no-system-profile]\n"
                    "                             [--dry-run] [--json]\n"
                    "\n"
                    "show  each value as a new graphical login or login shell gets it from the\n"
                    "      environment.d files and where it comes from (machine, user, inherited),\n"
                    "      another value /etc/environment gives, whether this session still has another\n"
                    "      value, the workstation number in the three profile files and the last known\n"
                    "      server.\n"
                    "set   checks the whole request as the dialog's editors do (the root absolute, the\n"
                    "      system's directory there), then writes only what differs from what is stored\n"
                    "      (machine-wide, when run as root). NAME is OV_ROOT, OV_SYSTEM, OV_SERVER_ROOT,\n"
                    "      OV_RESERVE_SERVER_ROOT or OV_WORKSTATION; --developer and --no-developer\n"
                    "      store OV_DEVELOPER as true or false. One line per value or file changed, old\n"
                    "      and new; nothing when everything agreed. --dry-run prints the same and\n"
                    "      writes nothing; --json gives it as data. --no-system-profile: the system tree\n"
                    "      is not there yet; the system's trox_system.ini is left out.\n"
                    "      Run as root through sudo or pkexec, the values written machine-wide are\n"
                    "      removed from the invoking user's own file, where they would hide them.\n"
                    "\n"
                    "Exit codes: 0 everything written or nothing to do, 1 something not written\n"
                    "(listed on standard error with the reason), 2 request refused (nothing written).\n");
        return Written;
    }
    if (parser.isSet(version)) {
        m_out << "trox_inst_env_cli " << TROX_VERSION << '\n';
        return Written;
    }

    const QStringList positional = parser.positionalArguments();
    const QString command = positional.value(0);
    QStringList given;
    for (const QString &name : switches) {
        if (parser.isSet(name))
            given << name;
    }
    if (command == QLatin1String("show")) {
        if (positional.size() > 1 || parser.isSet(dryRun) || parser.isSet(noSystemProfile) ||
            !given.isEmpty())
            return invalid(tr("show takes no values and no option but --json"));
        return show(parser.isSet(json));
    }
    if (command == QLatin1String("set")) {
        m_json = parser.isSet(json);
        m_dryRun = parser.isSet(dryRun);
        return set(positional.mid(1), given, m_dryRun, !parser.isSet(noSystemProfile));
    }
    return invalid(command.isEmpty() ? tr("a command is needed: show or set (see --help)")
                                     : tr("unknown command: %1 (see --help)").arg(command));
}

int CommandLineTool::invalid(const QString &message)
{
    m_err << "trox_inst_env_cli: " << message << '\n';
    // Only set takes --json for its result.
    if (m_json) {
        const QJsonObject refused{{QStringLiteral("changed"), false},
                                  {QStringLiteral("dry_run"), m_dryRun},
                                  {QStringLiteral("changes"), QJsonArray()},
                                  {QStringLiteral("warnings"), QJsonArray()},
                                  {QStringLiteral("errors"), QJsonArray{message}}};
        m_out << QJsonDocument(refused).toJson(QJsonDocument::Indented);
    }
    return InvalidInput;
}

int CommandLineTool::show(bool json)
{
    const QStringList names = SettingsApplier::variableNames();
    const QList<StoredVariable> stored = loadStoredVariables(names);
    const QList<StoredVariable> machine = loadMachineVariables(names);
    const SettingsApplier::Settings settings = SettingsApplier::settingsOf(stored);
    const QString server = lastKnownServer();

    QJsonObject variables;
    for (qsizetype i = 0; i < names.size(); ++i) {
        const QString &name = names.at(i);
        const StoredVariable &variable = stored.at(i);
        const bool sessionHas = qEnvironmentVariableIsSet(qPrintable(name));
        const QString session = sessionHas ? qEnvironmentVariable(qPrintable(name)) : QString();
        // Programs of this session keep what they inherited until the next login.
        const bool older = variable.isSet() != sessionHas || (sessionHas && session != variable.value);
        // This user's own value wins over a different one every other user gets.
        const StoredVariable &everyone = machine.at(i);
        const bool hides =
            variable.source == StoredVariable::User && everyone.isSet() && everyone.value != variable.value;
        if (json) {
            QJsonObject entry{{QStringLiteral("value"), jsonText(variable.value)},
                              {QStringLiteral("source"), sourceName(variable.source)}};
            if (older)
                entry.insert(QStringLiteral("session"), jsonText(session));
            if (hides)
                entry.insert(QStringLiteral("hides_machine"), everyone.value);
            if (!variable.etcEnvironment.isNull())
                entry.insert(QStringLiteral("etcEnvironment"), jsonText(variable.etcEnvironment));
            variables.insert(name, entry);
            continue;
        }
        m_out << name << '=' << shownText(variable.value) << "  [" << sourceName(variable.source) << ']';
        if (hides)
            m_out << "  " << tr("hides the machine-wide value: %1").arg(shownText(everyone.value));
        if (older)
            m_out << "  " << tr("this session still has: %1").arg(shownText(session));
        if (!variable.etcEnvironment.isNull())
            m_out << "  "
                  << tr("/etc/environment also sets: %1 (cron, ssh commands and shells without "
                        "/etc/profile.d get that)")
                         .arg(shownText(variable.etcEnvironment));
        m_out << '\n';
    }

    QJsonArray profiles;
    bool unread = false;
    // The system's own file is known only once the root and the system are.
    const bool systemKnown = !settings.root.isEmpty() && !settings.system.isEmpty();
    const QList<ProfileFile> files = profileFiles(settings);
    for (qsizetype i = 0; i < files.size(); ++i) {
        if (i == 2 && !systemKnown)
            break;
        const ProfileFile &file = files.at(i);
        quint32 error = 0;
        const QString number =
            readProfileString(file.section, SettingsApplier::profileKey(), file.file, &error);
        if (error) {
            m_err << "trox_inst_env_cli: " << ValueRules::printable(file.file) << ": "
                  << describeStoreError(error) << '\n';
            unread = true;
        }
        if (json) {
            QJsonObject entry{{QStringLiteral("file"), file.file},
                              {QStringLiteral("section"), file.section},
                              {QStringLiteral("workstation"), jsonText(number)}};
            if (error)
                entry.insert(QStringLiteral("error"), describeStoreError(error));
            profiles.append(entry);
        } else {
            m_out << ValueRules::printable(file.file) << " [" << file.section << "] "
                  << SettingsApplier::profileKey() << '=' << shownText(number) << '\n';
        }
    }

    if (json) {
        const QJsonObject all{{QStringLiteral("variables"), variables},
                              {QStringLiteral("profiles"), profiles},
                              {QStringLiteral("lastKnownServer"), jsonText(server)}};
        m_out << QJsonDocument(all).toJson(QJsonDocument::Indented);
    } else {
        m_out << tr("last known server") << '=' << shownText(server) << '\n';
    }
    return unread ? NotWritten : Written;
}

int CommandLineTool::set(const QStringList &assignments, const QStringList &switches, bool dryRun,
                         bool systemProfile)
{
    const QStringList names = SettingsApplier::variableNames();
    const QList<StoredVariable> variables = loadStoredVariables(names);
    // With root rights the machine store is what is written and what a value is measured against.
    SettingsApplier::Settings stored = SettingsApplier::writeBaseline(SettingsApplier::settingsOf(variables));
    SettingsApplier::Settings edited = stored;
    edited.systemProfile = systemProfile;
    // In stand-alone mode the dialog keeps the last known server for the moment the switch goes off.
    if (stored.standAlone)
        edited.server = lastKnownServer();

    const EditorRules rules;
    QSet<QString> seen;
    for (const QString &assignment : assignments) {
        const qsizetype equals = assignment.indexOf(QLatin1Char('='));
        if (equals <= 0)
            return invalid(tr("not NAME=VALUE: %1").arg(assignment));
        const QString name = assignment.left(equals);
        const QString value = assignment.mid(equals + 1);
        if (seen.contains(name))
            return invalid(tr("%1 is given twice").arg(name));
        seen.insert(name);
        // What the store would refuse is refused here, before anything is written.
        const QString refusal = ValueRules::refusal(value);
        if (!refusal.isEmpty())
            return invalid(QStringLiteral("%1: %2").arg(name, refusal));

        if (name == QLatin1String("OV_ROOT")) {
            edited.root = rules.normalisedRoot(value);
            // A relative root would name another place for every program that reads it.
            if (!QDir::isAbsolutePath(edited.root))
                return invalid(tr("%1: the root must be an absolute path: %2").arg(name, value));
        } else if (name == QLatin1String("OV_SYSTEM")) {
            // The name of one directory below the root, as the system editor lists them.
            if (value.isEmpty() || value == QLatin1String(".") || value == QLatin1String("..") ||
                value.contains(QLatin1Char('/')) || value.contains(QLatin1Char('\\')))
                return invalid(
                    tr("%1: the system is the name of a directory below the root: %2").arg(name, value));
            edited.system = value;
        } else if (name == QLatin1String("OV_SERVER_ROOT") ||
                   name == QLatin1String("OV_RESERVE_SERVER_ROOT")) {
            if (!rules.validServer(value))
                return invalid(tr("%1: this is not a valid path to a server: %2").arg(name, value));
            (name == QLatin1String("OV_SERVER_ROOT") ? edited.server : edited.reserveServer) =
                rules.normalisedServer(value);
        } else if (name == QLatin1String("OV_WORKSTATION")) {
            if (!EditorRules::validWorkstation(value))
                return invalid(
                    tr("%1: the workstation number must be between 1 and 999: %2").arg(name, value));
            edited.workstation = value;
        } else if (name == QLatin1String("OV_DEVELOPER")) {
            return invalid(tr("OV_DEVELOPER is set with --developer or --no-developer"));
        } else {
            return invalid(tr("unknown variable: %1").arg(name));
        }
    }

    // A value only inherited from the caller's environment is in no store yet: one that is given
    // is written even when it equals what the caller has.
    QString SettingsApplier::Settings::*const texts[] = {
        &SettingsApplier::Settings::root, &SettingsApplier::Settings::system,
        &SettingsApplier::Settings::server, &SettingsApplier::Settings::reserveServer,
        &SettingsApplier::Settings::workstation};
    for (qsizetype i = 0; i < qsizetype(std::size(texts)); ++i) {
        if (variables.value(i).source == StoredVariable::Inherited && seen.contains(names.at(i)))
            stored.*texts[i] = QString();
    }

    const auto has = [&switches](const char *name) {
        return switches.contains(QLatin1String(name));
    };
    if (has("stand-alone") && has("no-stand-alone"))
        return invalid(tr("--stand-alone and --no-stand-alone exclude each other"));
    if (has("developer") && has("no-developer"))
        return invalid(tr("--developer and --no-developer exclude each other"));
    if (has("stand-alone") && seen.contains(QStringLiteral("OV_SERVER_ROOT")))
        return invalid(
            tr("OV_SERVER_ROOT is the root in stand-alone mode; leave it out or use --no-stand-alone"));
    // A server given is a server to work against, as choosing one in the dialog needs the switch off.
    if (has("stand-alone"))
        edited.standAlone = true;
    else if (has("no-stand-alone") || seen.contains(QStringLiteral("OV_SERVER_ROOT")))
        edited.standAlone = false;
    if (has("developer") || has("no-developer")) {
        edited.developer = has("developer");
        edited.ensureDeveloper = true;
    }

    // The whole request is checked before the first write: a request refused halfway would leave
    // the workstation half set up, and the next run would report changes again.
    QStringList warnings;
    const QString systemFile = rules.systemProfile(edited.root, edited.system);
    if (!systemProfile) {
        warnings << tr("the workstation number was not written into the system's own profile file "
                       "(--no-system-profile): %1")
                        .arg(systemFile);
    } else if (!edited.workstation.isEmpty() || seen.contains(QStringLiteral("OV_ROOT")) ||
               seen.contains(QStringLiteral("OV_SYSTEM"))) {
        if (!QDir::isAbsolutePath(edited.root) || edited.system.isEmpty())
            return invalid(tr("the root and the system are needed for the system's own profile file; give "
                              "OV_ROOT and OV_SYSTEM, or --no-system-profile"));
        const QString directory = !edited.workstation.isEmpty()
                                      ? QFileInfo(systemFile).absolutePath()
                                      : rules.systemDirectory(edited.root, edited.system);
        if (!QFileInfo(directory).isDir())
            return invalid(tr("%1: This path does not exist! A workstation whose system tree is not there "
                              "yet is set up with --no-system-profile.")
                               .arg(directory));
    }

    const SettingsApplier::Report report = SettingsApplier::apply(stored, edited, dryRun);
    const QStringList failures = report.failures();
    warnings += report.notes();
    if (report.nextLoginOnly)
        warnings << report.sessionNote();
    if (m_json) {
        QJsonArray changes;
        for (const SettingsApplier::Change &change : report.changes)
            changes.append(changeObject(change));
        const QJsonObject result{{QStringLiteral("changed"), !report.changes.isEmpty()},
                                 {QStringLiteral("dry_run"), dryRun},
                                 {QStringLiteral("changes"), changes},
                                 {QStringLiteral("warnings"), QJsonArray::fromStringList(warnings)},
                                 {QStringLiteral("errors"), QJsonArray::fromStringList(failures)}};
        m_out << QJsonDocument(result).toJson(QJsonDocument::Indented);
    } else {
        for (const SettingsApplier::Change &change : report.changes)
            m_out << change.line() << '\n';
        for (const QString &warning : std::as_const(warnings))
            m_err << "trox_inst_env_cli: " << ValueRules::printable(warning) << '\n';
    }
    // What was not written is named on standard error either way.
    if (!failures.isEmpty()) {
        m_err << tr("These settings could not be saved:") << '\n';
        for (const QString &failure : failures)
            m_err << ValueRules::printable(failure) << '\n';
    }
    return report.allWritten() ? Written : NotWritten;
}
