#include "CommandLineTool.h"

#include "EditorRules.h"
#include "machinestore.h"
#include "preferences.h"
#include "ValueRules.h"

#include <QCommandLineParser>
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
    return text.isNull() ? QStringLiteral("(unset)") : text;
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
    const QStringList switches = {QStringLiteral("stand-alone"), QStringLiteral("no-stand-alone"),
                                  QStringLiteral("developer"), QStringLiteral("no-developer")};
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    parser.addOptions({json, dryRun, help, version});
    for (const QString &name : switches)
        parser.addOption(QCommandLineOption(name));
    if (!parser.parse(arguments))
        return invalid(parser.errorText());

    if (parser.isSet(help)) {
        m_out << tr("Usage: trox_inst_env_cli show [--json]\n"
                    "       trox_inst_env_cli set NAME=VALUE... [--stand-alone | --no-stand-alone]\n"
                    "                             [--developer | --no-developer] [--dry-run]\n"
                    "\n"
                    "show  each value as a new graphical login or login shell gets it from the\n"
                    "      environment.d files and where it comes from (machine, user, inherited),\n"
                    "      another value /etc/environment gives, whether this session still has another\n"
                    "      value, the workstation number in the three profile files and the last known\n"
                    "      server.\n"
                    "set   checks the values as the dialog's editors do, then writes what differs from\n"
                    "      the stored values as the dialog's Ok does. NAME is OV_ROOT, OV_SYSTEM,\n"
                    "      OV_SERVER_ROOT, OV_RESERVE_SERVER_ROOT or OV_WORKSTATION. Each change is\n"
                    "      printed; --dry-run prints them and writes nothing.\n"
                    "\n"
                    "Exit codes: 0 everything written, 1 something not written (listed on standard\n"
                    "error with the reason), 2 invalid input (nothing written).\n");
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
        if (positional.size() > 1 || parser.isSet(dryRun) || !given.isEmpty())
            return invalid(tr("show takes no values and no option but --json"));
        return show(parser.isSet(json));
    }
    if (command == QLatin1String("set")) {
        if (parser.isSet(json))
            return invalid(tr("set takes no --json"));
        return set(positional.mid(1), given, parser.isSet(dryRun));
    }
    return invalid(command.isEmpty() ? tr("a command is needed: show or set (see --help)")
                                     : tr("unknown command: %1 (see --help)").arg(command));
}

int CommandLineTool::invalid(const QString &message)
{
    m_err << "trox_inst_env_cli: " << message << '\n';
    return InvalidInput;
}

int CommandLineTool::show(bool json)
{
    const QStringList names = SettingsApplier::variableNames();
    const QList<StoredVariable> stored = loadStoredVariables(names);
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
        if (json) {
            QJsonObject entry{{QStringLiteral("value"), jsonText(variable.value)},
                              {QStringLiteral("source"), sourceName(variable.source)}};
            if (older)
                entry.insert(QStringLiteral("session"), jsonText(session));
            if (!variable.etcEnvironment.isNull())
                entry.insert(QStringLiteral("etcEnvironment"), jsonText(variable.etcEnvironment));
            variables.insert(name, entry);
            continue;
        }
        m_out << name << '=' << shownText(variable.value) << "  [" << sourceName(variable.source) << ']';
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
    // The system's own file is known only once the root and the system are.
    const bool systemKnown = !settings.root.isEmpty() && !settings.system.isEmpty();
    const QList<ProfileFile> files = profileFiles(settings);
    for (qsizetype i = 0; i < files.size(); ++i) {
        if (i == 2 && !systemKnown)
            break;
        const ProfileFile &file = files.at(i);
        const QString number = readProfileString(file.section, SettingsApplier::profileKey(), file.file);
        if (json)
            profiles.append(QJsonObject{{QStringLiteral("file"), file.file},
                                        {QStringLiteral("section"), file.section},
                                        {QStringLiteral("workstation"), jsonText(number)}});
        else
            m_out << file.file << " [" << file.section << "] " << SettingsApplier::profileKey() << '='
                  << shownText(number) << '\n';
    }

    if (json) {
        const QJsonObject all{{QStringLiteral("variables"), variables},
                              {QStringLiteral("profiles"), profiles},
                              {QStringLiteral("lastKnownServer"), jsonText(server)}};
        m_out << QJsonDocument(all).toJson(QJsonDocument::Indented);
    } else {
        m_out << tr("last known server") << '=' << shownText(server) << '\n';
    }
    return Written;
}

int CommandLineTool::set(const QStringList &assignments, const QStringList &switches, bool dryRun)
{
    const QStringList names = SettingsApplier::variableNames();
    const QList<StoredVariable> variables = loadStoredVariables(names);
    SettingsApplier::Settings stored = SettingsApplier::settingsOf(variables);
    SettingsApplier::Settings edited = stored;
    const QString lastServer = lastKnownServer();
    // In stand-alone mode the dialog keeps the last known server for the moment the switch goes off.
    if (stored.standAlone)
        edited.server = lastServer;

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
        } else if (name == QLatin1String("OV_SYSTEM")) {
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
        // Not stored yet: the baseline differs, so the flag is written.
        if (variables.value(5).source == StoredVariable::Inherited)
            stored.developer = !edited.developer;
    }

    if (!rules.systemExists(edited.root, edited.system))
        m_err << "trox_inst_env_cli: " << rules.systemDirectory(edited.root, edited.system) << ": "
              << tr("This path does not exist!") << '\n';

    // What changes: Ok writes the profile files and the last known server every time, but a write
    // of the value already there changes nothing worth reporting.
    const QList<SettingsApplier::Step> steps = SettingsApplier::plan(stored, edited);
    for (const SettingsApplier::Step &step : steps) {
        switch (step.kind) {
        case SettingsApplier::Step::Variable:
            m_out << step.target << '=' << step.value << '\n';
            break;
        case SettingsApplier::Step::LastKnownServer:
            if (step.value != lastServer)
                m_out << tr("last known server") << '=' << step.value << '\n';
            break;
        case SettingsApplier::Step::ProfileFile:
            if (readProfileString(step.section, SettingsApplier::profileKey(), step.target) != step.value)
                m_out << step.target << " [" << step.section << "] " << SettingsApplier::profileKey() << '='
                      << step.value << '\n';
            break;
        }
    }
    m_out.flush();
    if (dryRun)
        return Written;

    const SettingsApplier::Report report = SettingsApplier::apply(stored, edited);
    const QString warning = report.warning();
    if (!warning.isEmpty())
        m_err << warning << '\n';
    return report.allWritten() ? Written : NotWritten;
}
