#include "set_root.h"

#include "EditorRules.h"
#include "preferences.h"
#include "RecentList.h"

#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

set_root::set_root(QWidget *parent, Qt::WindowFlags flags)
    : set_rootBase(parent, flags)
    , m_rules(PathRules::native())
{
    connect(browse, &QPushButton::clicked, this, &set_root::doBrowse);
    connect(previous, &QListWidget::currentItemChanged, this, &set_root::previousSelected);
    connect(previous, &QListWidget::itemDoubleClicked, this, &set_root::accept);
    RecentList::load(previous, QLatin1String(Preferences::recentRootGroup));
}

// Cancel keeps the list as loaded, but it is written all the same, which compacts the stored keys.
set_root::~set_root()
{
    RecentList::save(previous, QLatin1String(Preferences::recentRootGroup));
}

void set_root::setPathRules(const PathRules &rules)
{
    m_rules = rules;
}

void set_root::accept()
{
    const QString text = EditorRules(m_rules).normalisedRoot(path->text());
    RecentList::promote(previous, text);
    path->setText(text);
    set_rootBase::accept();
}

void set_root::doBrowse()
{
    const QString chosen = QFileDialog::getExistingDirectory(this, tr("Set System Root"), QLatin1String(""),
                                                             QFileDialog::ShowDirsOnly);
    if (!chosen.isEmpty())
        path->setText(chosen);
}

void set_root::previousSelected(QListWidgetItem *item)
{
    if (item)
        path->setText(item->text());
}
