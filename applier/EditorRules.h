#pragma once

#include "pathrules.h"

#include <QString>

// The checks and normalisations the editors apply to what the operator types, without the editors,
// so that the command-line tool accepts exactly what the dialog accepts.
class EditorRules
{
public:
    explicit EditorRules(const PathRules &paths = PathRules::native());

    // A workstation number from 1 to 999, by the text's integer conversion: "007" counts as 7 and is
    // kept as typed; anything that does not convert counts as 0.
    static bool validWorkstation(const QString &text);
    // The root as the root editor keeps it: native separators, no trailing separator.
    QString normalisedRoot(const QString &text) const;
    // Whether the text starts like a server path, looking at it as typed.
    bool validServer(const QString &text) const;
    // A valid server path with native separators.
    QString normalisedServer(const QString &text) const;
    // The directory of the system under the root.
    QString systemDirectory(const QString &root, const QString &system) const;
    // The system's own profile file, built from the root and system as given.
    QString systemProfile(const QString &root, const QString &system) const;
    // True when the root and system name an existing directory; the dialog warns otherwise.
    bool systemExists(const QString &root, const QString &system) const;

private:
    PathRules m_paths;
};
