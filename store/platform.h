#pragma once

// Per-platform pieces that the portable store sources need; one source per platform defines them.

// Points the system-scope preference store at its location before a QSettings is made.
void preparePreferenceLocation();
