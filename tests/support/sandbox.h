#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>

// A scratch machine for one test: TROX_INST_ENV_PREFIX, HOME and XDG_CONFIG_HOME point into a
// fresh temporary directory, XDG_CONFIG_DIRS and the six OV_ variables are unset, and the session
// bus address leads nowhere, so no announcement reaches a real bus. Everything is restored on
// destruction.
class Sandbox
{
public:
    Sandbox();
    ~Sandbox();
    Sandbox(const Sandbox &) = delete;
    Sandbox &operator=(const Sandbox &) = delete;

    QString root() const { return m_dir.path(); }
    // The machine-level path under the prefix ("/etc/trox/xsv.ini" -> "<root>/prefix/etc/trox/xsv.ini").
    QString machine(const QString &absolutePath) const
    {
        return root() + QLatin1String("/prefix") + absolutePath;
    }
    QString home() const { return root() + QLatin1String("/home"); }
    QString userConfig() const { return home() + QLatin1String("/.config"); }

    // The tool's six variables, in the order the dialog loads them.
    static const QList<const char *> &variables();
    // Unsets the six variables, then sets each "NAME=value" given.
    static void setVariables(const QStringList &assignments);

    static QByteArray readFile(const QString &path);
    static bool writeFile(const QString &path, const QByteArray &contents);
    // Whether the machine under test is Linux: it has FIFOs and character devices, and the store keeps
    // values in environment files; Windows has neither.
    static bool linuxMachine();
    // Puts a FIFO ("fifo") or a link to a character device ("device") at `path`.
    static bool makeSpecialFile(const QString &path, const QString &shape);
    // Gives this process the six variables as a new login would get them. Windows' store reads the
    // process environment, which a machine-wide write leaves as it was; Linux reads its files itself.
    static void logInAgain();
    // Every file under the sandbox and the machine's profiles with its identity and modification
    // time, so that a file replaced by its own bytes shows.
    QMap<QString, QPair<quint64, qint64>> fileStamps() const;
    // The machine's own profile files; on Windows they live in the Windows directory, out of the
    // sandbox, so each sandbox starts without them.
    static QStringList machineProfiles();
    // Makes the machine-wide store, or this account's own, refuse every write until the sandbox ends
    // (Linux: a file where its folder belongs; Windows: a key everyone may only read). Returns the
    // error the store then meets, 0 when the refusal could not be arranged.
    quint32 refuseMachineWrites();
    quint32 refuseUserWrites();
    // Ends those refusals before the sandbox does.
    void allowWrites();
    // The machine-wide store's and this account's own values of the six variables as
    // "NAME=\"value\"" lines, in their order.
    QByteArray machineValues() const;
    QByteArray userValues() const;
#ifdef Q_OS_WIN
    // The machine key's values of the six variables, as Windows' own calls read them, unexpanded.
    static QMap<QByteArray, QString> machineKeyValues();
#endif
    // A new profile's text as the system writes it: Windows' writer ends its lines with CRLF.
    static QByteArray newProfile(QByteArray text)
    {
        return linuxMachine() ? text : text.replace('\n', "\r\n");
    }

private:
    static QList<Sandbox *> &liveSandboxes();
    static void clearMachineOutsideSandbox();
    quint32 keepRefusing(const std::function<void()> &undo);

    QTemporaryDir m_dir;
    QList<std::function<void()>> m_undo; // run when the sandbox ends, before anything is restored
    struct Saved
    {
        const char *name;
        QByteArray value;
        bool wasSet;
    };
    QList<Saved> m_saved;
};

// The store's environment files: the machine's, under the sandbox's prefix, and a login's own.
inline QString machineEnvFile(const Sandbox &sandbox)
{
    return sandbox.machine(QStringLiteral("/etc/environment.d/60-trox_inst_env.conf"));
}

inline QString userEnvFile(const QString &configHome)
{
    return configHome + QLatin1String("/environment.d/61-trox_inst_env.conf");
}
