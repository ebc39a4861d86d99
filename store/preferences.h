#pragma once

#include <memory>
#include <QSettings>
#include <QString>

// The tool's machine-wide preference store: the last known server and the recent-values lists.
// Opened afresh for each use and released at once, so two tools never hold stale copies.
// On Windows: HKEY_LOCAL_MACHINE\Software\Quarnby Technology\trox_inst_env. On Linux:
// "Quarnby Technology/trox_inst_env.conf" in the first XDG_CONFIG_DIRS entry (default /etc/xdg),
// under TROX_INST_ENV_PREFIX when that is set.
std::unique_ptr<QSettings> openPreferences();

namespace Preferences {
inline constexpr char organization[] = "Quarnby Technology";
inline constexpr char application[] = "trox_inst_env";
inline constexpr char lastKnownServerGroup[] = "lastKnownServer";
inline constexpr char lastKnownServerKey[] = "server";
inline constexpr char recentRootGroup[] = "recentRoot";
inline constexpr char recentServerGroup[] = "recentServer";
} // namespace Preferences
