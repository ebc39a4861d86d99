#include "sandbox.h"

#include "machinestore.h"
#include "preferences.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <windows.h>

#include "../win32/readonlykey.h"
#include "win32/win32store.h"

#include <memory>
#include <utility>

using Win32Store::machineEnvironmentKey;
using Win32Store::userEnvironmentKey;
#else
#include <cerrno>

#include <sys/stat.h>
#endif

const QList<const char *> &Sandbox::variables()
{
    static const QList<const char *> names{
        "OV_ROOT", "OV_SYSTEM", "OV_SERVER_ROOT", "OV_RESERVE_SERVER_ROOT", "OV_WORKSTATION", "OV_DEVELOPER"};
    return names;
}

void Sandbox::setVariables(const QStringList &assignments)
{
    for (const char *name : variables())
        qunsetenv(name);
    for (const QString &assignment : assignments) {
        const qsizetype equals = assignment.indexOf(QLatin1Char('='));
        if (equals > 0)
            qputenv(assignment.left(equals).toLatin1().constData(), assignment.mid(equals + 1).toUtf8());
    }
}

Sandbox::Sandbox()
{
    // A suite started through sudo or pkexec acts for no one: a root run would edit that user's file.
    QList<const char *> changed{"TROX_INST_ENV_PREFIX",     "HOME",     "XDG_CONFIG_HOME", "XDG_CONFIG_DIRS",
                                "DBUS_SESSION_BUS_ADDRESS", "SUDO_UID", "SUDO_USER",       "PKEXEC_UID"};
    changed += variables();
    for (const char *name : std::as_const(changed))
        m_saved.append({name, qgetenv(name), qEnvironmentVariableIsSet(name)});
    QDir(m_dir.path()).mkpath(QStringLiteral("prefix"));
    QDir(m_dir.path()).mkpath(QStringLiteral("home/.config"));
    qputenv("TROX_INST_ENV_PREFIX", QFile::encodeName(m_dir.path() + QLatin1String("/prefix")));
    qputenv("HOME", QFile::encodeName(home()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(userConfig()));
    for (const char *name : {"XDG_CONFIG_DIRS", "SUDO_UID", "SUDO_USER", "PKEXEC_UID"})
        qunsetenv(name);
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + QFile::encodeName(m_dir.path()) + "/no-bus");
    setVariables({});
    clearMachineOutsideSandbox();
    liveSandboxes().append(this);
}

