#include "set_workstationBase.h"

#include "FormLayout.h"

#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpacerItem>

set_workstationBase::set_workstationBase(QWidget *parent, Qt::WindowFlags flags)
    : QDialog(parent, flags)
{
    setObjectName(QStringLiteral("set_workstationBase"));
    set_workstationBaseLayout = FormLayout::column(this, "set_workstationBaseLayout");

    textLabel1 = FormLayout::add<QLabel>(this, set_workstationBaseLayout, "textLabel1");

    layout2 = FormLayout::row("layout2");
    workstation = FormLayout::add<QLineEdit>(this, layout2, "workstation");
    browse = FormLayout::add<QPushButton>(this, layout2, "browse");
    set_workstationBaseLayout->addLayout(layout2);

    set_workstationBaseLayout->addItem(new QSpacerItem(20, 16, QSizePolicy::Minimum, QSizePolicy::Expanding));
    std::tie(layout3, buttonOk, buttonCancel) =
        FormLayout::addButtonRow(this, set_workstationBaseLayout, "layout3", "buttonOk", "buttonCancel", 40);

    languageChange();
    resize(QSize(322, 116).expandedTo(minimumSizeHint()));
}

set_workstationBase::~set_workstationBase() = default;

void set_workstationBase::languageChange()
{
    setWindowTitle(tr("Set Workstation Number"));
    textLabel1->setText(tr("Enter workstation number (1 - 999)"));
    browse->setText(tr("Browse"));
    buttonOk->setText(tr("&OK"));
    buttonOk->setShortcut(QKeySequence(tr("Alt+O")));
    buttonCancel->setText(tr("&Cancel"));
    buttonCancel->setShortcut(QKeySequence(tr("Alt+C")));
    workstation->setAccessibleName(tr("Workstation number"));
}
