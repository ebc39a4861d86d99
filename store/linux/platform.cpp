#include "../platform.h"
#include "../pathrules.h"
#include "machinepaths.h"

#include <QSettings>

PathRules PathRules::native()
{
    return PathRules(PathRules::Posix);
}

void preparePreferenceLocation()
{
    // Qt reads XDG_CONFIG_DIRS only in newer releases; setting the path each time keeps the
    // location right on all of them and follows TROX_INST_ENV_PREFIX.
    QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, MachinePaths::systemConfigDir());
}
