#include "preferences.h"

#include "platform.h"

std::unique_ptr<QSettings> openPreferences()
{
    preparePreferenceLocation();
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::SystemScope,
                                       QString::fromLatin1(Preferences::organization),
                                       QString::fromLatin1(Preferences::application));
}

QString lastKnownServer()
{
    return openPreferences()->value(QLatin1String(Preferences::lastKnownServerPath)).toString();
}
