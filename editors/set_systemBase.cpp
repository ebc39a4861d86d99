#include "set_systemBase.h"

#include "FormLayout.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

set_systemBase::set_systemBase(QWidget *parent, Qt::WindowFlags flags)
    : QDialog(parent, flags)
{
    setObjectName(QStringLiteral("set_systemBase"));
    set_systemBaseLayout = FormLayout::column(this, "set_systemBaseLayout");

    textLabel1 = FormLayout::add<QLabel>(this, set_systemBaseLayout, "textLabel1");
    // Rich text wraps in the dialog's width rather than widening it.
    textLabel1->setWordWrap(true);
    system = FormLayout::add<QLineEdit>(this, set_systemBaseLayout, "system");
    textLabel1_2 = FormLayout::add<QLabel>(this, set_systemBaseLayout, "textLabel1_2");
    available = FormLayout::add<QListWidget>(this, set_systemBaseLayout, "available");
    std::tie(Layout1, buttonOk, buttonCancel) =
        FormLayout::addButtonRow(this, set_systemBaseLayout, "Layout1", "buttonOk", "buttonCancel");

    languageChange();
    resize(QSize(304, 294).expandedTo(minimumSizeHint()));
}

set_systemBase::~set_systemBase() = default;

void set_systemBase::languageChange()
{
    setWindowTitle(tr("Set current system"));
    textLabel1->setText(tr("<p>Enter system name or select from the list below:</p>"));
    textLabel1_2->setText(tr("Available systems (taken from the current system root)"));
    buttonOk->setText(tr("&OK"));
    buttonCancel->setText(tr("&Cancel"));
    // What a screen reader says for the fields; the prompt above the name is rich text.
    system->setAccessibleName(tr("System name"));
    available->setAccessibleName(tr("Available systems"));
}
