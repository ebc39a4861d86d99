#include "set_serverBase.h"

#include "FormLayout.h"
#include "pathrules.h"

#include <QColor>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPalette>
#include <QPushButton>
#include <QTextDocumentFragment>

set_serverBase::set_serverBase(QWidget *parent, Qt::WindowFlags flags)
    : QDialog(parent, flags)
{
    setObjectName(QStringLiteral("set_serverBase"));
    set_serverBaseLayout = FormLayout::column(this, "set_serverBaseLayout");

    textLabel1 = FormLayout::add<QLabel>(this, set_serverBaseLayout, "textLabel1");
    server = FormLayout::add<QLineEdit>(this, set_serverBaseLayout, "server");
    validvalue = FormLayout::add<QLabel>(this, set_serverBaseLayout, "validvalue");
    QPalette red = validvalue->palette();
    red.setColor(QPalette::WindowText, QColor(255, 0, 0));
    validvalue->setPalette(red);
    textLabel1_2 = FormLayout::add<QLabel>(this, set_serverBaseLayout, "textLabel1_2");
    previous = FormLayout::add<QListWidget>(this, set_serverBaseLayout, "previous");
    std::tie(Layout1, buttonOk, buttonCancel) =
        FormLayout::addButtonRow(this, set_serverBaseLayout, "Layout1", "buttonOk", "buttonCancel");

    languageChange();
    resize(QSize(442, 273).expandedTo(minimumSizeHint()));
}

set_serverBase::~set_serverBase() = default;

void set_serverBase::languageChange()
{
    setWindowTitle(tr("Set path to system server"));
    const PathRules rules = PathRules::native();
    const QString help = rules.examplePaths(
        tr("<p>This is the Windows path to the server with the master copy for this system.</p>\n"
           "<p>Typical values might be:<br>\n"
           "  \\\\fileserver\\trox\\systems<br>\n"
           "or<br>\n"
           "  \\\\192.168.10.20\\trox<br>\n"
           "or<br>\n"
           "c:\\mysystem</p>"));
    setToolTip(help + QLatin1Char('\n'));
    setWhatsThis(help);
    setAccessibleDescription(QTextDocumentFragment::fromHtml(help).toPlainText().trimmed());
    textLabel1->setText(rules.examplePaths(tr("Enter path to server (e.g. \\\\fileserver\\trox\\systems)")));
    textLabel1_2->setText(tr("Previous selections..."));
    buttonOk->setText(tr("&OK"));
    buttonCancel->setText(tr("&Cancel"));
    server->setAccessibleName(tr("Server path"));
    previous->setAccessibleName(tr("Previous selections"));
}
