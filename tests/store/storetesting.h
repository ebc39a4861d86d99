#pragma once

#include <QByteArray>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>

// The generator systemd's user manager runs at login to build the session environment from
// environment.d files; the tests check file contents against it rather than against our own reading.
inline const char generatorPath[] =
    "/usr/lib/systemd/user-environment-generators/30-systemd-environment-d-generator";

inline bool generatorAvailable()
{
    return QFile::exists(QLatin1String(generatorPath));
}

// Runs the generator with only HOME, XDG_CONFIG_HOME and the given variables set, and returns what
// it prints, unquoted. The per-user files it reads are configHome/environment.d/*.conf.
inline QMap<QByteArray, QByteArray> runGenerator(const QString &configHome,
                                                 const QMap<QString, QString> &environment = {})
{
    QProcessEnvironment env;
    env.insert(QStringLiteral("HOME"), configHome);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
    for (auto it = environment.cbegin(); it != environment.cend(); ++it)
        env.insert(it.key(), it.value());
    QProcess generator;
    generator.setProcessEnvironment(env);
    generator.start(QLatin1String(generatorPath), {});
    generator.waitForFinished(10000);

    QMap<QByteArray, QByteArray> result;
    for (const QByteArray &line : generator.readAllStandardOutput().split('\n')) {
        const qsizetype equals = line.indexOf('=');
        if (equals <= 0)
            continue;
        QByteArray value = line.mid(equals + 1);
        if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"')) {
            QByteArray unquoted;
            for (qsizetype i = 1; i < value.size() - 1; ++i) {
                char c = value.at(i);
                // The generator prints C escapes: \n and the like, other control characters in octal.
                if (c == '\\' && i + 1 < value.size() - 1) {
                    c = value.at(++i);
                    const qsizetype named = QByteArray("abfnrtv").indexOf(c);
                    if (named >= 0) {
                        c = "\a\b\f\n\r\t\v"[named];
                    } else if (c >= '0' && c <= '7' && i + 2 < value.size() - 1) {
                        c = char(value.mid(i, 3).toInt(nullptr, 8));
                        i += 2;
                    }
                }
                unquoted += c;
            }
            value = unquoted;
        }
        result.insert(line.left(equals), value);
    }
    return result;
}
