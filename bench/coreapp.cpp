// Floor of the command line's start-up: a bare QCoreApplication process, what any Qt console
// program costs to start and end.
#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    return 0;
}
