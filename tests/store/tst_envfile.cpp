#include "linux/envfile.h"
#include "sandbox.h"
#include "storetesting.h"

#include <QTest>

class tst_envfile : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void setVariable_data();
    void setVariable();
    void readsLikeTheGenerator_data();
    void readsLikeTheGenerator();
};

void tst_envfile::setVariable_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QByteArray>("after");
    // Each row but the first few sets OV_ROOT to x.
    const auto row = [](const char *name, const QByteArray &before, const QByteArray &after,
                        const QByteArray &value = "x") {
        QTest::newRow(name) << before << value << after;
    };
    row("new file", "", "OV_ROOT=\"/opt/trox\"\n", "/opt/trox");
    row("escaped", "", "OV_ROOT=\"a\\\"b\\\\c\\`d$$e\"\n", "a\"b\\c`d$e");
    row("reference", "", "OV_ROOT=\"${OV_SERVER_ROOT:-%OV_SERVER_ROOT%}\\\\x %1 50% %%\"\n",
        "%OV_SERVER_ROOT%\\x %1 50% %%");
    row("empty", "", "OV_ROOT=\"${OV_ROOT:+}\"\n", "");
    row("replaced among others",
        "# keep me\r\nA=1\n  OV_ROOT = old value  \nOV_ROOTX=2\n;OV_ROOT=commented\n",
        "# keep me\r\nA=1\nOV_ROOT=\"x\"\nOV_ROOTX=2\n;OV_ROOT=commented\n");
    row("quoted value over two lines", "OV_ROOT=\"first\nsecond\"\nB=2\n", "OV_ROOT=\"x\"\nB=2\n");
    row("continued line", "OV_ROOT=a\\\nb\nB=2", "OV_ROOT=\"x\"\nB=2");
    row("every duplicate", "OV_ROOT=a\nB=${OV_ROOT}\nOV_ROOT=b\n",
        "OV_ROOT=\"x\"\nB=${OV_ROOT}\nOV_ROOT=\"x\"\n");
    row("crlf kept", "OV_ROOT=a\r\nB=2\r\n", "OV_ROOT=\"x\"\r\nB=2\r\n");
    row("appended in crlf", "B=2\r\n", "B=2\r\nOV_ROOT=\"x\"\r\n");
    row("appended after open comment", "# no line break", "# no line break\nOV_ROOT=\"x\"\n");
    // Appending would continue the unfinished value: nothing is written (a null result).
    for (const char *open : {"A=\"open\n", "A='open", "A=\"x\\"})
        row(open, open, QByteArray());
    // A continued value or comment is ended by a blank line before the appended one.
    row("continued value", "A=x\\", "A=x\\\n\nOV_ROOT=\"x\"\n");
    row("continued comments", "# note \\\nOV_ROOT=old\n# end \\\n",
        "# note \\\nOV_ROOT=old\n# end \\\n\nOV_ROOT=\"x\"\n");
    // The generator skips a file with a NUL and fails on a value that is not UTF-8 as systemd takes it.
    for (const char *broken : {"A=\xff\n", "A=\"\xc0\x80\"\n", "A=\xed\xa0\x80\n", "A=\xef\xbf\xbe\n",
                               "A=\xf4\x90\x80\x80\n", "OV_ROOT=\xe2\x82\n"})
        row(broken, broken, QByteArray());
    row("nul", QByteArray("# \0\nA=1\n", 8), QByteArray());
    row("not UTF-8 where the generator does not look", "# \xff\nA-\xff=1\n",
        "# \xff\nA-\xff=1\nOV_ROOT=\"x\"\n");
    row("unfinished value, name present", "OV_ROOT=1\nA=\"open", "OV_ROOT=\"x\"\nA=\"open");
    row("last line without break", "A=1\nOV_ROOT=old", "A=1\nOV_ROOT=\"x\"");
}

void tst_envfile::setVariable()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, value);
    QFETCH(QByteArray, after);
    const QByteArray result = EnvFile::setVariable(before, "OV_ROOT", value);
    QCOMPARE(result, after);
    QCOMPARE(result.isNull(), after.isNull());
}

void tst_envfile::readsLikeTheGenerator_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::newRow("quoting") << QByteArray(
        "A=plain  \nB = 'single $HOME' \nC=\"x\\\"y\\\\z\\q\"tail\nD=a\"b c\"\n"
        "E=\\#x\nF=\"${A:+}\"\nG=\nH=\"\"\n");
    QTest::newRow("expansion") << QByteArray("A=one\nB=${A}/$A/$$A/${A:-d}/${Z:-d}/${A:+alt}/${Z:+alt}\n"
                                             "C=${Z:-${A}-nested}\nD=$ $1 ${A:x} ${unclosed\nE=${SEED}\n");
    QTest::newRow("order") << QByteArray("A=${B:-early}\nB=2\nC=${B}\nB=3\nD=$B\n");
    QTest::newRow("comments and continuation")
        << QByteArray("# A=no\n;B=no\nC=a\\\nb\n  D=\"multi\nline\"\n# E=no \\\nE=swallowed\nF=\"\ttab\"\n");
}

void tst_envfile::readsLikeTheGenerator()
{
    if (!generatorAvailable())
        QSKIP("systemd's environment generator is not installed");
    QFETCH(QByteArray, file);
    Sandbox sandbox;
    QVERIFY(Sandbox::writeFile(sandbox.userConfig() + QLatin1String("/environment.d/50-test.conf"), file));
    const QMap<QByteArray, QByteArray> generated =
        runGenerator(sandbox.userConfig(), {{QStringLiteral("SEED"), QStringLiteral("from login")}});

    QMap<QByteArray, QByteArray> ours;
    const EnvFile::Lookup lookup = [&](const QByteArray &name) -> std::optional<QByteArray> {
        if (ours.contains(name))
            return ours.value(name);
        if (name == "SEED")
            return QByteArray("from login");
        if (name == "HOME")
            return QFile::encodeName(sandbox.userConfig());
        return std::nullopt;
    };
    for (const EnvFile::Assignment &assignment : EnvFile::parse(file)) {
        if (assignment.hasValue && EnvFile::isValidName(assignment.name))
            ours.insert(assignment.name, EnvFile::expand(assignment.value, lookup));
    }
    for (auto it = ours.cbegin(); it != ours.cend(); ++it)
        QCOMPARE(it.key() + '=' + generated.value(it.key(), "<unset>"),
                 it.key() + '=' + EnvFile::loginValue(it.value()));
    for (const char *name : {"A", "B", "C", "D", "E", "F", "G", "H"})
        QCOMPARE(ours.contains(name), generated.contains(name));
}

QTEST_GUILESS_MAIN(tst_envfile)
#include "tst_envfile.moc"
