#include "SettingsApplier.h"

#include "EditorRules.h"
#include "machinestore.h"
#include "preferences.h"
#include "ValueRules.h"

#include <QCoreApplication>
#include <QMap>
#include <QPair>
#include <QSettings>
#include <QStringList>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("SettingsApplier", text);
}

void addVariable(QList<SettingsApplier::Step> &steps, const char *name, const QString &value,
                 const QString &baseline)
{
    if (value != baseline)
        steps.append({SettingsApplier::Step::Variable, QLatin1String(name), QString(), value});
}

// All variables go to the store in one call, ahead of the files, so that a store keeping them in a
// file replaces it once per Ok rather than once more for the developer flag after the profiles.
void writeVariables(QList<SettingsApplier::Outcome> &variables, QList<SettingsApplier::Outcome> &copies)
{
    if (variables.isEmpty())
        return;
    QList<QPair<QString, QString>> assignments;
    for (const SettingsApplier::Outcome &outcome : variables)
        assignments.append({outcome.step.target, outcome.step.value});
    const QList<VariableWrite> writes = setEnvironmentVariables(assignments);
    for (qsizetype i = 0; i < variables.size(); ++i) {
        SettingsApplier::Outcome &outcome = variables[i];
        const VariableWrite write = writes.value(i);
        outcome.machineError = write.machineError;
        outcome.changed = write.changed;
        outcome.landing = write.where == VariableWrite::MachineWide ? SettingsApplier::Outcome::MachineWide
                          : write.where == VariableWrite::PerUser   ? SettingsApplier::Outcome::PerUser
                                                                    : SettingsApplier::Outcome::Failed;
        if (!write.written())
            outcome.error = write.userError ? write.userError : write.machineError;
        if (write.sessionCopyError && copies.isEmpty()) {
            SettingsApplier::Outcome copy;
            copy.step = {SettingsApplier::Step::SessionCopy, write.sessionCopy, QString(), QString()};
            copy.error = write.sessionCopyError;
            copies.append(copy);
        }
    }
}

} // namespace

QStringList SettingsApplier::variableNames()
{
    return {QStringLiteral("OV_ROOT"),        QStringLiteral("OV_SYSTEM"),
            QStringLiteral("OV_SERVER_ROOT"), QStringLiteral("OV_RESERVE_SERVER_ROOT"),
            QStringLiteral("OV_WORKSTATION"), QStringLiteral("OV_DEVELOPER")};
}

SettingsApplier::Settings SettingsApplier::settingsOf(const QList<StoredVariable> &stored)
{
    Settings settings;
    settings.root = stored.value(0).value;
    settings.system = stored.value(1).value;
    settings.server = stored.value(2).value;
    settings.reserveServer = stored.value(3).value;
    settings.workstation = stored.value(4).value;
    settings.developer = stored.value(5).value == QLatin1String("true");
    settings.developerStored = settings.developer || stored.value(5).value == QLatin1String("false");
    settings.standAlone = settings.root == settings.server;
    return settings;
}

SettingsApplier::Settings SettingsApplier::writeBaseline(const Settings &loaded)
{
    if (!runsPrivileged())
        return loaded;
    // Root's own file holds what a refused machine-wide write left there: where it wins, the
    // machine store is what a write changes. A value in no store of the tool's stays as loaded.
    const QList<StoredVariable> login = loadStoredVariables(variableNames());
    const Settings machine = settingsOf(loadMachineVariables(variableNames()));
    const auto own = [&login](int i) {
        return login.value(i).source == StoredVariable::User;
    };
    Settings baseline = loaded;
    QString Settings::*const texts[] = {&Settings::root, &Settings::system, &Settings::server,
                                        &Settings::reserveServer, &Settings::workstation};
    for (int i = 0; i < 5; ++i) {
        if (own(i))
            baseline.*texts[i] = machine.*texts[i];
    }
    if (own(5)) {
        baseline.developer = machine.developer;
        baseline.developerStored = machine.developerStored;
    }
    return baseline;
}

