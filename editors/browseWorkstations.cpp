#include "browseWorkstations.h"

#include "pathrules.h"
#include "safefile.h"

#include <QLabel>
#include <QListWidget>
#include <QXmlStreamReader>

namespace {

// Far beyond any real system's list, small enough to parse at once.
constexpr qint64 listSizeLimit = qint64(4) << 20;
// The list is two levels deep; anything much deeper is not a workstation list.
constexpr int nestingLimit = 32;

// "id - name" of each element directly below the document element; empty for a list that is not
// well-formed XML or nests deeper than any list does, as for one that cannot be read.
QStringList readList(const QByteArray &contents)
{
    QStringList lines;
    QXmlStreamReader reader(contents);
    reader.setNamespaceProcessing(false);
    int depth = 0;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement:
            if (++depth > nestingLimit)
                return {};
            if (depth == 2) {
                const QXmlStreamAttributes attributes = reader.attributes();
                lines.append(attributes.value(QLatin1String("id")).toString() + QLatin1String(" - ") +
                             attributes.value(QLatin1String("name")).toString());
            }
            break;
        case QXmlStreamReader::EndElement:
            --depth;
            break;
        default:
            break;
        }
    }
    return reader.hasError() ? QStringList() : lines;
}

} // namespace

browseWorkstations::browseWorkstations(QWidget *parent, Qt::WindowFlags flags)
    : browseWorkstationsBase(parent, flags)
{}

browseWorkstations::~browseWorkstations() = default;

void browseWorkstations::loadWorkstations(const QString &directory)
{
    showPath->setText(directory);

    QByteArray contents;
    if (SafeFile::read(PathRules::native().join(
                           {directory, QStringLiteral("config"), QStringLiteral("workstations.xml")}),
                       contents, listSizeLimit) != 0)
        return;
    workstations->addItems(readList(contents));
}

void browseWorkstations::accept()
{
    const QListWidgetItem *current = workstations->currentItem();
    const QStringList pieces =
        (current ? current->text() : QString()).split(QLatin1Char('-'), Qt::SkipEmptyParts);
    workstationId = pieces.isEmpty() ? QString() : pieces.first().trimmed();
    QDialog::accept();
}
