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

// Changes the preference store through `edit` and makes the change durable, or leaves the store as
// it was and returns false. Writes go through here rather than through openPreferences(): a
// QSettings that meets a full disk can replace the file with a truncated one and report no error.
bool savePreferences(const std::function<void(QSettings &)> &edit);

// The last known server as stored, or a null string when none is.
QString lastKnownServer();

namespace Preferences {
inline constexpr char organization[] = "Quarnby Technology";
inline constexpr char application[] = "trox_inst_env";
// The key "server" of the group "lastKnownServer", as QSettings names it.
inline constexpr char lastKnownServerPath[] = "lastKnownServer/server";
inline constexpr char recentRootGroup[] = "recentRoot";
inline constexpr char recentServerGroup[] = "recentServer";
} // namespace Preferences
