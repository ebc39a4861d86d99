#include "../platform.h"
#include "../machinestore.h"
#include "../pathrules.h"
#include "../preferences.h"

PathRules PathRules::native()
{
    return PathRules(PathRules::Windows);
}

bool distrustCaller()
{
    if (!runsPrivileged())
        return false;
    dropToolkitVariables({});
    return true;
}

bool reachesOwnSession()
{
    // The announcement is a broadcast to every top-level window of the desktop, not a bus of the
    // caller's.
    return true;
}

void preparePreferenceLocation()
{
    // The registry's HKEY_LOCAL_MACHINE\Software is the native system scope already.
}

bool savePreferences(const std::function<void(QSettings &)> &edit)
{
    // Registry values are replaced whole by the system; there is no file to leave half written.
    const std::unique_ptr<QSettings> store = openPreferences();
    edit(*store);
    store->sync();
    return store->status() == QSettings::NoError;
}
