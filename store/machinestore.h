#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
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
    bool changed = false;     // the store held another value before; false when it held this one
    // Written machine-wide, but the copy that sessions reading no environment.d file get (Linux:
    // /etc/environment) could not be brought in step; 0 when it was, or when there is none.
    quint32 sessionCopyError = 0;
    QString sessionCopy; // that copy's path, for the operator
    bool written() const { return where != Nowhere; }
};

// One of the tool's variables as a program started by a new login would see it.
struct StoredVariable
{
    enum Source { Unset, Machine, User, Inherited };
    QString value;         // null when unset
    Source source = Unset; // Machine: the machine-wide store; User: the per-user store wins;
                           // Inherited: neither store sets it, taken from this process's environment
    // Linux: the value a line of /etc/environment other than the tool's own gives, which sessions
    // that read only that file (cron, "ssh host COMMAND", shells without /etc/profile.d) get;
    // null when no such line sets it.
    QString etcEnvironment;
    bool isSet() const { return source != Unset; }
};

// The named variables as a new login gets them, in the order given. Linux: the per-user
// environment.d file over the machine file, references expanded as the login expands them, and the
// process environment only for a variable that neither file sets. Windows: the process environment
// (every set variable is Inherited), exactly as the tool always read it.
QList<StoredVariable> loadStoredVariables(const QStringList &names);

// The named variables as the machine-wide store alone gives them, in the order given (Linux:
// references expanded as a login expands them; Windows: the machine key's text as stored); unset
// (null value) where that store does not set one. A user's own values are left out: they are no
// reason to skip or make a machine-wide write.
QList<StoredVariable> loadMachineVariables(const QStringList &names);

// Which of the assignments would change what the machine-wide store holds; writes nothing. A store
// that cannot tell says true.
QList<bool> machineVariablesDiffer(const QList<QPair<QString, QString>> &assignments);

// The user a privileged process acts for: who ran it through sudo or pkexec. Their own values would
// hide what is written machine-wide.
struct InvokingUser
{
    QString account; // empty when the process acts for no other user
    QString file;    // that user's per-user store
    quint32 error = 0;
    QList<QPair<QString, QString>> removed; // name and the value it had
};

// Removes the named variables from the per-user store of the invoking user (see InvokingUser), as
// that user would: their links and directories are never followed on root's authority. With
// `dryRun` only says what it would remove. Nothing for an unprivileged process or a direct root login.
InvokingUser removeInvokingUserVariables(const QStringList &names, bool dryRun);

// One entry in the system log (identifier trox_inst_env): who changed what, one line each given in
// `changes`. Nothing is logged for an empty list.
void logChanges(const QStringList &changes);

// The full path a profile file name stands for, as writeProfileString() resolves it.
QString profilePath(const QString &fileName);

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

// The value of one key of a profile file, found as writeProfileString() finds it; null when the file,
// the section or the key does not exist. A file that cannot be read (Linux: a FIFO, device or
// oversized file, a link of another user's) gives null too, with the reason in `error`.
QString readProfileString(const QString &section, const QString &key, const QString &fileName,
                          quint32 *error = nullptr);

// True when this process has the rights a machine-wide write needs: root on Linux, an elevated
// administrator on Windows. A per-user landing then reaches no other user.
bool runsPrivileged();

// Called first in main(), before the application object exists. A run with root or administrator
// rights (or started through a setuid program such as pkexec) takes its orders only from its operator:
// the inherited variables that make the toolkit load code or read files from elsewhere are dropped,
// and a session bus that is not this account's own is neither used nor started. True for such a run,
// which then hands the toolkit none of its command-line options either.
bool distrustCaller();

// False after distrustCaller() found no session bus of this account's own to announce a change on
// (pkexec, sudo): programs of the operator's session see changed values at their next login.
bool reachesOwnSession();

// The name of the account this process runs as, for the operator.
QString accountName();

// Tells running programs that the environment changed: the tool's own variables, with the values a
// new login computes. Bounded in time; keeps the GUI painting
// while it waits when an event loop is running.
void broadcastEnvironmentChange();

// Called before the application object exists. The desktop's accessibility support opens the
// session bus with waits that have no bound (a minute or more on a bus that accepts and then stalls);
// when the bus does not answer a short question in time, the tool starts without that support, as
// fast as it starts without a bus.
void avoidSilentSessionBus();

// A short, plain-words reason for an error code returned above, for the operator.
QString describeStoreError(quint32 code);
