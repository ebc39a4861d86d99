#include "../platform.h"
#include "../pathrules.h"

PathRules PathRules::native()
{
    return PathRules(PathRules::Windows);
}

void preparePreferenceLocation()
{
    // The registry's HKEY_LOCAL_MACHINE\Software is the native system scope already.
}
