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

    QTest::newRow("new file") << QByteArray() << QByteArray("/opt/trox")
                              << QByteArray("OV_ROOT=\"/opt/trox\"\n");
    QTest::newRow("escaped") << QByteArray() << QByteArray("a\"b\\c`d$e")
                             << QByteArray("OV_ROOT=\"a\\\"b\\\\c\\`d$$e\"\n");
    QTest::newRow("reference") << QByteArray() << QByteArray("%OV_SERVER_ROOT%\\x %1 50% %%")
                               << QByteArray(
                                      "OV_ROOT=\"${OV_SERVER_ROOT:-%OV_SERVER_ROOT%}\\\\x %1 50% %%\"\n");
    QTest::newRow("empty") << QByteArray() << QByteArray() << QByteArray("OV_ROOT=\"${OV_ROOT:+}\"\n");
    QTest::newRow("replaced among others")
        << QByteArray("# keep me\r\nA=1\n  OV_ROOT = old value  \nOV_ROOTX=2\n;OV_ROOT=commented\n")
        << QByteArray("new")
        << QByteArray("# keep me\r\nA=1\nOV_ROOT=\"new\"\nOV_ROOTX=2\n;OV_ROOT=commented\n");
    QTest::newRow("quoted value over two lines") << QByteArray("OV_ROOT=\"first\nsecond\"\nB=2\n")
                                                 << QByteArray("x") << QByteArray("OV_ROOT=\"x\"\nB=2\n");
    QTest::newRow("continued line") << QByteArray("OV_ROOT=a\\\nb\nB=2") << QByteArray("x")
                                    << QByteArray("OV_ROOT=\"x\"\nB=2");
    QTest::newRow("every duplicate") << QByteArray("OV_ROOT=a\nB=${OV_ROOT}\nOV_ROOT=b\n") << QByteArray("x")
                                     << QByteArray("OV_ROOT=\"x\"\nB=${OV_ROOT}\nOV_ROOT=\"x\"\n");
    QTest::newRow("crlf kept") << QByteArray("OV_ROOT=a\r\nB=2\r\n") << QByteArray("x")
                               << QByteArray("OV_ROOT=\"x\"\r\nB=2\r\n");
    QTest::newRow("appended in crlf")
        << QByteArray("B=2\r\n") << QByteArray("x") << QByteArray("B=2\r\nOV_ROOT=\"x\"\r\n");
    QTest::newRow("appended after open comment")
        << QByteArray("# no line break") << QByteArray("x") << QByteArray("# no line break\nOV_ROOT=\"x\"\n");
    // Appending would continue the unfinished value: nothing is written (a null result).
    for (const char *open : {"A=\"open\n", "A='open", "A=\"x\\"})
        QTest::newRow(open) << QByteArray(open) << QByteArray("x") << QByteArray();
    // A continued value or comment is ended by a blank line before the appended one.
    QTest::newRow("continued value") << QByteArray("A=x\\") << QByteArray("x")
                                     << QByteArray("A=x\\\n\nOV_ROOT=\"x\"\n");
    QTest::newRow("continued comments") << QByteArray("# note \\\nOV_ROOT=old\n# end \\\n") << QByteArray("x")
                                        << QByteArray("# note \\\nOV_ROOT=old\n# end \\\n\nOV_ROOT=\"x\"\n");
    // The generator skips a file with a NUL and fails on a value that is not UTF-8 as systemd takes it.
    for (const char *broken : {"A=\xff\n", "A=\"\xc0\x80\"\n", "A=\xed\xa0\x80\n", "A=\xef\xbf\xbe\n",
                               "A=\xf4\x90\x80\x80\n", "OV_ROOT=\xe2\x82\n"})
        QTest::newRow(broken) << QByteArray(broken) << QByteArray("x") << QByteArray();
    QTest::newRow("nul") << QByteArray("# \0\nA=1\n", 8) << QByteArray("x") << QByteArray();
    QTest::newRow("not UTF-8 where the generator does not look")
        << QByteArray("# \xff\nA-\xff=1\n") << QByteArray("x")
        << QByteArray("# \xff\nA-\xff=1\nOV_ROOT=\"x\"\n");
    QTest::newRow("unfinished value, name present")
        << QByteArray("OV_ROOT=1\nA=\"open") << QByteArray("x") << QByteArray("OV_ROOT=\"x\"\nA=\"open");
    QTest::newRow("last line without break")
        << QByteArray("A=1\nOV_ROOT=old") << QByteArray("x") << QByteArray("A=1\nOV_ROOT=\"x\"");
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
