#include "set_system.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>

#include <algorithm>

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

    // Only the systems are sorted, as plain strings: sorting every entry of a large root as file
    // information costs more than the listing itself.
    QStringList systems;
    QDirIterator entries(root, QDir::Dirs);
    while (entries.hasNext()) {
        entries.next();
        const QString name = entries.fileName();
        // One stat per candidate instead of a listing per candidate: "config" can match at most one
        // entry under the file system's own name comparison, and only a hidden attribute could keep
        // a listing from showing it.
        const QFileInfo config(root + QLatin1Char('/') + name + QLatin1String("/config"));
        if (config.isDir() && !config.isHidden())
            systems.append(name);
    }
    std::sort(systems.begin(), systems.end(), [](const QString &a, const QString &b) {
        const int order = a.compare(b, Qt::CaseInsensitive);
        return order != 0 ? order < 0 : a < b;
    });
    available->addItems(systems);
}

void set_system::availableSelected(QListWidgetItem *lbi)
{
    if (lbi)
        system->setText(lbi->text());
}
