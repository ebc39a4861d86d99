// Writes the given values through the machine store exactly as the dialog's Ok does, without a
// window: each NAME=VALUE as an environment variable, then, with -w, the workstation number into the
// three profile files of the given root and system. Exits 1 when any write failed.
//
//   trox_store_write [NAME=VALUE]... [-w ROOT SYSTEM NUMBER]

#include "machinestore.h"
#include "pathrules.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    int failures = 0;
    const auto report = [&](const QString &what, quint32 error) {
        if (error == 0)
            return;
        ++failures;
        std::fprintf(stderr, "%s: %s\n", qPrintable(what), qPrintable(describeStoreError(error)));
    };

    while (!args.isEmpty()) {
        const QString arg = args.takeFirst();
        if (arg == QLatin1String("-w") && args.size() >= 3) {
            const QString root = args.takeFirst();
            const QString system = args.takeFirst();
            const QString number = args.takeFirst();
            const QString workstation = QStringLiteral("Workstation");
            report(QStringLiteral("xsv.ini"), writeProfileString(QStringLiteral("Network"), workstation,
                                                                 number, QStringLiteral("xsv.ini")));
            report(QStringLiteral("taskbase.ini"),
                   writeProfileString(QStringLiteral("System"), workstation, number,
                                      QStringLiteral("taskbase.ini")));
            const QString systemFile =
                PathRules::native().join({root, system, QStringLiteral("config"), QStringLiteral("system"),
                                          QStringLiteral("trox_system.ini")});
            report(systemFile,
                   writeProfileString(QStringLiteral("Network"), workstation, number, systemFile));
        } else if (arg.indexOf(QLatin1Char('=')) > 0) {
            const QString name = arg.section(QLatin1Char('='), 0, 0);
            const VariableWrite result = setEnvironmentVariable(name, arg.section(QLatin1Char('='), 1, -1));
            if (result.where != VariableWrite::MachineWide)
                report(name, result.machineError ? result.machineError : ERROR_REFUSED_INPUT);
        } else {
            std::fprintf(stderr, "usage: trox_store_write [NAME=VALUE]... [-w ROOT SYSTEM NUMBER]\n");
            return 2;
        }
    }
    return failures == 0 ? 0 : 1;
}
