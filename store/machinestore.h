#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QtGlobal>

// The machine-level side effects of the tool: environment variables machine-wide (or per-user as a
// fallback), keys of profile (INI) files, and the announcement that the environment changed.
// One source per platform implements these; nothing outside store/ knows which.

namespace Registry {
// HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER as the Windows interface numbers them, under names that
// <windows.h> does not turn into macros. The Linux backend maps the two roots and their environment
// keys onto environment.d files; any other key does not exist there.
inline constexpr quint32 machineRoot = 0x80000002u;
inline constexpr quint32 userRoot = 0x80000001u;
inline constexpr char machineEnvironmentKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
inline constexpr char userEnvironmentKey[] = "Environment";
} // namespace Registry

// Error code of a write refused before anything was touched: a bad variable name, or a line break or
// NUL where it would inject a second variable or key. The customer bit keeps it clear of errno values
// and of Windows error codes.
inline constexpr quint32 ERROR_REFUSED_INPUT = 0x20000001u;

// Where setEnvironmentVariable() put the value.
struct VariableWrite
{
    enum Where { Nowhere, MachineWide, PerUser };
    Where where = Nowhere;
    quint32 machineError = 0; // 0 when the machine-wide write succeeded
    quint32 userError = 0;    // result of the per-user attempt, when one was made
    bool written() const { return where != Nowhere; }
};

// Writes one expandable string value into an existing key; 0 or the platform's error code.
quint32 setRegistryValue(quint32 root, const QString &subKey, const QString &valueName, const QString &value);

// Writes a variable machine-wide and, only when that is refused, for the current user.
VariableWrite setEnvironmentVariable(const QString &name, const QString &value);

// Writes several variables as setEnvironmentVariable() would, one result each, in the order given;
// a backend that keeps them in files replaces each file once rather than once per variable.
QList<VariableWrite> setEnvironmentVariables(const QList<QPair<QString, QString>> &assignments);

// Sets one key of one section of a profile file, keeping the rest of the file; 0 or an error code.
// A bare file name names a file in the system's profile directory.
quint32 writeProfileString(const QString &section, const QString &key, const QString &value,
                           const QString &fileName);

// Tells running programs that the environment changed. Bounded in time; keeps the GUI painting
// while it waits when an event loop is running.
void broadcastEnvironmentChange();

// A short, plain-words reason for an error code returned above, for the operator.
QString describeStoreError(quint32 code);
