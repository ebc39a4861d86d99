#include "browseWorkstations.h"

#include "pathrules.h"

#include <QDomDocument>
#include <QDomElement>
#include <QFile>
#include <QLabel>
#include <QListWidget>

browseWorkstations::browseWorkstations(QWidget *parent, Qt::WindowFlags flags)
    : browseWorkstationsBase(parent, flags)
{}

browseWorkstations::~browseWorkstations() = default;

void browseWorkstations::loadWorkstations(const QString &directory)
{
    showPath->setText(directory);

    QFile file(
        PathRules::native().join({directory, QStringLiteral("config"), QStringLiteral("workstations.xml")}));
    if (!file.open(QIODevice::ReadOnly))
        return;
    QDomDocument document;
    if (!document.setContent(&file, false))
        return;
    file.close();

    QStringList lines;
    const QDomElement list = document.documentElement();
    for (QDomElement entry = list.firstChildElement(); !entry.isNull(); entry = entry.nextSiblingElement())
        lines.append(entry.attribute(QStringLiteral("id")) + QLatin1String(" - ") +
                     entry.attribute(QStringLiteral("name")));
    workstations->addItems(lines);
}

void browseWorkstations::accept()
{
    const QListWidgetItem *current = workstations->currentItem();
    const QStringList pieces =
        (current ? current->text() : QString()).split(QLatin1Char('-'), Qt::SkipEmptyParts);
    workstationId = pieces.isEmpty() ? QString() : pieces.first().trimmed();
    QDialog::accept();
}
