#include "set_serverBase.h"

#include <QColor>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPalette>
#include <QPushButton>
#include <QSpacerItem>
#include <QVBoxLayout>

set_serverBase::set_serverBase(QWidget *parent, Qt::WindowFlags flags)
    : QDialog(parent, flags)
{
    setObjectName(QStringLiteral("set_serverBase"));
    setSizeGripEnabled(true);

    set_serverBaseLayout = new QVBoxLayout(this);
    set_serverBaseLayout->setObjectName(QStringLiteral("set_serverBaseLayout"));
    set_serverBaseLayout->setContentsMargins(11, 11, 11, 11);
    set_serverBaseLayout->setSpacing(6);

    textLabel1 = new QLabel(this);
    textLabel1->setObjectName(QStringLiteral("textLabel1"));
    set_serverBaseLayout->addWidget(textLabel1);

    server = new QLineEdit(this);
    server->setObjectName(QStringLiteral("server"));
    set_serverBaseLayout->addWidget(server);

    validvalue = new QLabel(this);
    validvalue->setObjectName(QStringLiteral("validvalue"));
    QPalette red = validvalue->palette();
    red.setColor(QPalette::WindowText, QColor(255, 0, 0));
    validvalue->setPalette(red);
    set_serverBaseLayout->addWidget(validvalue);

    textLabel1_2 = new QLabel(this);
    textLabel1_2->setObjectName(QStringLiteral("textLabel1_2"));
    set_serverBaseLayout->addWidget(textLabel1_2);

    previous = new QListWidget(this);
    previous->setObjectName(QStringLiteral("previous"));
    set_serverBaseLayout->addWidget(previous);

    Layout1 = new QHBoxLayout;
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
    set_serverBaseLayout->addLayout(Layout1);

    languageChange();
    resize(QSize(442, 273).expandedTo(minimumSizeHint()));

    connect(buttonOk, &QPushButton::clicked, this, &set_serverBase::accept);
    connect(buttonCancel, &QPushButton::clicked, this, &set_serverBase::reject);
}

set_serverBase::~set_serverBase() = default;

void set_serverBase::languageChange()
{
    setWindowTitle(tr("Set path to system server"));
    const QString help =
        tr("<p>This is the Windows path to the server with the master copy for this system.</p>\n"
           "<p>Typical values might be:<br>\n"
           "  \\\\fileserver\\trox\\systems<br>\n"
           "or<br>\n"
           "  \\\\192.168.10.20\\trox<br>\n"
           "or<br>\n"
           "c:\\mysystem</p>");
    setToolTip(help + QLatin1Char('\n'));
    setWhatsThis(help);
    textLabel1->setText(tr("Enter path to server (e.g. \\\\fileserver\\trox\\systems)"));
    textLabel1_2->setText(tr("Previous selections..."));
    buttonOk->setText(tr("&OK"));
    buttonCancel->setText(tr("&Cancel"));
}
