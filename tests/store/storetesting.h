#pragma once

#include "sandbox.h"

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include <sys/stat.h>
#include <unistd.h>
#ifndef Q_OS_WIN
#include <sys/socket.h>
#include <sys/un.h>
#endif

struct Ran
{
    int exitCode = -1; // also for a crash or a command that never ends
    QByteArray out, err;
};

inline Ran runCommand(const QStringList &command,
                      const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(command.first(), command.mid(1));
    const bool ended = process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit;
    return {ended ? process.exitCode() : -1, process.readAllStandardOutput(), process.readAllStandardError()};
}

// The generator systemd's user manager runs at login to build the session environment from
// environment.d files; the tests check file contents against it rather than against our own reading.
inline const char generatorPath[] =
    "/usr/lib/systemd/user-environment-generators/30-systemd-environment-d-generator";

inline bool generatorAvailable()
{
    return QFile::exists(QLatin1String(generatorPath));
}

// Runs the generator with only HOME, XDG_CONFIG_HOME and the given variables set, and returns its
// output as systemd's user manager reads it: an environment-file parse in which only \" \\ \` \$
// are escapes inside double quotes (the C escapes the generator prints stay as they are).
// The per-user files it reads are configHome/environment.d/*.conf.
inline QMap<QByteArray, QByteArray> runGenerator(const QString &configHome,
                                                 const QMap<QString, QString> &environment = {})
{
    QProcessEnvironment env;
    env.insert(QStringLiteral("HOME"), configHome);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
    for (auto it = environment.cbegin(); it != environment.cend(); ++it)
        env.insert(it.key(), it.value());
    QMap<QByteArray, QByteArray> result;
    for (const QByteArray &line : runCommand({QLatin1String(generatorPath)}, env).out.split('\n')) {
        const qsizetype equals = line.indexOf('=');
        if (equals <= 0)
            continue;
        QByteArray value;
        char quote = 0;
        for (qsizetype i = equals + 1; i < line.size(); ++i) {
            const char c = line.at(i);
            if (quote == 0 && (c == '"' || c == '\'')) {
                quote = c;
            } else if (c == quote) {
                quote = 0;
            } else if (c == '\\' && quote != '\'' && i + 1 < line.size() &&
                       (quote == 0 || QByteArray("\"\\`$").contains(line.at(i + 1)))) {
                value += line.at(++i);
            } else {
                value += c;
            }
        }
        result.insert(line.left(equals), value);
    }
    return result;
}

// The generator reads the machine file from /etc only: it is shown the file as a per-user one of
// another configuration directory, scratch. What the host's own environment.d files add is left out.
inline QMap<QByteArray, QByteArray> loginReading(const QByteArray &machineFile, const QString &scratch,
                                                 const QMap<QString, QString> &environment = {})
{
    const QMap<QByteArray, QByteArray> host = runGenerator(scratch + QLatin1String("/empty"), environment);
    Sandbox::writeFile(userEnvFile(scratch + QLatin1String("/shown")), machineFile);
    QMap<QByteArray, QByteArray> reading = runGenerator(scratch + QLatin1String("/shown"), environment);
    for (auto it = host.cbegin(); it != host.cend(); ++it) {
        if (reading.value(it.key()) == it.value())
            reading.remove(it.key());
    }
    return reading;
}

// What the next login gets from the machine-wide store: the generator's reading of the machine
// file, or on Windows the machine key's values as its own calls read them.
inline QMap<QByteArray, QByteArray> machineLoginValues(const Sandbox &sandbox)
{
#ifdef Q_OS_WIN
    Q_UNUSED(sandbox);
    QMap<QByteArray, QByteArray> values;
    const QMap<QByteArray, QString> stored = Sandbox::machineKeyValues();
    for (auto it = stored.cbegin(); it != stored.cend(); ++it)
        values.insert(it.key(), it.value().toUtf8());
    return values;
#else
    return loginReading(Sandbox::readFile(machineEnvFile(sandbox)), sandbox.root());
#endif
}

// A file's permission bits, -1 when it cannot be looked at.
inline int modeOf(const QString &path)
{
    struct stat info;
    return stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
}

// A shell line, its arguments as $0, $1, ...; its error output goes to *errors.
inline bool shell(const QString &line, const QStringList &arguments = {}, QByteArray *errors = nullptr)
{
    const Ran ran = runCommand(QStringList{QStringLiteral("sh"), QStringLiteral("-c"), line} + arguments);
    if (errors)
        *errors = ran.err;
    return ran.exitCode == 0;
}

// Other users are played by nobody, which needs root and setpriv.
inline bool canRunAsNobody()
{
#ifdef Q_OS_WIN
    return false;
#else
    return geteuid() == 0 && !QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty();
#endif
}

inline QStringList asNobody(const QStringList &command)
{
    return QStringList{QStringLiteral("setpriv"), QStringLiteral("--reuid=65534"),
                       QStringLiteral("--regid=65534"), QStringLiteral("--clear-groups"),
                       QStringLiteral("--")} +
           command;
}

// The system log as a socket of the sandbox's own, where the tool's change entries land. Windows keeps
// no such log: there it is never listening.
class SystemLog
{
public:
    explicit SystemLog(const Sandbox &sandbox)
    {
#ifndef Q_OS_WIN
        QDir().mkpath(sandbox.machine(QStringLiteral("/dev")));
        m_socket = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, QFile::encodeName(sandbox.machine(QStringLiteral("/dev/log"))).constData(),
                 sizeof address.sun_path);
        if (m_socket >= 0 && bind(m_socket, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
            close(m_socket);
            m_socket = -1;
        }
#else
        Q_UNUSED(sandbox);
#endif
    }
    ~SystemLog()
    {
        if (m_socket >= 0)
            close(m_socket);
    }
    SystemLog(const SystemLog &) = delete;
    SystemLog &operator=(const SystemLog &) = delete;

    bool listening() const
    {
        return m_socket >= 0;
    }
    // The entries that arrived since the last call.
    QList<QByteArray> entries()
    {
        QList<QByteArray> entries;
#ifndef Q_OS_WIN
        char entry[65536];
        for (ssize_t got; m_socket >= 0 && (got = recv(m_socket, entry, sizeof entry, 0)) > 0;)
            entries.append(QByteArray(entry, got));
#endif
        return entries;
    }

private:
    int m_socket = -1;
};
