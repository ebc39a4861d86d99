#include "set_system.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>

set_system::set_system(QWidget *parent, Qt::WindowFlags flags)
    : set_systemBase(parent, flags)
{
    connect(available, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
    connect(available, &QListWidget::currentItemChanged, this, &set_system::availableSelected);
}

set_system::~set_system() = default;

void set_system::listSystems(const QString &root)
{
    // QDir("") would list the working directory while the candidates below would point at the
    // file-system root, so an empty root has no systems.
    if (root.isEmpty())
        return;

    const QStringList entries = QDir(root).entryList(QDir::Dirs, QDir::Name | QDir::IgnoreCase);
    QStringList systems;
    for (const QString &name : entries) {
        // One stat per candidate instead of a listing per candidate: "config" can match at most one
        // entry under the file system's own name comparison, and only a hidden attribute could keep
        // a listing from showing it.
        const QFileInfo config(root + QLatin1Char('/') + name + QLatin1String("/config"));
        if (config.isDir() && !config.isHidden())
            systems.append(name);
    }
    if (systems.isEmpty())
        return;

    available->setUpdatesEnabled(false);
    available->addItems(systems);
    available->setUpdatesEnabled(true);
}

void set_system::availableSelected(QListWidgetItem *lbi)
{
    if (lbi)
        system->setText(lbi->text());
}
