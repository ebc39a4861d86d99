#include "set_systemBase.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpacerItem>
#include <QVBoxLayout>

set_systemBase::set_systemBase(QWidget *parent, Qt::WindowFlags flags)
    : QDialog(parent, flags)
{
    setObjectName(QStringLiteral("set_systemBase"));
    setSizeGripEnabled(true);

    set_systemBaseLayout = new QVBoxLayout(this);
    set_systemBaseLayout->setObjectName(QStringLiteral("set_systemBaseLayout"));
    set_systemBaseLayout->setContentsMargins(11, 11, 11, 11);
    set_systemBaseLayout->setSpacing(6);

    textLabel1 = new QLabel(this);
    textLabel1->setObjectName(QStringLiteral("textLabel1"));
    set_systemBaseLayout->addWidget(textLabel1);

    system = new QLineEdit(this);
    system->setObjectName(QStringLiteral("system"));
    set_systemBaseLayout->addWidget(system);

    textLabel1_2 = new QLabel(this);
    textLabel1_2->setObjectName(QStringLiteral("textLabel1_2"));
    set_systemBaseLayout->addWidget(textLabel1_2);

    available = new QListWidget(this);
    available->setObjectName(QStringLiteral("available"));
    set_systemBaseLayout->addWidget(available);

    Layout1 = new QHBoxLayout();
    Layout1->setObjectName(QStringLiteral("Layout1"));
    Layout1->setContentsMargins(0, 0, 0, 0);
    Layout1->setSpacing(6);
    Layout1->addItem(new QSpacerItem(20, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));

    buttonOk = new QPushButton(this);
    buttonOk->setObjectName(QStringLiteral("buttonOk"));
    buttonOk->setAutoDefault(true);
    buttonOk->setDefault(true);
    Layout1->addWidget(buttonOk);

    buttonCancel = new QPushButton(this);
    buttonCancel->setObjectName(QStringLiteral("buttonCancel"));
    buttonCancel->setAutoDefault(true);
    Layout1->addWidget(buttonCancel);
    set_systemBaseLayout->addLayout(Layout1);

    languageChange();
    resize(QSize(304, 294).expandedTo(minimumSizeHint()));

    connect(buttonOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(buttonCancel, &QPushButton::clicked, this, &QDialog::reject);
}

set_systemBase::~set_systemBase() = default;

void set_systemBase::languageChange()
{
    setWindowTitle(tr("Set current system"));
    textLabel1->setText(tr("<p>Enter system name or select from the list below:</p>"));
    textLabel1_2->setText(tr("Available systems (taken from the current system root)"));
    buttonOk->setText(tr("&OK"));
    buttonCancel->setText(tr("&Cancel"));
}
