#include "sandbox.h"

#include "preferences.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifndef Q_OS_WIN
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
    clearRegistryPreferences();
    liveSandboxes().append(this);
}

// The registry holds the preferences where no prefix can move them; the suites that use it run only
// inside a Wine prefix of their own, so each sandbox starts them empty and leaves them so.
void Sandbox::clearRegistryPreferences()
{
    const auto store = openPreferences();
    if (store->fileName().startsWith(QLatin1String("\\HKEY_")))
        store->clear();
}

// A suite that makes the next test's sandbox before it drops the last one (a failed check in
// cleanup() skips the reset) ends them out of order. Restoring then would put back the real
// machine's paths under the newer sandbox, and the next Ok would write to the real /etc; instead
// the newer sandbox takes over what this one saved and restores it when it ends.
Sandbox::~Sandbox()
{
    QList<Sandbox *> &live = liveSandboxes();
    const qsizetype at = live.indexOf(this);
    live.removeAt(at);
    if (at < live.size()) {
        live[at]->m_saved = m_saved;
        return;
    }
    clearRegistryPreferences();
    for (const Saved &saved : m_saved) {
        if (saved.wasSet)
            qputenv(saved.name, saved.value);
        else
            qunsetenv(saved.name);
    }
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
