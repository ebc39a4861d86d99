#include "../pathrules.h"
#include "../platform.h"

PathRules PathRules::native()
{
    return PathRules(PathRules::Windows);
}

void preparePreferenceLocation()
{
    // The registry's HKEY_LOCAL_MACHINE\Software is the native system scope already.
}
