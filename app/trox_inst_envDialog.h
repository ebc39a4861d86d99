#pragma once

#include "trox_inst_envDialogBase.h"

#include <QString>
#include <QStringList>

class QTimerEvent;

// The main settings dialog: loads the six values from the process environment once its event loop
// runs, lets the operator change them through the editors, and applies what changed on Ok.
class trox_inst_envDialog : public trox_inst_envDialogBase
{
    Q_OBJECT

public:
    explicit trox_inst_envDialog(QWidget *parent = nullptr, const char *name = nullptr, bool modal = false,
                                 Qt::WindowFlags fl = {});
    ~trox_inst_envDialog() override;

    // Shows or clears the warning under the system, by whether root and system name a directory.
    void checkPath();

public Q_SLOTS:
    void doSetWorkstation();
    void doSetRoot();
    void doSetSystem();
    void doSetReserveServer();
    void doSetServer();
    void doStandAloneToggle(bool on);
    void accept() override;

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    QString systemDirectory() const;
    void applyVariables(const QList<QPair<QString, QString>> &variables, QStringList &failures);
    void applyProfile(const QString &section, const QString &file, QStringList &failures);

    QString loadedRoot;
    QString loadedSystem;
    QString loadedServerRoot;
    QString loadedReserveServerRoot;
    QString loadedWorkstation;
    bool loadedDeveloper = false;
};
