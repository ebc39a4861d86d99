#include "browseWorkstations.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QTemporaryDir>

#include <cstdlib>

// Input: the bytes of config/workstations.xml. Every listed entry is "id - name", one per element,
// and accepting the first hands back an id without a dash.
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    new QApplication(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const char *data, size_t size)
{
    static QTemporaryDir directory;
    static const bool made = QDir(directory.path()).mkpath(QStringLiteral("config"));
    QFile file(directory.path() + QLatin1String("/config/workstations.xml"));
    if (!made || !file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        std::abort();
    file.write(data, qint64(size));
    file.close();

    browseWorkstations browser;
    browser.loadWorkstations(directory.path());
    if (browser.workstations->count() > QByteArray(data, qsizetype(size)).count('<'))
        std::abort();
    for (int i = 0; i < browser.workstations->count(); ++i) {
        if (!browser.workstations->item(i)->text().contains(QLatin1String(" - ")))
            std::abort();
    }
    browser.workstations->setCurrentRow(0);
    browser.accept();
    if (browser.workstationId.contains(QLatin1Char('-')))
        std::abort();
    return 0;
}
