#include "trox_inst_envDialog.h"

#include "machinestore.h"
#include "pathrules.h"
#include "preferences.h"
#include "set_root.h"
#include "set_server.h"
#include "set_system.h"
#include "set_workstation.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimerEvent>

namespace {

QString lastKnownServerKey()
{
    return QLatin1String(Preferences::lastKnownServerGroup) + QLatin1Char('/') +
           QLatin1String(Preferences::lastKnownServerKey);
}

QString errorCaption()
{
    return QStringLiteral("TROX - Error");
}

} // namespace

trox_inst_envDialog::trox_inst_envDialog(QWidget *parent, const char *name, bool modal, Qt::WindowFlags fl)
    : trox_inst_envDialogBase(parent, name, modal, fl)
{
    connect(setRoot, &QPushButton::clicked, this, &trox_inst_envDialog::doSetRoot);
    connect(setSystem, &QPushButton::clicked, this, &trox_inst_envDialog::doSetSystem);
    connect(setServer, &QPushButton::clicked, this, &trox_inst_envDialog::doSetServer);
    connect(setReserveServer, &QPushButton::clicked, this, &trox_inst_envDialog::doSetReserveServer);
    connect(setWorkstation, &QPushButton::clicked, this, &trox_inst_envDialog::doSetWorkstation);
    connect(standalone, &QCheckBox::toggled, this, &trox_inst_envDialog::doStandAloneToggle);
    // The load waits for the event loop so that its error boxes appear over a shown dialog.
    startTimer(1);
}

trox_inst_envDialog::~trox_inst_envDialog() = default;

void trox_inst_envDialog::timerEvent(QTimerEvent *event)
{
    killTimer(event->timerId());

    const QList<StoredVariable> stored =
        loadStoredVariables({QStringLiteral("OV_ROOT"), QStringLiteral("OV_SYSTEM"),
                             QStringLiteral("OV_SERVER_ROOT"), QStringLiteral("OV_RESERVE_SERVER_ROOT"),
                             QStringLiteral("OV_WORKSTATION"), QStringLiteral("OV_DEVELOPER")});
    if (!stored.at(0).isSet()) {
        QMessageBox::critical(this, errorCaption(),
                              tr("The root path environment has not been set (OV_ROOT)"));
        reject();
    }
    if (!stored.at(1).isSet()) {
        QMessageBox::critical(this, errorCaption(),
                              tr("The system environment has not been set (OV_SYSTEM)"));
        reject();
    }

    loadedRoot = stored.at(0).value;
    loadedSystem = stored.at(1).value;
    loadedServerRoot = stored.at(2).value;
    loadedReserveServerRoot = stored.at(3).value;
    loadedWorkstation = stored.at(4).value;
    loadedDeveloper = stored.at(5).value == QLatin1String("true");

    root->setText(loadedRoot);
    system->setText(loadedSystem);
    server->setText(loadedServerRoot);
    reserveserver->setText(loadedReserveServerRoot);
    workstation->setText(loadedWorkstation);
    developer->setChecked(loadedDeveloper);
    checkPath();

    // Stand-alone has no variable of its own: it is a server root equal to the root.
    // Ticking the box disables the server widgets through its toggled signal.
    const bool standAlone = loadedRoot == loadedServerRoot;
    if (standAlone)
        server->setText(openPreferences()->value(lastKnownServerKey()).toString());
    standalone->setChecked(standAlone);
}

QString trox_inst_envDialog::systemDirectory() const
{
    return PathRules::native().join({root->text(), system->text()});
}

void trox_inst_envDialog::checkPath()
{
    warning->setText(QFileInfo(systemDirectory()).isDir() ? QString() : tr("This path does not exist!"));
}

void trox_inst_envDialog::doStandAloneToggle(bool on)
{
    server->setEnabled(!on);
    setServer->setEnabled(!on);
    reserveserver->setEnabled(!on);
    setReserveServer->setEnabled(!on);
}

// Each editor lives for one run of its slot and opens empty: it is not given the value shown.
void trox_inst_envDialog::doSetWorkstation()
{
    set_workstation editor;
    editor.setSystemPath(systemDirectory());
    if (editor.exec() == QDialog::Accepted)
        workstation->setText(editor.workstation->text());
}

void trox_inst_envDialog::doSetRoot()
{
    {
        set_root editor;
        if (editor.exec() == QDialog::Accepted)
            root->setText(editor.path->text());
    }
    checkPath();
}

