#include "pathrules.h"

#include <QTest>

// Both rule sets are checked on every build, whatever the platform.
class tst_pathrules : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void normalise_data();
    void normalise();
    void serverPath_data();
    void serverPath();
    void join();
    void examplePaths_data();
    void examplePaths();
};

void tst_pathrules::normalise_data()
{
    QTest::addColumn<int>("convention");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("separators");
    QTest::addColumn<QString>("stripped");
    const int win = PathRules::Windows, posix = PathRules::Posix;
    const auto row = [](const char *name, int convention, const char *input, const char *separators,
                        const char *stripped) {
        QTest::newRow(name) << convention << QString::fromUtf8(input) << QString::fromUtf8(separators)
                            << QString::fromUtf8(stripped);
    };
    row("win forward slashes", win, "D:/systems/", "D:\\systems\\", "D:\\systems");
    row("win drive root", win, "C:\\", "C:\\", "C:");
    row("win lone separator", win, "\\", "\\", "");
    row("win several trailing", win, "a\\\\/", "a\\\\\\", "a");
    row("win empty", win, "", "", "");
    row("posix backslashes", posix, "\\srv\\trox\\", "/srv/trox/", "/srv/trox");
    row("posix root only", posix, "/", "/", "");
    row("posix several trailing", posix, "/opt/trox//", "/opt/trox//", "/opt/trox");
    row("posix untouched", posix, "/opt/trox", "/opt/trox", "/opt/trox");
}

void tst_pathrules::normalise()
{
    QFETCH(int, convention);
    QFETCH(QString, input);
    QFETCH(QString, separators);
    QFETCH(QString, stripped);
    const PathRules rules(static_cast<PathRules::Convention>(convention));
    QCOMPARE(rules.normaliseSeparators(input), separators);
    QCOMPARE(rules.stripTrailingSeparators(rules.normaliseSeparators(input)), stripped);
}

void tst_pathrules::serverPath_data()
{
    QTest::addColumn<int>("convention");
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("invalid");
    const int win = PathRules::Windows, posix = PathRules::Posix;
    QTest::newRow("win unc") << win << "\\\\fileserver\\trox\\systems" << false;
    QTest::newRow("win drive") << win << "c:\\mysystem" << false;
    QTest::newRow("win drive forward") << win << "c:/mysystem" << false;
    QTest::newRow("win digit colon") << win << "1:" << false;
    QTest::newRow("win two backslashes") << win << "\\\\" << false;
    QTest::newRow("win forward unc") << win << "//fileserver/trox" << true;
    QTest::newRow("win no leading") << win << "fileserver\\trox" << true;
    QTest::newRow("win empty") << win << "" << true;
    QTest::newRow("win one char") << win << "c" << true;
    QTest::newRow("posix absolute") << posix << "/mnt/server/trox" << false;
    QTest::newRow("posix relative") << posix << "mnt/server" << true;
    QTest::newRow("posix drive") << posix << "c:/trox" << true;
    QTest::newRow("posix unc") << posix << "\\\\server\\share" << true;
    QTest::newRow("posix empty") << posix << "" << true;
}

void tst_pathrules::serverPath()
{
    QFETCH(int, convention);
    QFETCH(QString, path);
    QFETCH(bool, invalid);
    QCOMPARE(PathRules(static_cast<PathRules::Convention>(convention)).invalidServerPath(path), invalid);
}

void tst_pathrules::join()
{
    QCOMPARE(PathRules(PathRules::Windows).join({"C:\\TROX\\", "plant", "config"}),
             "C:\\TROX\\\\plant\\config");
    QCOMPARE(PathRules(PathRules::Posix).join({"/opt/trox", "plant"}), "/opt/trox/plant");
}

void tst_pathrules::examplePaths_data()
{
    QTest::addColumn<int>("convention");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");
    const int win = PathRules::Windows, posix = PathRules::Posix;
    const QString help = QStringLiteral("<br>  \\\\srv\\trox\\dir<br>or c:\\my path: a b:c");
    QTest::newRow("win unchanged") << win << help << help;
    QTest::newRow("posix") << posix << help << "<br>  /mnt/srv/trox/dir<br>or /my path: a b:c";
    QTest::newRow("posix in parentheses") << posix << "(e.g. \\\\10.0.0.1\\trox)"
                                          << "(e.g. /mnt/10.0.0.1/trox)";
}

void tst_pathrules::examplePaths()
{
    QFETCH(int, convention);
    QFETCH(QString, text);
    QFETCH(QString, shown);
    QCOMPARE(PathRules(static_cast<PathRules::Convention>(convention)).examplePaths(text), shown);
}

QTEST_GUILESS_MAIN(tst_pathrules)
#include "tst_pathrules.moc"
