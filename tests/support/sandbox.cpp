#include "sandbox.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {
const char *const variables[4] = {"TROX_INST_ENV_PREFIX", "HOME", "XDG_CONFIG_HOME", "XDG_CONFIG_DIRS"};
}

Sandbox::Sandbox()
{
    for (int i = 0; i < 4; ++i)
        m_saved[i] = {variables[i], qgetenv(variables[i]), qEnvironmentVariableIsSet(variables[i])};
    QDir(m_dir.path()).mkpath(QStringLiteral("prefix"));
    QDir(m_dir.path()).mkpath(QStringLiteral("home/.config"));
    qputenv("TROX_INST_ENV_PREFIX", QFile::encodeName(m_dir.path() + QLatin1String("/prefix")));
    qputenv("HOME", QFile::encodeName(home()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(userConfig()));
    qunsetenv("XDG_CONFIG_DIRS");
}

Sandbox::~Sandbox()
{
    for (const Saved &saved : m_saved) {
        if (saved.wasSet)
            qputenv(saved.name, saved.value);
        else
            qunsetenv(saved.name);
    }
}

QString Sandbox::machine(const QString &absolutePath) const
{
    return m_dir.path() + QLatin1String("/prefix") + absolutePath;
}

QString Sandbox::home() const
{
    return m_dir.path() + QLatin1String("/home");
}

QString Sandbox::userConfig() const
{
    return home() + QLatin1String("/.config");
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
