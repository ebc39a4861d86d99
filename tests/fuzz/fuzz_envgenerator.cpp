#include "envfile.h"
#include "storetesting.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

// Input: one byte per token of an environment file. For every variable the file may set, the tool's
// reading (parse, expand, as the login ends up with it) must be what systemd's generator prints, read
// the way its user manager reads it. The file sorts before the host's own environment.d files.
static const QList<QByteArray> tokens =
    QByteArray("FZ_A|FZ_B|HOME|SEED|1|x y|=| |\t|\n|\r|\r\n|\"|'|\\|#|;|$|$$|{|}|${|:|:-|:+|%|`|\x01|\x7f|"
               "\xc3\xa9|\xff|\xef\xbf\xbe|\xf0\x9f\x98\x80|-|0")
        .split('|');
static QTemporaryDir *scratch = nullptr;

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    if (!generatorAvailable())
        std::exit(0); // nothing to compare with
    new QCoreApplication(*argc, *argv);
    scratch = new QTemporaryDir;
    return QDir().mkpath(scratch->path() + QLatin1String("/environment.d")) ? 0 : 1;
}

extern "C" int LLVMFuzzerTestOneInput(const char *data, size_t size)
{
    QByteArray file;
    for (size_t i = 0; i < size && i < 64; ++i)
        file += tokens.at(uchar(data[i]) % tokens.size());
    if (!EnvFile::isLoginReadable(file))
        return 0; // the tool never writes into such a file
    QFile out(scratch->path() + QLatin1String("/environment.d/00-fuzz.conf"));
    if (!out.open(QIODevice::WriteOnly) || out.write(file) != file.size() || !out.flush())
        std::abort();
    const auto generated = runGenerator(scratch->path(), {{QStringLiteral("SEED"), QStringLiteral("s")}});

    QMap<QByteArray, QByteArray> ours{{"SEED", "s"}, {"HOME", QFile::encodeName(scratch->path())}};
    QMap<QByteArray, QByteArray> expected;
    for (const EnvFile::Assignment &assignment : EnvFile::parse(file)) {
        if (!assignment.hasValue || !EnvFile::isValidName(assignment.name))
            continue;
        const QByteArray value = EnvFile::expand(assignment.value, [&](const QByteArray &name) {
            return ours.contains(name) ? std::optional(ours.value(name)) : std::nullopt;
        });
        ours.insert(assignment.name, value);
        expected.insert(assignment.name, EnvFile::loginValue(value));
    }
    for (const char *name : {"FZ_A", "FZ_B", "HOME", "SEED"}) {
        if (generated.value(name, "<unset>") != expected.value(name, "<unset>")) {
            std::fprintf(stderr, "%s: generator \"%s\", tool \"%s\"\n", name,
                         generated.value(name).constData(), expected.value(name, "<unset>").constData());
            std::abort();
        }
    }
    return 0;
}
