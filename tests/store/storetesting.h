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
    QProcess generator;
    generator.setProcessEnvironment(env);
    generator.start(QLatin1String(generatorPath), {});
    generator.waitForFinished(10000);

    QMap<QByteArray, QByteArray> result;
    for (const QByteArray &line : generator.readAllStandardOutput().split('\n')) {
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
