#include "set_rootBase.h"

#include "FormLayout.h"

#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

set_rootBase::set_rootBase(QWidget *parent, Qt::WindowFlags flags)
    : QDialog(parent, flags)
{
    setObjectName(QStringLiteral("set_rootBase"));
    set_rootBaseLayout = FormLayout::column(this, "set_rootBaseLayout");

    layout2 = FormLayout::row("layout2");
    path = FormLayout::add<QLineEdit>(this, layout2, "path");
    browse = FormLayout::add<QPushButton>(this, layout2, "browse");
    set_rootBaseLayout->addLayout(layout2);

    textLabel1 = FormLayout::add<QLabel>(this, set_rootBaseLayout, "textLabel1");
    previous = FormLayout::add<QListWidget>(this, set_rootBaseLayout, "previous");
    std::tie(Layout1, ok, cancel) =
        FormLayout::addButtonRow(this, set_rootBaseLayout, "Layout1", "ok", "cancel");

    languageChange();
    resize(QSize(390, 289).expandedTo(minimumSizeHint()));
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
    // What a screen reader says for the fields, which have no label of their own.
    path->setAccessibleName(tr("Root path"));
    previous->setAccessibleName(tr("Previous selections"));
}
