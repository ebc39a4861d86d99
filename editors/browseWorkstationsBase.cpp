#include "browseWorkstationsBase.h"

#include "FormLayout.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>

browseWorkstationsBase::browseWorkstationsBase(QWidget *parent, Qt::WindowFlags flags)
    : QDialog(parent, flags)
{
    setObjectName(QStringLiteral("browseWorkstationsBase"));
    browseWorkstationsBaseLayout = FormLayout::column(this, "browseWorkstationsBaseLayout");

    textLabel1 = FormLayout::add<QLabel>(this, browseWorkstationsBaseLayout, "textLabel1");
    textLabel1->setSizePolicy(QSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred));
    showPath = FormLayout::add<QLabel>(this, browseWorkstationsBaseLayout, "showPath");
    showPath->setFrameShape(QFrame::Panel);
    showPath->setFrameShadow(QFrame::Sunken);
    workstations = FormLayout::add<QListWidget>(this, browseWorkstationsBaseLayout, "workstations");
    std::tie(Layout1, buttonOk, buttonCancel) =
        FormLayout::addButtonRow(this, browseWorkstationsBaseLayout, "Layout1", "buttonOk", "buttonCancel");

    languageChange();
    resize(QSize(519, 291).expandedTo(minimumSizeHint()));
}

browseWorkstationsBase::~browseWorkstationsBase() = default;

void browseWorkstationsBase::languageChange()
{
    setWindowTitle(tr("Browse Workstations"));
    textLabel1->setText(tr("Workstation list from system:"));
    buttonOk->setText(tr("&OK"));
    buttonCancel->setText(tr("&Cancel"));
    workstations->setAccessibleName(tr("Workstations"));
}
