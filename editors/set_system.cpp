#include "set_system.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>

#include <algorithm>
#include <vector>

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
    struct Candidate
    {
        QString name;
        // For an ASCII name, the name in lower case: folding ASCII is lowering it, so its bytes
        // order as the case-insensitive comparison does, without folding it again at every
        // comparison of the sort. Null for any other name.
        QByteArray folded;
    };
    std::vector<Candidate> candidates;
    QDirIterator entries(root, QDir::Dirs);
    while (entries.hasNext()) {
        entries.next();
        QString name = entries.fileName();
        // One stat per candidate instead of a listing per candidate: "config" can match at most one
        // entry under the file system's own name comparison, and only a hidden attribute could keep
        // a listing from showing it.
        const QFileInfo config(root + QLatin1Char('/') + name + QLatin1String("/config"));
        if (!config.isDir() || config.isHidden())
            continue;
        QByteArray folded;
        if (std::all_of(name.cbegin(), name.cend(), [](QChar c) { return c.unicode() < 0x80; }))
            folded = name.toLatin1().toLower();
        candidates.push_back({std::move(name), std::move(folded)});
    }
    std::sort(candidates.begin(), candidates.end(), [](const Candidate &a, const Candidate &b) {
        const int order = !a.folded.isNull() && !b.folded.isNull()
                              ? a.folded.compare(b.folded)
                              : a.name.compare(b.name, Qt::CaseInsensitive);
        return order != 0 ? order < 0 : a.name < b.name;
    });
    QStringList systems;
    systems.reserve(qsizetype(candidates.size()));
    for (Candidate &candidate : candidates)
        systems.append(std::move(candidate.name));
    available->addItems(systems);
}

void set_system::availableSelected(QListWidgetItem *lbi)
{
    if (lbi)
        system->setText(lbi->text());
}
