#include "set_workstation.h"

#include "browseWorkstations.h"
#include "EditorRules.h"

#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

set_workstation::set_workstation(QWidget *parent, Qt::WindowFlags flags)
    : set_workstationBase(parent, flags)
{
    connect(browse, &QPushButton::clicked, this, &set_workstation::doBrowseWorkstations);
}

set_workstation::~set_workstation() = default;

void set_workstation::setSystemPath(const QString &path)
{
    systemPath = path;
}

void set_workstation::accept()
{
    // The text itself is handed back, so "007" stays "007" even though it counts as 7.
    if (!EditorRules::validWorkstation(workstation->text())) {
        QMessageBox::information(this, QStringLiteral("Errm"),
                                 QStringLiteral("The workstation number must be between 1 and 999"));
        return;
    }
    QDialog::accept();
}

void set_workstation::doBrowseWorkstations()
{
    browseWorkstations browser;
    browser.loadWorkstations(systemPath);
    if (browser.exec() == QDialog::Accepted) {
        workstation->setText(browser.workstationId);
        // On the number, so that the next Enter accepts it rather than opening the browser again.
        workstation->setFocus(Qt::OtherFocusReason);
    }
}
