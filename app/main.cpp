#include "trox_inst_envDialog.h"
#include <QApplication>
int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    trox_inst_envDialog dialog;
    dialog.exec();
    return 0;
}