QString SettingsApplier::profileKey()
{
    return QStringLiteral("Workstation");
}

QList<SettingsApplier::Step> SettingsApplier::plan(const Settings &loaded, const Settings &edited)
{
    QList<Step> steps;
    addVariable(steps, "OV_ROOT", edited.root, loaded.root);
    addVariable(steps, "OV_SYSTEM", edited.system, loaded.system);
    if (edited.standAlone) {
        addVariable(steps, "OV_SERVER_ROOT", edited.root, loaded.server);
    } else {
        steps.append({Step::LastKnownServer, QString(), QString(), edited.server});
        addVariable(steps, "OV_SERVER_ROOT", edited.server, loaded.server);
    }
    addVariable(steps, "OV_RESERVE_SERVER_ROOT", edited.reserveServer, loaded.reserveServer);
    addVariable(steps, "OV_WORKSTATION", edited.workstation, loaded.workstation);

    // An empty number would wipe a valid one stored in the files; leave them as they are.
    if (!edited.workstation.isEmpty()) {
        steps.append(
            {Step::ProfileFile, QStringLiteral("xsv.ini"), QStringLiteral("Network"), edited.workstation});
        steps.append({Step::ProfileFile, QStringLiteral("taskbase.ini"), QStringLiteral("System"),
                      edited.workstation});
        if (edited.systemProfile)
            steps.append({Step::ProfileFile, EditorRules().systemProfile(edited.root, edited.system),
                          QStringLiteral("Network"), edited.workstation});
    }
    if (edited.developer != loaded.developer || (edited.ensureDeveloper && !loaded.developerStored))
        steps.append({Step::Variable, QStringLiteral("OV_DEVELOPER"), QString(),
                      edited.developer ? QStringLiteral("true") : QStringLiteral("false")});
    return steps;
}

