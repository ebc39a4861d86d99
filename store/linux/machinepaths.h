#pragma once

#include <QString>

// Where the Linux build finds machine-level and per-user files. TROX_INST_ENV_PREFIX, when set,
// moves every machine-level path under that directory as if it were '/', for the demo, the tests
// and packagers; per-user paths follow HOME and XDG_CONFIG_HOME as usual.
namespace MachinePaths {
// An absolute machine path ("/etc/...") placed under TROX_INST_ENV_PREFIX when that is set.
QString machinePath(const QString &absolutePath);
// $XDG_CONFIG_HOME, or ~/.config when it is unset or not absolute.
QString userConfigHome();
// The first entry of XDG_CONFIG_DIRS (default /etc/xdg), under the prefix.
QString systemConfigDir();

inline constexpr char machineEnvironmentFile[] = "/etc/environment.d/60-trox_inst_env.conf";
inline constexpr char userEnvironmentFile[] = "environment.d/61-trox_inst_env.conf"; // below userConfigHome()
inline constexpr char profileDirectory[] = "/etc/trox";
} // namespace MachinePaths
