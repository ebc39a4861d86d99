#include "trox_inst_envDialog.h"

#include "EditorRules.h"
#include "machinestore.h"
#include "preferences.h"
#include "set_root.h"
#include "set_server.h"
#include "set_system.h"
#include "set_workstation.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimerEvent>

namespace {

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

    const QList<StoredVariable> stored = loadStoredVariables(SettingsApplier::variableNames());
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

    m_loaded = SettingsApplier::settingsOf(stored);
    QStringList alsoSet;
    for (qsizetype i = 0; i < stored.size(); ++i) {
        if (!stored.at(i).etcEnvironment.isNull())
            alsoSet << SettingsApplier::variableNames().at(i);
    }
    if (!alsoSet.isEmpty())
        m_etcEnvironmentNote = tr("/etc/environment also sets %1: some sessions get that value.")
                                   .arg(alsoSet.join(QLatin1String(", ")));

    root->setText(m_loaded.root);
    system->setText(m_loaded.system);
    server->setText(m_loaded.server);
    reserveserver->setText(m_loaded.reserveServer);
    workstation->setText(m_loaded.workstation);
    developer->setChecked(m_loaded.developer);
    checkPath();

    // Stand-alone has no variable of its own: it is a server root equal to the root.
    // Ticking the box disables the server widgets through its toggled signal.
    if (m_loaded.standAlone)
        server->setText(lastKnownServer());
    standalone->setChecked(m_loaded.standAlone);
}

void trox_inst_envDialog::checkPath()
{
    QStringList lines;
    if (!EditorRules().systemExists(root->text(), system->text()))
        lines << tr("This path does not exist!");
    if (!m_etcEnvironmentNote.isEmpty())
        lines << m_etcEnvironmentNote;
    warning->setText(lines.join(QLatin1Char('\n')));
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
    editor.setSystemPath(EditorRules().systemDirectory(root->text(), system->text()));
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
    // One editor class serves both servers; the title stays, a screen reader hears which one it is.
    editor.setAccessibleName(tr("Set path to reserve server"));
    editor.server->setAccessibleName(tr("Reserve server path"));
    if (editor.exec() == QDialog::Accepted)
        reserveserver->setText(editor.server->text());
}

void trox_inst_envDialog::doSetServer()
{
    set_server editor;
    if (editor.exec() == QDialog::Accepted)
        server->setText(editor.server->text());
}

SettingsApplier::Settings trox_inst_envDialog::shownSettings() const
{
    SettingsApplier::Settings shown;
    shown.root = root->text();
    shown.system = system->text();
    shown.server = server->text();
    shown.reserveServer = reserveserver->text();
    shown.workstation = workstation->text();
    shown.standAlone = standalone->isChecked();
    shown.developer = developer->isChecked();
    return shown;
}

void trox_inst_envDialog::accept()
{
    ok->setText(tr("Wait.."));
    ok->setEnabled(false);
    cancel->setEnabled(false);
    ok->update();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);

    const SettingsApplier::Report report = SettingsApplier::apply(m_loaded, shownSettings());
    const QString warningText = report.warning();
    if (!warningText.isEmpty()) {
        QMessageBox box(QMessageBox::Warning, errorCaption(), warningText, QMessageBox::Ok, this);
        box.setTextFormat(Qt::PlainText);
        box.exec();
    }
    if (report.changed) {
        QMessageBox::critical(
            this, tr("Information"),
            tr("<p><b>Important</b></p><p>You need to restart applications for this change to "
               "take effect, including all TROX applications and Visual Studio.</p>") +
                (report.nextLoginOnly ? QStringLiteral("<p>%1</p>").arg(report.sessionNote().toHtmlEscaped())
                                      : QString()));
    }
    QDialog::accept();
}