SettingsApplier::Report SettingsApplier::apply(const Settings &loaded, const Settings &edited, bool dryRun)
{
    Report report;
    report.privileged = runsPrivileged();
    report.account = accountName();
    const QStringList names = variableNames();
    // What the store holds now, for the report; a value only inherited from this process is in none.
    QList<StoredVariable> held = report.privileged ? loadMachineVariables(names) : loadStoredVariables(names);
    const auto before = [&](const QString &name) {
        const StoredVariable &variable = held.at(names.indexOf(name));
        return variable.source == StoredVariable::Machine || variable.source == StoredVariable::User
                   ? variable.value
                   : QString();
    };

    // Only the writes that change something: a file that holds its value already is left as it is.
    QList<Step> steps = plan(writeBaseline(loaded), edited);
    QList<QPair<QString, QString>> assignments;
    QList<QString> beforeFile(steps.size());
    for (qsizetype i = 0; i < steps.size(); ++i) {
        const Step &step = steps.at(i);
        if (step.kind == Step::Variable)
            assignments.append({step.target, step.value});
        else if (step.kind == Step::LastKnownServer)
            beforeFile[i] = lastKnownServer();
        else
            beforeFile[i] = readProfileString(step.section, profileKey(), step.target);
    }
    // With root rights the machine store is the only one written: what it holds decides.
    const QList<bool> differ =
        report.privileged ? machineVariablesDiffer(assignments) : QList<bool>(assignments.size(), true);
    QList<Step> needed;
    QList<QString> neededBefore;
    qsizetype variable = 0;
    for (qsizetype i = 0; i < steps.size(); ++i) {
        const Step &step = steps.at(i);
        const bool differs =
            step.kind == Step::Variable ? differ.value(variable++, true) : beforeFile.at(i) != step.value;
        if (differs) {
            needed.append(step);
            neededBefore.append(beforeFile.at(i));
        }
    }

    QList<Outcome> variables;
    QList<Outcome> sessionCopies;
    for (const Step &step : std::as_const(needed)) {
        if (step.kind == Step::Variable)
            variables.append(Outcome{step});
    }
    if (dryRun) {
        for (Outcome &outcome : variables)
            outcome.landing = Outcome::MachineWide;
    } else {
        writeVariables(variables, sessionCopies);
    }
    auto nextVariable = variables.cbegin();
    QStringList machineWide;
    // The report keeps the order of the plan.
    for (qsizetype i = 0; i < needed.size(); ++i) {
        const Step &step = needed.at(i);
        Outcome outcome;
        outcome.step = step;
        Change change;
        change.before = neededBefore.at(i);
        change.after = step.value;
        switch (step.kind) {
        case Step::Variable:
            outcome = *nextVariable++;
            change.name = step.target;
            change.before = before(step.target);
            change.perUser = outcome.landing == Outcome::PerUser;
            if (outcome.landing == Outcome::MachineWide)
                machineWide.append(step.target);
            // A failed write is still news: the values on screen are not those stored.
            report.changed = report.changed || outcome.changed || outcome.landing == Outcome::Failed;
            break;
        case Step::LastKnownServer: {
            const QString &server = step.value;
            const bool saved = dryRun || savePreferences([&server](QSettings &store) {
                                   store.setValue(QLatin1String(Preferences::lastKnownServerPath), server);
                               });
            outcome.step.target = openPreferences()->fileName();
            outcome.landing = saved ? Outcome::InFile : Outcome::Failed;
            change.kind = Change::Preference;
            change.path = outcome.step.target;
            change.section = QStringLiteral("lastKnownServer");
            change.key = QStringLiteral("server");
            break;
        }
        case Step::ProfileFile:
            if (!dryRun)
                outcome.error = writeProfileString(step.section, profileKey(), step.value, step.target);
            outcome.landing = outcome.error == 0 ? Outcome::InFile : Outcome::Failed;
            change.kind = Change::File;
            change.path = profilePath(step.target);
            change.section = step.section;
            change.key = profileKey();
            break;
        case Step::InvokingUserFile: // made below, never planned
        case Step::SessionCopy:
            break;
        }
        if (outcome.landing != Outcome::Failed && (step.kind != Step::Variable || outcome.changed))
            report.changes.append(change);
        report.outcomes.append(outcome);
    }

    // The person root acts for would otherwise keep their own older values over the new ones.
    const InvokingUser user = removeInvokingUserVariables(machineWide, dryRun);
    for (const auto &[name, value] : user.removed) {
        Change change;
        change.kind = Change::UserVariableRemoved;
        change.name = name;
        change.path = user.file;
        change.account = user.account;
        change.before = value;
        report.changes.append(change);
    }
    if (user.error) {
        Outcome outcome;
        outcome.step = {Step::InvokingUserFile, user.file, user.account,
                        machineWide.join(QLatin1String(", "))};
        outcome.error = user.error;
        report.outcomes.append(outcome);
    }

    report.outcomes += sessionCopies;

    if (!dryRun) {
        QStringList lines;
        for (const Change &change : std::as_const(report.changes))
            lines.append(change.line());
        logChanges(lines);
        if (report.changed)
            broadcastEnvironmentChange();
        report.nextLoginOnly = report.changed && !reachesOwnSession();
    }
    return report;
}

bool SettingsApplier::Report::allWritten() const
{
    for (const Outcome &outcome : outcomes) {
        if (outcome.landing == Outcome::Failed || (privileged && outcome.landing == Outcome::PerUser))
            return false;
    }
    return true;
}

QString SettingsApplier::Report::sessionNote() const
{
    if (!nextLoginOnly)
        return QString();
    return tr("This tool ran as %1 without a session bus of its own, so the running session could not be "
              "told: its programs see the new values after the next login.")
        .arg(account);
}

