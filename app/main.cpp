#include "DisplayStart.h"
#include "machinestore.h"
#include "trox_inst_envDialog.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
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
    // On Wayland the toolkit of Debian 12 now and then deadlocks while it disconnects, its event
    // thread waiting for a read the main thread never makes: the windows are gone, everything is
    // written, and the process never ends. Nothing is left that the process's end does not release.
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
        std::fflush(nullptr);
        std::_Exit(0);
    }
    app.reset();
    return 0;
}