// The registry holds the preferences and the variables, and the Windows directory the profiles, where
// no prefix can move them; the suites that use them run only inside a Wine prefix of their own, so
// each sandbox starts them empty and leaves them so.
void Sandbox::clearMachineOutsideSandbox()
{
    const auto store = openPreferences();
    if (store->fileName().startsWith(QLatin1String("\\HKEY_")))
        store->clear();
    for (const QString &profile : machineProfiles())
        QFile::remove(profile);
#ifdef Q_OS_WIN
    const struct
    {
        HKEY root;
        const wchar_t *key;
    } environments[] = {{HKEY_LOCAL_MACHINE, machineEnvironmentKey}, {HKEY_CURRENT_USER, userEnvironmentKey}};
    for (const auto &environment : environments) {
        HKEY key;
        if (RegOpenKeyExW(environment.root, environment.key, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
            continue;
        for (const char *name : variables())
            RegDeleteValueW(key, QString::fromLatin1(name).toStdWString().c_str());
        RegCloseKey(key);
    }
#endif
}

QStringList Sandbox::machineProfiles()
{
    return {profilePath(QStringLiteral("xsv.ini")), profilePath(QStringLiteral("taskbase.ini"))};
}

QMap<QString, QPair<quint64, qint64>> Sandbox::fileStamps() const
{
    QStringList files = machineProfiles();
    QDirIterator it(root(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(it.next());
    QMap<QString, QPair<quint64, qint64>> stamps;
    for (const QString &path : std::as_const(files)) {
#ifdef Q_OS_WIN
        const HANDLE file =
            CreateFileW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(path).utf16()), 0,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
        BY_HANDLE_FILE_INFORMATION info;
        const bool found = file != INVALID_HANDLE_VALUE && GetFileInformationByHandle(file, &info);
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        if (found)
            stamps.insert(path, {(quint64(info.nFileIndexHigh) << 32) | info.nFileIndexLow,
                                 (qint64(info.ftLastWriteTime.dwHighDateTime) << 32) |
                                     info.ftLastWriteTime.dwLowDateTime});
#else
        struct stat info;
        if (stat(QFile::encodeName(path).constData(), &info) == 0)
            stamps.insert(path, {quint64(info.st_ino),
                                 qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec});
#endif
    }
    return stamps;
}

// A suite that makes the next test's sandbox before it drops the last one (a failed check in
// cleanup() skips the reset) ends them out of order. Restoring then would put back the real
// machine's paths under the newer sandbox, and the next Ok would write to the real /etc; instead
// the newer sandbox takes over what this one saved and restores it when it ends.
Sandbox::~Sandbox()
{
    allowWrites();
    QList<Sandbox *> &live = liveSandboxes();
    const qsizetype at = live.indexOf(this);
    live.removeAt(at);
    if (at < live.size()) {
        live[at]->m_saved = m_saved;
        return;
    }
    clearMachineOutsideSandbox();
    for (const Saved &saved : m_saved) {
        if (saved.wasSet)
            qputenv(saved.name, saved.value);
        else
            qunsetenv(saved.name);
    }
}

void Sandbox::allowWrites()
{
    for (const auto &undo : std::exchange(m_undo, {}))
        undo();
}

QList<Sandbox *> &Sandbox::liveSandboxes()
{
    static QList<Sandbox *> live;
    return live;
}

QByteArray Sandbox::readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

bool Sandbox::writeFile(const QString &path, const QByteArray &contents)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(contents) == contents.size();
}

#ifdef Q_OS_WIN
bool Sandbox::linuxMachine()
{
    return false;
}

bool Sandbox::makeSpecialFile(const QString &, const QString &)
{
    return false;
}
#else
bool Sandbox::linuxMachine()
{
    return true;
}

bool Sandbox::makeSpecialFile(const QString &path, const QString &shape)
{
    if (shape == QLatin1String("fifo"))
        return mkfifo(QFile::encodeName(path).constData(), 0644) == 0;
    return QFile::link(QStringLiteral("/dev/zero"), path);
}
#endif

#ifdef Q_OS_WIN
namespace {

// Lets everyone only read the key; returns how to put its old security back.
std::function<void()> readOnly(HKEY root, const wchar_t *subKey)
{
    auto key = std::make_shared<ReadOnlyKey>(root, subKey);
    if (!key->applied())
        return nullptr;
    return [key] {
        key->restore();
    };
}

// Windows refuses the write to a key everyone may only read with this code.
constexpr quint32 refusedWrite = ERROR_ACCESS_DENIED;

std::function<void()> machineRefusal(const Sandbox &)
{
    return readOnly(HKEY_LOCAL_MACHINE, machineEnvironmentKey);
}

std::function<void()> userRefusal(const Sandbox &)
{
    return readOnly(HKEY_CURRENT_USER, userEnvironmentKey);
}

QMap<QByteArray, QString> storedValues(HKEY root, const wchar_t *key)
{
    QMap<QByteArray, QString> values;
    for (const char *name : Sandbox::variables()) {
        wchar_t value[32768];
        DWORD size = sizeof value;
        if (RegGetValueW(root, key, QString::fromLatin1(name).toStdWString().c_str(),
                         RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, value,
                         &size) == ERROR_SUCCESS)
            values.insert(name, QString::fromWCharArray(value));
    }
    return values;
}

QByteArray asLines(const QMap<QByteArray, QString> &values)
{
    QByteArray lines;
    for (const char *name : Sandbox::variables()) {
        if (values.contains(name))
            lines += QByteArray(name) + "=\"" + values.value(name).toUtf8() + "\"\n";
    }
    return lines;
}

} // namespace

QMap<QByteArray, QString> Sandbox::machineKeyValues()
{
    return storedValues(HKEY_LOCAL_MACHINE, machineEnvironmentKey);
}

QByteArray Sandbox::machineValues() const
{
    return asLines(machineKeyValues());
}

// A login takes the machine key's values, the user's own over them.
void Sandbox::logInAgain()
{
    QMap<QByteArray, QString> values = machineKeyValues();
    values.insert(storedValues(HKEY_CURRENT_USER, userEnvironmentKey));
    QStringList assignments;
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        assignments.append(QString::fromLatin1(it.key()) + QLatin1Char('=') + it.value());
    setVariables(assignments);
}

QByteArray Sandbox::userValues() const
{
    return asLines(storedValues(HKEY_CURRENT_USER, userEnvironmentKey));
}
#else
namespace {

// A file where the folder belongs refuses every write there, even root's.
std::function<void()> notAFolder(const QString &path)
{
    if (!Sandbox::writeFile(path, "not a directory"))
        return nullptr;
    return [path] {
        QFile::remove(path);
    };
}

constexpr quint32 refusedWrite = ENOTDIR;

std::function<void()> machineRefusal(const Sandbox &sandbox)
{
    return notAFolder(sandbox.machine(QStringLiteral("/etc/environment.d")));
}

std::function<void()> userRefusal(const Sandbox &sandbox)
{
    return notAFolder(sandbox.userConfig() + QLatin1String("/environment.d"));
}

} // namespace

QByteArray Sandbox::machineValues() const
{
    return readFile(machineEnvFile(*this));
}

// The Linux store reads its files itself: the process environment plays no part.
void Sandbox::logInAgain() {}

QByteArray Sandbox::userValues() const
{
    return readFile(userEnvFile(userConfig()));
}
#endif

quint32 Sandbox::refuseMachineWrites()
{
    return keepRefusing(machineRefusal(*this));
}

quint32 Sandbox::refuseUserWrites()
{
    return keepRefusing(userRefusal(*this));
}

quint32 Sandbox::keepRefusing(const std::function<void()> &undo)
{
    if (!undo)
        return 0;
    m_undo.append(undo);
    return refusedWrite;
}
