#pragma once

#include <functional>

class QSettings;

// Per-platform pieces that the portable store sources need; one source per platform defines them.

// Points the system-scope preference store at its location before a QSettings is made.
void preparePreferenceLocation();

// The platform half of savePreferences(): make the edit durable or change nothing.
bool savePreferenceEdit(const std::function<void(QSettings &)> &edit);
