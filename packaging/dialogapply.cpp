// Applies settings through the main dialog as an operator does, without a screen: the dialog loads
// as at start, each value given is put into its label as its editor hands it back, the switches are
// set, Ok is pressed and every message box is answered. The boxes' texts go to standard error; the
// exit code is 1 when the dialog reported settings it could not save. The identity test compares the
// files this leaves with those of trox_inst_env_cli and of the playbook, which take the same
// arguments.
//
//   trox_dialog_apply [NAME=VALUE]... [--stand-alone | --no-stand-alone] [--developer | --no-developer]

#include "EditorRules.h"
#include "machinestore.h"
#include "SettingsApplier.h"
#include "trox_inst_envDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>

#include <cstdio>

namespace {

// The dialog, telling when its load has run.
class DrivenDialog : public trox_inst_envDialog
{
public:
    bool loaded = false;

protected:
    void timerEvent(QTimerEvent *event) override
    {
        trox_inst_envDialog::timerEvent(event);
        loaded = true;
    }
};

} // namespace

int main(int argc, char *argv[])
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Where the dialog reads its process environment, it must start from the stored values too.
    const QStringList names = SettingsApplier::variableNames();
    const QList<StoredVariable> stored = loadStoredVariables(names);
    for (qsizetype i = 0; i < names.size(); ++i) {
        if (stored.at(i).isSet())
            qputenv(qPrintable(names.at(i)), stored.at(i).value.toUtf8());
        else
            qunsetenv(qPrintable(names.at(i)));
    }

    QApplication app(argc, argv);
    const QStringList arguments = QApplication::arguments().mid(1);
    DrivenDialog dialog;
    bool failed = false;
    bool edited = false;
    const EditorRules rules;

    // The operator's part: once the load has run, the values as the editors return them, then Ok;
    // and an answer to every box.
    QTimer operatorTimer;
    QObject::connect(&operatorTimer, &QTimer::timeout, &dialog, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            std::fprintf(stderr, "%s\n", qPrintable(box->text()));
            failed = failed || box->icon() == QMessageBox::Warning;
            box->accept();
            return;
        }
        if (edited || !dialog.loaded || !dialog.isVisible())
            return;
        edited = true;
        for (const QString &argument : arguments) {
            const QString name = argument.section(QLatin1Char('='), 0, 0);
            const QString value = argument.section(QLatin1Char('='), 1);
            if (name == QLatin1String("OV_ROOT"))
                dialog.root->setText(rules.normalisedRoot(value));
            else if (name == QLatin1String("OV_SYSTEM"))
                dialog.system->setText(value);
            else if (name == QLatin1String("OV_SERVER_ROOT"))
                dialog.server->setText(rules.normalisedServer(value));
            else if (name == QLatin1String("OV_RESERVE_SERVER_ROOT"))
                dialog.reserveserver->setText(rules.normalisedServer(value));
            else if (name == QLatin1String("OV_WORKSTATION"))
                dialog.workstation->setText(value);
        }
        if (arguments.contains(QLatin1String("--stand-alone")))
            dialog.standalone->setChecked(true);
        else if (arguments.contains(QLatin1String("--no-stand-alone")) ||
                 !arguments.filter(QRegularExpression(QStringLiteral("^OV_SERVER_ROOT="))).isEmpty())
            dialog.standalone->setChecked(false);
        if (arguments.contains(QLatin1String("--developer")))
            dialog.developer->setChecked(true);
        else if (arguments.contains(QLatin1String("--no-developer")))
            dialog.developer->setChecked(false);
        dialog.checkPath();
        // Queued: Ok's message boxes wait on this timer, which does not fire again inside its own slot.
        QMetaObject::invokeMethod(dialog.ok, &QPushButton::click, Qt::QueuedConnection);
    });
    operatorTimer.start(5);
    dialog.exec();
    return failed || dialog.result() != QDialog::Accepted ? 1 : 0;
}
