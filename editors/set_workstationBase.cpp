#include "set_workstationBase.h"

#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpacerItem>
#include <QVBoxLayout>

set_workstationBase::set_workstationBase(QWidget *parent, Qt::WindowFlags flags)
    : QDialog(parent, flags)
{
    setObjectName(QStringLiteral("set_workstationBase"));
    setSizeGripEnabled(true);

    set_workstationBaseLayout = new QVBoxLayout(this);
    set_workstationBaseLayout->setObjectName(QStringLiteral("set_workstationBaseLayout"));
    set_workstationBaseLayout->setContentsMargins(11, 11, 11, 11);
    set_workstationBaseLayout->setSpacing(6);

    textLabel1 = new QLabel(this);
    textLabel1->setObjectName(QStringLiteral("textLabel1"));
    set_workstationBaseLayout->addWidget(textLabel1);

    layout2 = new QHBoxLayout();
    layout2->setObjectName(QStringLiteral("layout2"));
    layout2->setContentsMargins(0, 0, 0, 0);
    layout2->setSpacing(6);

    workstation = new QLineEdit(this);
    workstation->setObjectName(QStringLiteral("workstation"));
    layout2->addWidget(workstation);

    browse = new QPushButton(this);
    browse->setObjectName(QStringLiteral("browse"));
    layout2->addWidget(browse);
    set_workstationBaseLayout->addLayout(layout2);

    set_workstationBaseLayout->addItem(new QSpacerItem(20, 16, QSizePolicy::Minimum, QSizePolicy::Expanding));

    layout3 = new QHBoxLayout();
    layout3->setObjectName(QStringLiteral("layout3"));
    layout3->setContentsMargins(0, 0, 0, 0);
    layout3->setSpacing(6);
    layout3->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));

    buttonOk = new QPushButton(this);
    buttonOk->setObjectName(QStringLiteral("buttonOk"));
    buttonOk->setAutoDefault(true);
    buttonOk->setDefault(true);
    layout3->addWidget(buttonOk);

    buttonCancel = new QPushButton(this);
    buttonCancel->setObjectName(QStringLiteral("buttonCancel"));
    buttonCancel->setAutoDefault(true);
    layout3->addWidget(buttonCancel);
    set_workstationBaseLayout->addLayout(layout3);

    languageChange();
    resize(QSize(322, 116).expandedTo(minimumSizeHint()));

    connect(buttonOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(buttonCancel, &QPushButton::clicked, this, &QDialog::reject);
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
}