void trox_inst_envDialog::doSetSystem()
{
    {
        set_system editor;
        editor.listSystems(root->text());
        if (editor.exec() == QDialog::Accepted)
            system->setText(editor.system->text());
    }
    checkPath();
}

void trox_inst_envDialog::doSetReserveServer()
{
    set_server editor;
    if (editor.exec() == QDialog::Accepted)
        reserveserver->setText(editor.server->text());
}

void trox_inst_envDialog::doSetServer()
{
    set_server editor;
    if (editor.exec() == QDialog::Accepted)
        server->setText(editor.server->text());
}

void trox_inst_envDialog::applyVariables(const QList<QPair<QString, QString>> &variables,
                                         QStringList &failures)
{
    const QList<VariableWrite> writes = setEnvironmentVariables(variables);
    for (qsizetype i = 0; i < writes.size(); ++i) {
        // Landing in the operator's own environment is the designed fallback, not a failure.
        if (writes.at(i).written())
            continue;
        const quint32 error = writes.at(i).userError ? writes.at(i).userError : writes.at(i).machineError;
        failures << tr("%1, neither machine-wide nor for this user: %2")
                        .arg(variables.at(i).first, describeStoreError(error));
    }
}

void trox_inst_envDialog::applyProfile(const QString &section, const QString &file, QStringList &failures)
{
    const quint32 error =
        writeProfileString(section, QStringLiteral("Workstation"), workstation->text(), file);
    if (error != 0)
        failures << tr("Workstation in %1: %2").arg(file, describeStoreError(error));
}

void trox_inst_envDialog::accept()
{
    ok->setText(tr("Wait.."));
    ok->setEnabled(false);
    cancel->setEnabled(false);
    ok->update();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);

    QStringList failures;
    // The changed variables go to the store together, so that the environment file is replaced once
    // for them; the developer flag follows the profile files on its own.
    QList<QPair<QString, QString>> variables;
    const auto apply = [&variables](const char *name, const QString &value, const QString &baseline) {
        if (value != baseline)
            variables.append({QLatin1String(name), value});
    };

    apply("OV_ROOT", root->text(), loadedRoot);
    apply("OV_SYSTEM", system->text(), loadedSystem);
    if (standalone->isChecked()) {
        apply("OV_SERVER_ROOT", root->text(), loadedServerRoot);
    } else {
        const QString lastServer = server->text();
        if (!savePreferences(
                [&lastServer](QSettings &store) { store.setValue(lastKnownServerKey(), lastServer); }))
            failures << tr("the last known server in %1").arg(openPreferences()->fileName());
        apply("OV_SERVER_ROOT", server->text(), loadedServerRoot);
    }
    apply("OV_RESERVE_SERVER_ROOT", reserveserver->text(), loadedReserveServerRoot);
    apply("OV_WORKSTATION", workstation->text(), loadedWorkstation);
    bool changed = !variables.isEmpty();
    if (changed)
        applyVariables(variables, failures);

    // An empty number would wipe a valid one stored in the files; leave them as they are.
    if (!workstation->text().isEmpty()) {
        applyProfile(QStringLiteral("Network"), QStringLiteral("xsv.ini"), failures);
        applyProfile(QStringLiteral("System"), QStringLiteral("taskbase.ini"), failures);
        applyProfile(QStringLiteral("Network"),
                     PathRules::native().join({root->text(), system->text(), QStringLiteral("config"),
                                               QStringLiteral("system"), QStringLiteral("trox_system.ini")}),
                     failures);
    }

    if (developer->isChecked() != loadedDeveloper) {
        applyVariables({{QStringLiteral("OV_DEVELOPER"),
                         developer->isChecked() ? QStringLiteral("true") : QStringLiteral("false")}},
                       failures);
        changed = true;
    }

    if (changed)
        broadcastEnvironmentChange();
    if (!failures.isEmpty()) {
        QMessageBox box(QMessageBox::Warning, errorCaption(),
                        tr("These settings could not be saved:\n\n%1").arg(failures.join(QLatin1Char('\n'))),
                        QMessageBox::Ok, this);
        box.setTextFormat(Qt::PlainText);
        box.exec();
    }
    if (changed) {
        QMessageBox::critical(
            this, tr("Information"),
            tr("<p><b>Important</b></p><p>You need to restart applications for this change to "
               "take effect, including all TROX applications and Visual Studio.</p>"));
    }
    QDialog::accept();
}
