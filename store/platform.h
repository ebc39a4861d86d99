#pragma once

#include <QByteArray>
#include <QList>

// Per-platform pieces that the portable store sources need; one source per platform defines them.

// Points the system-scope preference store at its location before a QSettings is made.
void preparePreferenceLocation();

// Portable, for the platform sources: the inherited variables that make the toolkit load code or read files
// from elsewhere, gone from this process's environment, with the platform's own `others`. A platform plugin
// named without a path stays selectable: with the plugin paths gone it can only be one installed with the
// toolkit.
void dropToolkitVariables(const QList<QByteArray> &others);