QStringList SettingsApplier::Report::failures() const
{
    QStringList failures;
    for (const Outcome &outcome : outcomes) {
        if (outcome.landing != Outcome::Failed)
            continue;
        switch (outcome.step.kind) {
        case Step::Variable:
            failures << tr("%1, neither machine-wide nor for this user: %2")
                            .arg(outcome.step.target, describeStoreError(outcome.error));
            break;
        case Step::LastKnownServer:
            failures << tr("the last known server in %1").arg(outcome.step.target);
            break;
        case Step::ProfileFile:
            failures << tr("Workstation in %1: %2")
                            .arg(profilePath(outcome.step.target), describeStoreError(outcome.error));
            break;
        case Step::SessionCopy:
            failures << tr("%1, which sessions that read no environment.d file get (cron, ssh with a "
                           "command, zsh and fish logins), still holds the old values: %2")
                            .arg(outcome.step.target, describeStoreError(outcome.error));
            break;
        case Step::InvokingUserFile:
            failures << tr("%1 could not be removed from %2's own file %3, where it hides the new value: %4")
                            .arg(outcome.step.value, outcome.step.section, outcome.step.target,
                                 describeStoreError(outcome.error));
            break;
        }
    }
    // Variables that landed for this account alone, by the reason the machine-wide write gave.
    const QMap<quint32, QStringList> perUser = privileged ? perUserByReason() : QMap<quint32, QStringList>();
    for (auto it = perUser.cbegin(); it != perUser.cend(); ++it)
        failures << tr("%1 only for the account %2, which reaches no other user; the machine-wide write "
                       "failed: %3")
                        .arg(it.value().join(QLatin1String(", ")), account, describeStoreError(it.key()));
    return failures;
}

QStringList SettingsApplier::Report::notes() const
{
    QStringList notes;
    if (privileged)
        return notes;
    const QMap<quint32, QStringList> perUser = perUserByReason();
    for (auto it = perUser.cbegin(); it != perUser.cend(); ++it)
        notes << tr("%1 saved for the account %2 only, because the machine-wide write failed: %3. Other "
                    "users of this workstation do not get them.")
                     .arg(it.value().join(QLatin1String(", ")), account, describeStoreError(it.key()));
    return notes;
}

QMap<quint32, QStringList> SettingsApplier::Report::perUserByReason() const
{
    QMap<quint32, QStringList> perUser;
    for (const Outcome &outcome : outcomes) {
        if (outcome.landing == Outcome::PerUser)
            perUser[outcome.machineError].append(outcome.step.target);
    }
    return perUser;
}

QString SettingsApplier::Report::warning() const
{
    QStringList parts;
    const QStringList failed = failures();
    if (!failed.isEmpty())
        parts << tr("These settings could not be saved:\n\n%1").arg(failed.join(QLatin1Char('\n')));
    parts += notes();
    return parts.join(QLatin1String("\n\n"));
}

namespace {

// A value as the operator reads it in a line: quoted, with what would break the line escaped.
QString quoted(const QString &text)
{
    if (text.isNull())
        return QCoreApplication::translate("SettingsApplier", "(unset)");
    QString escaped = text;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
        .replace(QLatin1Char('"'), QLatin1String("\\\""));
    // Controls are escaped with the whole line, in line().
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

} // namespace

QString SettingsApplier::Change::line() const
{
    const QString change = quoted(before) + QLatin1String(" -> ") + quoted(after);
    QString text;
    switch (kind) {
    case Variable:
        text = perUser ? tr("%1 (this account only): %2").arg(name, change)
                       : name + QLatin1String(": ") + change;
        break;
    case File:
        text = QStringLiteral("%1 [%2] %3: %4").arg(path, section, key, change);
        break;
    case Preference:
        text = tr("last known server (%1): %2").arg(path, change);
        break;
    case UserVariableRemoved:
        text = tr("%1 removed from %2's own file %3 (was %4)").arg(name, account, path, quoted(before));
        break;
    }
    // Paths come from stored values too: the whole line is made printable, not the values alone.
    return ValueRules::printable(text);
}
