#pragma once

#include <QList>
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
    };

    // One write, in the order Ok makes them.
    struct Step
    {
        enum Kind { Variable, LastKnownServer, ProfileFile };
        Kind kind = Variable;
        QString target;  // the variable, the profile file (a bare name or a path), or empty
        QString section; // profile files only
        QString value;
    };

    // Where one write went.
    struct Outcome
    {
        enum Landing { MachineWide, PerUser, InFile, Failed };
        Step step;
        Landing landing = Failed;
        quint32 machineError = 0; // why a variable did not land machine-wide
        quint32 error = 0;        // why it failed; 0 when the store gave no code
    };

    struct Report
    {
        QList<Outcome> outcomes;
        bool changed = false;    // a variable was written, so the change was announced
        bool privileged = false; // a per-user landing then reaches nobody else and counts as a failure
        QString account;
        bool nextLoginOnly = false; // changed, with no session bus of this account's to announce it on

        // The failures and the per-user landings in plain words; empty when everything landed
        // machine-wide or in its file.
        QString warning() const;
        bool allWritten() const;
        // For the restart notice: when the running session sees the change only at its next login.
        QString sessionNote() const;
    };

    // The six variables in the order loadStoredVariables() is asked for them here.
    static QStringList variableNames();
    // The settings the variables of variableNames() give; stand-alone when the server root is the root.
    static Settings settingsOf(const QList<StoredVariable> &stored);

    // The writes Ok makes for these settings, without making them.
    static QList<Step> plan(const Settings &loaded, const Settings &edited);
    // Makes the planned writes and announces a changed variable.
    static Report apply(const Settings &loaded, const Settings &edited);

    static QString profileKey();
};
