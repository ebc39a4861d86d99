#include "envfile.h"
#include "storetesting.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

// Input: one byte per token of an environment file. The tool's reading of the file (parse, expand,
// as the login ends up with it) must be what systemd's generator prints, read the way its user
// manager reads it, for every variable the file sets.
namespace {

const char *const tokens[] = {"FZ_A",
                              "FZ_B",
                              "FZ_C",
                              "HOME",
                              "SEED",
                              "1",
                              "x y",
                              "=",
                              " ",
                              "\t",
                              "\n",
                              "\r",
                              "\r\n",
                              "\"",
                              "'",
                              "\\",
                              "#",
                              ";",
                              "$",
                              "$$",
                              "{",
                              "}",
                              "${",
                              ":",
                              ":-",
                              ":+",
                              "%",
                              "`",
                              "\x01",
                              "\x7f",
                              "\xc3\xa9",
                              "\xff",
                              "\xef\xbf\xbe",
                              "\xed\xa0\x80",
                              "\xf0\x9f\x98\x80",
                              "-",
                              "_",
                              "0",
                              "/"};
const int tokenCount = int(sizeof tokens / sizeof *tokens);

QTemporaryDir *scratch = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    if (!generatorAvailable()) {
        std::fprintf(stderr, "systemd's environment generator is not installed: nothing to compare with\n");
        std::exit(0);
    }
    new QCoreApplication(*argc, *argv);
    scratch = new QTemporaryDir;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const char *data, size_t size)
{
    QByteArray file;
    for (size_t i = 0; i < size && i < 64; ++i)
        file += tokens[uchar(data[i]) % tokenCount];
    if (!EnvFile::isLoginReadable(file))
        return 0; // the tool never writes into such a file

    // The file sorts before the host's own environment.d files, which therefore cannot change it.
    QFile out(scratch->path() + QLatin1String("/environment.d/00-fuzz.conf"));
    if (!QDir().mkpath(scratch->path() + QLatin1String("/environment.d")) ||
        !out.open(QIODevice::WriteOnly) || out.write(file) != file.size())
        std::abort();
    out.close();
    const QByteArray seed("from login");
    const QMap<QByteArray, QByteArray> generated =
        runGenerator(scratch->path(), {{QStringLiteral("SEED"), QString::fromLatin1(seed)}});

    QMap<QByteArray, QByteArray> ours;
    const EnvFile::Lookup lookup = [&](const QByteArray &name) -> std::optional<QByteArray> {
        if (ours.contains(name))
            return ours.value(name);
        if (name == "SEED")
            return seed;
        if (name == "HOME")
            return QFile::encodeName(scratch->path());
        return std::nullopt;
    };
    for (const EnvFile::Assignment &assignment : EnvFile::parse(file)) {
        if (assignment.hasValue && EnvFile::isValidName(assignment.name))
            ours.insert(assignment.name, EnvFile::expand(assignment.value, lookup));
    }
    bool same = true;
    for (const char *name : {"FZ_A", "FZ_B", "FZ_C", "HOME", "SEED"}) {
        const QByteArray want =
            ours.contains(name) ? EnvFile::loginValue(ours.value(name)) : QByteArray("<unset>");
        if (generated.value(name, "<unset>") != want) {
            std::fprintf(stderr, "%s: generator \"%s\", tool \"%s\"\n", name,
                         generated.value(name, "<unset>").constData(), want.constData());
            same = false;
        }
    }
    if (!same) {
        std::fprintf(stderr, "file:\n%s\n", file.toPercentEncoding(" =\"'${}:-+#;\\/_\n").constData());
        std::abort();
    }
    return 0;
}
