#include "CommandLineTool.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    return CommandLineTool().run(QCoreApplication::arguments());
}
