#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// A scratch machine for one test: TROX_INST_ENV_PREFIX, HOME and XDG_CONFIG_HOME point into a
// fresh temporary directory, XDG_CONFIG_DIRS is unset, and everything is restored on destruction.
class Sandbox
{
public:
    Sandbox();
    ~Sandbox();
    Sandbox(const Sandbox &) = delete;
    Sandbox &operator=(const Sandbox &) = delete;

    QString root() const { return m_dir.path(); }
    // The machine-level path under the prefix ("/etc/trox/xsv.ini" -> "<root>/prefix/etc/trox/xsv.ini").
    QString machine(const QString &absolutePath) const;
    QString home() const;
    QString userConfig() const;

    static QByteArray readFile(const QString &path);
    static bool writeFile(const QString &path, const QByteArray &contents);

private:
    QTemporaryDir m_dir;
    struct Saved
    {
        const char *name;
        QByteArray value;
        bool wasSet;
    };
    Saved m_saved[4];
};
