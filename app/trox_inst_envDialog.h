#pragma once

#include "SettingsApplier.h"
#include "trox_inst_envDialogBase.h"

class QTimerEvent;

// The main settings dialog: once its event loop runs, loads the six values as a new login gets
// them (the store decides from where), lets the operator change them through the editors, and
// applies what changed on Ok.
class trox_inst_envDialog : public trox_inst_envDialogBase
{
    Q_OBJECT

public:
    explicit trox_inst_envDialog(QWidget *parent = nullptr, const char *name = nullptr, bool modal = false,
                                 Qt::WindowFlags fl = {});
    ~trox_inst_envDialog() override;

    // Shows or clears the warning under the system, by whether root and system name a directory.
    void checkPath();
    // Applies what changed, tells the operator what did not land machine-wide, and closes.
    void accept() override;

public Q_SLOTS:
    void doSetWorkstation();
    void doSetRoot();
    void doSetSystem();
    void doSetReserveServer();
    void doSetServer();
    void doStandAloneToggle(bool on);

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    SettingsApplier::Settings shownSettings() const;

    SettingsApplier::Settings m_loaded;
    QString m_etcEnvironmentNote; // the variables another line of /etc/environment also sets
};
