#include "envfile.h"
#include "loginenvironment.h"
#include "storetesting.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

// Input: a set of environment.d files, one byte per token of their text, a separator token starting
// the next file in a folder and under a name the byte after it picks. What a login gets (the loader
// behind show, and the profile script) must be what systemd's generator prints, read the way its
// user manager reads it. The generator reads fixed folders: as root it runs in a mount namespace with
// the scratch folders mounted over them; otherwise only the user's folder is varied.
static const QList<QByteArray> tokens =
    QByteArray("OV_ROOT|OV_SYSTEM|HOME|SEED|1|x y|=| |\t|\n|\r|\r\n|\"|'|\\|#|;|$|$$|{|}|${|:|:-|:+|%|`|\x01|"
               "\x7f|\xc3\xa9|\xff|\xef\xbf\xbe|\xf0\x9f\x98\x80|-|0")
        .split('|');
static const char *const folders[] = {"user/environment.d", "prefix/etc/environment.d",
                                      "prefix/run/environment.d", "prefix/usr/local/lib/environment.d",
                                      "prefix/usr/lib/environment.d"};
static const char *const names[] = {"50-a.conf", "60-trox_inst_env.conf", "61-trox_inst_env.conf",
                                    "70-site.conf"};
static QTemporaryDir *scratch = nullptr;
static bool namespaces = false;

static QString at(const char *relative)
{
    return scratch->path() + QLatin1Char('/') + QLatin1String(relative);
}

static QProcessEnvironment loginEnvironment()
{
    QProcessEnvironment env;
    env.insert(QStringLiteral("HOME"), at("user"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), at("user"));
    env.insert(QStringLiteral("SEED"), QStringLiteral("s"));
    env.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
    return env;
}

// The generator with the machine folders replaced by the scratch ones, /run and /usr/local/lib by
// empty ones first so that the folders exist, all inside a namespace of its own.
static Ran generate()
{
    const QString script = QStringLiteral(
        "mount -t tmpfs none /run && mount -t tmpfs none /usr/local/lib && mkdir /run/environment.d "
        "/usr/local/lib/environment.d && for d in etc/environment.d run/environment.d "
        "usr/local/lib/environment.d usr/lib/environment.d; do mount --bind \"$0/prefix/$d\" \"/$d\" || exit "
        "9; "
        "done && exec \"$1\"");
    if (!namespaces)
        return runCommand({QLatin1String(generatorPath)}, loginEnvironment());
    return runCommand({"unshare", "-m", "sh", "-c", script, scratch->path(), QLatin1String(generatorPath)},
                      loginEnvironment());
}

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    if (!generatorAvailable())
        std::exit(0); // nothing to compare with
    new QCoreApplication(*argc, *argv);
    scratch = new QTemporaryDir;
    for (const char *folder : folders)
        QDir().mkpath(at(folder));
    namespaces = geteuid() == 0 && generate().exitCode == 0;
    std::fprintf(stderr, "comparing %s\n",
                 namespaces ? "every folder (mount namespace)" : "the user's folder");
    const QProcessEnvironment env = loginEnvironment();
    for (const QString &name : env.keys())
        qputenv(name.toLatin1().constData(), env.value(name).toLocal8Bit());
    qputenv("TROX_INST_ENV_PREFIX", at("prefix").toLocal8Bit());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const char *data, size_t size)
{
    for (const char *folder : folders) {
        QDir dir(at(folder));
        for (const QString &file : dir.entryList(QDir::Files))
            dir.remove(file);
    }
    QMap<QString, QByteArray> files;
    QString current = at(folders[0]) + QLatin1String("/60-trox_inst_env.conf");
    for (size_t i = 0; i < size && i < 96; ++i) {
        const auto byte = uchar(data[i]);
        if (byte == 0xFF && i + 1 < size) {
            const auto pick = uchar(data[++i]);
            current = at(folders[namespaces ? pick % 5 : 0]) + QLatin1Char('/') +
                      QLatin1String(names[(pick / 5) % 4]);
            files[current];
            continue;
        }
        files[current] += tokens.at(byte % tokens.size());
    }
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        QFile out(it.key());
        if (!out.open(QIODevice::WriteOnly) || out.write(it.value()) != it.value().size() || !out.flush())
            std::abort();
    }

    const Ran generator = generate();
    QMap<QByteArray, QByteArray> generated;
    for (const EnvFile::Assignment &assignment : EnvFile::parse(generator.out))
        generated.insert(assignment.name, assignment.value);
    QMap<QByteArray, QByteArray> ours;
    for (const LoginEnvironment::Variable &variable : LoginEnvironment::login())
        ours.insert(variable.name, variable.value);
    QProcessEnvironment shellEnvironment = loginEnvironment();
    shellEnvironment.insert(QStringLiteral("TROX_INST_ENV_PREFIX"), at("prefix"));
    const Ran shell =
        runCommand({"sh", "-c", ". \"$0\"; printf '%s\\n' \"${OV_ROOT-<unset>}\" \"${OV_SYSTEM-<unset>}\"",
                    QLatin1String(TROX_SOURCE_DIR "/packaging/trox_inst_env.sh")},
                   shellEnvironment);
    const QList<QByteArray> script = shell.out.split('\n');

    bool agree = true;
    for (const char *name : {"OV_ROOT", "OV_SYSTEM", "HOME", "SEED"}) {
        const QByteArray expected = generated.value(name, "<unset>");
        if (ours.value(name, "<unset>") != expected) {
            std::fprintf(stderr, "%s: generator \"%s\", loader \"%s\"\n", name, expected.constData(),
                         ours.value(name, "<unset>").constData());
            agree = false;
        }
        const qsizetype line = QByteArray(name) == "OV_ROOT" ? 0 : QByteArray(name) == "OV_SYSTEM" ? 1 : -1;
        if (line >= 0 && script.value(line) != expected) {
            std::fprintf(stderr, "%s: generator \"%s\", profile script \"%s\"\n", name, expected.constData(),
                         script.value(line).constData());
            agree = false;
        }
    }
    if (!agree)
        std::abort();
    return 0;
}
