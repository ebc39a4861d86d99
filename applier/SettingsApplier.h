#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QtGlobal>

struct StoredVariable;

// What Ok does, without the dialog: from the settings loaded at start and the settings as edited, the
// writes (changed variables, the last known server, the three profile files, the developer flag),
// made through the store and followed by one announcement when a variable changed. The variables,
// the developer flag among them, are written together first; the report keeps the order above.
// Each write reports where it landed or why it failed; nothing stops at a failure.
class SettingsApplier
{
public:
    // The six values and the two switches. Outside stand-alone mode `server` is the server root; in
    // stand-alone mode the root is the server root and `server` is the last known server, kept for
    // the moment the switch goes off. A baseline's `standAlone` is not looked at.
    struct Settings
    {
        QString root;
        QString system;
        QString server;
        QString reserveServer;
        QString workstation;
        bool standAlone = false;
        bool developer = false;
        // A baseline's: OV_DEVELOPER holds exactly "true" or "false". An edit's: the flag is to be
        // stored as "true" or "false" even where the baseline holds neither.
        bool developerStored = true;
        bool ensureDeveloper = false;
        // An edit's: the number also goes into the system's own profile file, which a workstation
        // whose system tree is not copied yet does not have.
        bool systemProfile = true;
    };

    // One write, in the order Ok makes them.
    struct Step
    {
        // InvokingUserFile: removing variables written machine-wide from the own file of the user
        // root acts for; SessionCopy: the machine-wide copy for sessions that read no environment.d
        // file. The plan has neither.
        enum Kind { Variable, LastKnownServer, ProfileFile, InvokingUserFile, SessionCopy };
        Kind kind = Variable;
        QString target;  // the variable, the profile file (a bare name or a path), or empty
        QString section; // profile files; the account whose file it is
        QString value;   // the value; the variables to be removed
    };

    // Where one write went.
    struct Outcome
    {
        enum Landing { MachineWide, PerUser, InFile, Failed };
        Step step;
        Landing landing = Failed;
        quint32 machineError = 0; // why a variable did not land machine-wide
        quint32 error = 0;        // why it failed; 0 when the store gave no code
        bool changed = true;      // a variable: the store held another value before
    };

    // One value or file that Ok changed, or in a dry run would change; the same as data and as words.
    struct Change
    {
        enum Kind { Variable, File, Preference, UserVariableRemoved };
        Kind kind = Variable;
        QString name;    // the variable (Variable, UserVariableRemoved)
        QString path;    // the file (File, Preference, UserVariableRemoved)
        QString section; // File and Preference
        QString key;
        bool perUser = false; // Variable: landed in the per-user store of the account writing it
        QString account;      // UserVariableRemoved: whose file
        QString before;       // null: not set before
        QString after;        // null: not set afterwards
        // One line for the operator and the system log.
        QString line() const;
    };

    struct Report
    {
        QList<Outcome> outcomes;
        QList<Change> changes;   // what differs now from before, in the order of the writes
        bool changed = false;    // a variable changed or failed to; the change was announced
        bool privileged = false; // a per-user landing then reaches nobody else and counts as a failure
        QString account;
        bool nextLoginOnly = false; // changed, with no session bus of this account's to announce it on

        // The failures and the per-user landings in plain words; empty when everything landed
        // machine-wide or in its file.
        QString warning() const;
        // The same in two parts: what was not written, and what landed for this account only.
        QStringList failures() const;
        QStringList notes() const;
        bool allWritten() const;
        // For the restart notice: when the running session sees the change only at its next login.
        QString sessionNote() const;

    private:
        QMap<quint32, QStringList> perUserByReason() const;
    };

    // The six variables in the order loadStoredVariables() is asked for them here.
    static QStringList variableNames();
    // The settings the variables of variableNames() give; stand-alone when the server root is the root.
    static Settings settingsOf(const QList<StoredVariable> &stored);

    // The writes Ok makes for these settings, without making them.
    static QList<Step> plan(const Settings &loaded, const Settings &edited);
    // What a write is measured against: the settings loaded, but with root rights the machine-wide
    // value wherever root's own per-user value won, which must neither hide nor stand in for it.
    static Settings writeBaseline(const Settings &loaded);
    // Makes the planned writes that change something and announces a changed variable. With root
    // rights for another user (sudo, pkexec), variables now written machine-wide leave that user's own
    // file, where they would hide the new values. Each change goes to the system log. A dry run only
    // reports what it would change.
    static Report apply(const Settings &loaded, const Settings &edited, bool dryRun = false);

    static QString profileKey();
};
