#include "SettingsApplier.h"

#include "EditorRules.h"
#include "machinestore.h"
#include "preferences.h"

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
void writeVariables(QList<SettingsApplier::Outcome> &variables)
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
        outcome.landing = write.where == VariableWrite::MachineWide ? SettingsApplier::Outcome::MachineWide
                          : write.where == VariableWrite::PerUser   ? SettingsApplier::Outcome::PerUser
                                                                    : SettingsApplier::Outcome::Failed;
        if (!write.written())
            outcome.error = write.userError ? write.userError : write.machineError;
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
    settings.standAlone = settings.root == settings.server;
    return settings;
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
        steps.append({Step::ProfileFile, EditorRules().systemProfile(edited.root, edited.system),
                      QStringLiteral("Network"), edited.workstation});
    }
    if (edited.developer != loaded.developer)
        steps.append({Step::Variable, QStringLiteral("OV_DEVELOPER"), QString(),
                      edited.developer ? QStringLiteral("true") : QStringLiteral("false")});
    return steps;
}

SettingsApplier::Report SettingsApplier::apply(const Settings &loaded, const Settings &edited)
{
    Report report;
    report.privileged = runsPrivileged();
    report.account = accountName();
    const QList<Step> steps = plan(loaded, edited);
    QList<Outcome> variables;
    for (const Step &step : steps) {
        if (step.kind == Step::Variable)
            variables.append(Outcome{step});
    }
    writeVariables(variables);
    report.changed = !variables.isEmpty();
    auto nextVariable = variables.cbegin();
    // The report keeps the order of the plan.
    for (const Step &step : steps) {
        Outcome outcome;
        outcome.step = step;
        switch (step.kind) {
        case Step::Variable:
            outcome = *nextVariable++;
            break;
        case Step::LastKnownServer: {
            const QString &server = step.value;
            const bool saved = savePreferences([&server](QSettings &store) {
                store.setValue(QLatin1String(Preferences::lastKnownServerPath), server);
            });
            outcome.step.target = openPreferences()->fileName();
            outcome.landing = saved ? Outcome::InFile : Outcome::Failed;
            break;
        }
        case Step::ProfileFile:
            outcome.error = writeProfileString(step.section, profileKey(), step.value, step.target);
            outcome.landing = outcome.error == 0 ? Outcome::InFile : Outcome::Failed;
            break;
        }
        report.outcomes.append(outcome);
    }
    if (report.changed)
        broadcastEnvironmentChange();
    report.nextLoginOnly = report.changed && !reachesOwnSession();
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

QString SettingsApplier::Report::warning() const
{
    QStringList failures;
    // Variables that landed for this account alone, by the reason the machine-wide write gave.
    QMap<quint32, QStringList> perUser;
    for (const Outcome &outcome : outcomes) {
        if (outcome.landing == Outcome::PerUser) {
            perUser[outcome.machineError].append(outcome.step.target);
            continue;
        }
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
            failures
                << tr("Workstation in %1: %2").arg(outcome.step.target, describeStoreError(outcome.error));
            break;
        }
    }

    QStringList notes;
    for (auto it = perUser.cbegin(); it != perUser.cend(); ++it) {
        const QString names = it.value().join(QLatin1String(", "));
        const QString reason = describeStoreError(it.key());
        if (privileged)
            failures << tr("%1 only for the account %2, which reaches no other user; the machine-wide write "
                           "failed: %3")
                            .arg(names, account, reason);
        else
            notes << tr("%1 saved for the account %2 only, because the machine-wide write failed: %3. Other "
                        "users of this workstation do not get them.")
                         .arg(names, account, reason);
    }

    QStringList parts;
    if (!failures.isEmpty())
        parts << tr("These settings could not be saved:\n\n%1").arg(failures.join(QLatin1Char('\n')));
    parts += notes;
    return parts.join(QLatin1String("\n\n"));
}
