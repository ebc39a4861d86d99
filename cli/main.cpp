#include "CommandLineTool.h"
#include "machinestore.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    distrustCaller();
    // The tool's own arguments are all there are: none is the toolkit's, whoever started it.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    int toolkitArgc = 1;
    QCoreApplication app(toolkitArgc, argv);
    return CommandLineTool().run(arguments);
}
