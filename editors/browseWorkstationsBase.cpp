#include "browseWorkstationsBase.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSpacerItem>
#include <QVBoxLayout>

browseWorkstationsBase::browseWorkstationsBase(QWidget *parent, Qt::WindowFlags flags)
    : QDialog(parent, flags)
{
    setObjectName(QStringLiteral("browseWorkstationsBase"));
    setSizeGripEnabled(true);

    browseWorkstationsBaseLayout = new QVBoxLayout(this);
    browseWorkstationsBaseLayout->setObjectName(QStringLiteral("browseWorkstationsBaseLayout"));
    browseWorkstationsBaseLayout->setContentsMargins(11, 11, 11, 11);
    browseWorkstationsBaseLayout->setSpacing(6);

    textLabel1 = new QLabel(this);
    textLabel1->setObjectName(QStringLiteral("textLabel1"));
    textLabel1->setSizePolicy(QSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred));
    browseWorkstationsBaseLayout->addWidget(textLabel1);

    showPath = new QLabel(this);
    showPath->setObjectName(QStringLiteral("showPath"));
    showPath->setFrameShape(QFrame::Panel);
    showPath->setFrameShadow(QFrame::Sunken);
    browseWorkstationsBaseLayout->addWidget(showPath);

    workstations = new QListWidget(this);
    workstations->setObjectName(QStringLiteral("workstations"));
    browseWorkstationsBaseLayout->addWidget(workstations);

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
    browseWorkstationsBaseLayout->addLayout(Layout1);

    languageChange();
    resize(QSize(519, 291).expandedTo(minimumSizeHint()));

    connect(buttonOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(buttonCancel, &QPushButton::clicked, this, &QDialog::reject);
}

browseWorkstationsBase::~browseWorkstationsBase() = default;

void browseWorkstationsBase::languageChange()
{
    setWindowTitle(tr("Browse Workstations"));
    textLabel1->setText(tr("Workstation list from system:"));
    buttonOk->setText(tr("&OK"));
    buttonCancel->setText(tr("&Cancel"));
}
