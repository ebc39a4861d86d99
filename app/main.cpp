#include "DisplayStart.h"
#include "machinestore.h"
#include "trox_inst_envDialog.h"

#include <QApplication>

#include <memory>

int main(int argc, char *argv[])
{
    // A privileged run takes no toolkit options (-platformpluginpath, -style, ...) from its caller.
    int toolkitArgc = distrustCaller() ? 1 : argc;
    avoidSilentSessionBus();
    DisplayStart::guard();
    auto app = std::make_unique<QApplication>(toolkitArgc, argv);
    DisplayStart::opened();
    auto dialog = std::make_unique<trox_inst_envDialog>(nullptr, nullptr, true);
    dialog->exec();
    // The dialog goes before the application object; the result is not looked at on purpose:
    // Ok, Cancel and a failed load all end the same way.
    dialog.reset();
    app.reset();
    return 0;
}
