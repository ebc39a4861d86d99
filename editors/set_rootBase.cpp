#include "set_rootBase.h"

#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpacerItem>
#include <QVBoxLayout>

set_rootBase::set_rootBase(QWidget *parent, Qt::WindowFlags flags)
    : QDialog(parent, flags)
{
    setObjectName(QStringLiteral("set_rootBase"));
    setSizeGripEnabled(true);

    set_rootBaseLayout = new QVBoxLayout(this);
    set_rootBaseLayout->setObjectName(QStringLiteral("set_rootBaseLayout"));
    set_rootBaseLayout->setContentsMargins(11, 11, 11, 11);
    set_rootBaseLayout->setSpacing(6);

    layout2 = new QHBoxLayout;
    layout2->setObjectName(QStringLiteral("layout2"));
    layout2->setContentsMargins(0, 0, 0, 0);
    layout2->setSpacing(6);

    path = new QLineEdit(this);
    path->setObjectName(QStringLiteral("path"));
    layout2->addWidget(path);

    browse = new QPushButton(this);
    browse->setObjectName(QStringLiteral("browse"));
    layout2->addWidget(browse);
    set_rootBaseLayout->addLayout(layout2);

    textLabel1 = new QLabel(this);
    textLabel1->setObjectName(QStringLiteral("textLabel1"));
    set_rootBaseLayout->addWidget(textLabel1);

    previous = new QListWidget(this);
    previous->setObjectName(QStringLiteral("previous"));
    set_rootBaseLayout->addWidget(previous);

    Layout1 = new QHBoxLayout;
    Layout1->setObjectName(QStringLiteral("Layout1"));
    Layout1->setContentsMargins(0, 0, 0, 0);
    Layout1->setSpacing(6);
    Layout1->addItem(new QSpacerItem(20, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));

    ok = new QPushButton(this);
    ok->setObjectName(QStringLiteral("ok"));
    ok->setAutoDefault(true);
    ok->setDefault(true);
    Layout1->addWidget(ok);

    cancel = new QPushButton(this);
    cancel->setObjectName(QStringLiteral("cancel"));
    cancel->setAutoDefault(true);
    Layout1->addWidget(cancel);
    set_rootBaseLayout->addLayout(Layout1);

    languageChange();
    resize(QSize(390, 289).expandedTo(minimumSizeHint()));

    connect(ok, &QPushButton::clicked, this, &set_rootBase::accept);
    connect(cancel, &QPushButton::clicked, this, &set_rootBase::reject);
}

set_rootBase::~set_rootBase() = default;

void set_rootBase::languageChange()
{
    setWindowTitle(tr("Set root path for Orvane Control Systems"));
    browse->setText(tr("Browse"));
    textLabel1->setText(tr("Previous selections..."));
    ok->setText(tr("&OK"));
    ok->setShortcut(QKeySequence(tr("Alt+O")));
    cancel->setText(tr("&Cancel"));
    cancel->setShortcut(QKeySequence(tr("Alt+C")));
}
