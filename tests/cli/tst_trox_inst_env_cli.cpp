#include "../store/storetesting.h"
#include "sandbox.h"

#include <QDir>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

// The command-line tool as a script runs it: its checks, its exit codes, what it leaves behind.
class tst_trox_inst_env_cli : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void input_data();
    void input();
    void showAfterSetAgreesWithTheLogin();
    void landing_data();
    void landing();
};

namespace {

Ran run(const QStringList &arguments)
{
    return runCommand(QStringList{CLI_PATH} + arguments);
}

// Every file under the sandbox's machine prefix and home.
QStringList files(const Sandbox &sandbox)
{
    QStringList found;
    QDirIterator it(sandbox.root(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        found << it.next();
    return found;
}

} // namespace

void tst_trox_inst_env_cli::input_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output"); // on standard error for invalid input, else standard output

    const auto row = [](const char *name, const char *words, int exitCode, const char *output) {
        QTest::newRow(name) << QString::fromUtf8(words).split(' ') << exitCode << output;
    };
    row("workstation 1000abc", "set OV_WORKSTATION=1000abc", 2, "between 1 and 999");
    row("workstation 0", "set OV_WORKSTATION=0", 2, "between 1 and 999");
    row("workstation empty", "set OV_WORKSTATION=", 2, "between 1 and 999");
    row("relative server", "set OV_SERVER_ROOT=srv/main", 2, "not a valid path");
    row("relative reserve", "set OV_RESERVE_SERVER_ROOT=spare", 2, "not a valid path");
    row("developer as a value", "set OV_DEVELOPER=maybe", 2, "--developer");
    row("unknown variable", "set PATH=/tmp", 2, "unknown variable: PATH");
    row("no value", "set OV_ROOT", 2, "not NAME=VALUE");
    row("given twice", "set OV_SYSTEM=a OV_SYSTEM=b", 2, "given twice");
    row("line break injects a variable", "set OV_SYSTEM=alpha\nOV_DEVELOPER=true", 2, "line break");
    row("both stand-alone switches", "set --stand-alone --no-stand-alone", 2, "exclude");
    row("both developer switches", "set --developer --no-developer", 2, "exclude");
    row("server in stand-alone mode", "set OV_SERVER_ROOT=/srv/main --stand-alone", 2, "stand-alone");
    row("unknown option", "set --force", 2, "force");
    row("unknown command", "get", 2, "unknown command: get");
    row("show with a value", "show OV_ROOT=/x", 2, "--json");
    row("version", "--version", 0, "trox_inst_env_cli 4.5.0.4\n");
    // A dry run says what would change and writes nothing; the root is normalised, the number kept
    // as typed, the server's separators made native.
    row("dry run",
        "set OV_ROOT=/opt/trox// OV_SYSTEM=alpha OV_WORKSTATION=007 OV_SERVER_ROOT=/srv\\main --developer "
        "--dry-run",
        0,
        "OV_ROOT=/opt/trox\nOV_SYSTEM=alpha\nlast known server=/srv/main\nOV_SERVER_ROOT=/srv/main\n"
        "OV_WORKSTATION=007\nxsv.ini [Network] Workstation=007\ntaskbase.ini [System] Workstation=007\n"
        "/opt/trox/alpha/config/system/trox_system.ini [Network] Workstation=007\nOV_DEVELOPER=true\n");
}

void tst_trox_inst_env_cli::input()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, output);

    Sandbox sandbox;
    const Ran result = run(arguments);
    QCOMPARE(result.exitCode, exitCode);
    if (exitCode == 2)
        QVERIFY2(result.err.contains(output.toUtf8()), result.err.constData());
    else
        QCOMPARE(QString::fromUtf8(result.out), output);
    QCOMPARE(files(sandbox), QStringList());
}

void tst_trox_inst_env_cli::showAfterSetAgreesWithTheLogin()
{
    if (!generatorAvailable())
        QSKIP("systemd's environment generator is not installed");
    Sandbox sandbox;
    const QString root = sandbox.root() + "/opt/trox";
    QVERIFY(QDir().mkpath(root + "/alpha/config/system"));
    // Values this session inherited from an older login, or from the caller's own shell.
    qputenv("OV_WORKSTATION", "12");
    qputenv("OV_SYSTEM", "alpha");
    QCOMPARE(run({"set", "OV_ROOT=" + root, "OV_SYSTEM=alpha", "OV_WORKSTATION=40",
                  "OV_RESERVE_SERVER_ROOT=/srv/spare"})
                 .exitCode,
             0);
    Ran result = run({"show", "--json"});
    QCOMPARE(result.exitCode, 0);
    const QJsonObject shown = QJsonDocument::fromJson(result.out).object();
    const auto variable = [&shown](const char *name, const char *field) {
        return shown["variables"][QLatin1String(name)][QLatin1String(field)];
    };

    const auto login = loginReading(Sandbox::readFile(machineEnvFile(sandbox)), sandbox.root());
    for (const char *name : Sandbox::variables()) {
        const QJsonValue value = variable(name, "value");
        QCOMPARE(value.isNull() ? QByteArray("<unset>") : value.toString().toUtf8(),
                 login.value(name, QByteArray("<unset>")));
    }
    QCOMPARE(variable("OV_WORKSTATION", "session").toString(), QStringLiteral("12"));
    QCOMPARE(variable("OV_ROOT", "source").toString(), QStringLiteral("machine"));
    const QJsonArray profiles = shown["profiles"].toArray();
    QCOMPARE(profiles.size(), 3);
    for (const QJsonValue &profile : profiles)
        QCOMPARE(profile["workstation"].toString(), QStringLiteral("40"));

    // Set again to what is stored: nothing to report, nothing announced.
    result = run({"set", "OV_WORKSTATION=40"});
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.out, QByteArray());
}

void tst_trox_inst_env_cli::landing_data()
{
    QTest::addColumn<bool>("unprivileged");
    QTest::addColumn<bool>("userRefused");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("said");

    QTest::newRow("unprivileged, per-user")
        << true << false << 0
        << QStringList{"OV_SYSTEM saved for the account nobody only", "Permission denied",
                       "Other users of this workstation do not get them"};
    QTest::newRow("root, machine file refused")
        << false << false << 1
        << QStringList{"could not be saved", "OV_SYSTEM only for the account root", "reaches no other user",
                       "Not a directory"};
    QTest::newRow("root, both refused")
        << false << true << 1 << QStringList{"OV_SYSTEM, neither machine-wide nor for this user"};
}

void tst_trox_inst_env_cli::landing()
{
    QFETCH(bool, unprivileged);
    QFETCH(bool, userRefused);
    QFETCH(int, exitCode);
    QFETCH(QStringList, said);
    if (!canRunAsNobody())
        QSKIP("needs root and setpriv to run as both");

    Sandbox sandbox;
    QStringList command{CLI_PATH};
    if (unprivileged) {
        // The unprivileged user is kept out of root's directories by their modes.
        command = asNobody({sandbox.root() + "/trox_inst_env_cli"});
        QVERIFY(QFile::copy(CLI_PATH, command.last()));
        QCOMPARE(chmod(QFile::encodeName(sandbox.root()).constData(), 0755), 0);
        QCOMPARE(chmod(QFile::encodeName(sandbox.machine(QString())).constData(), 0555), 0);
        for (const QString &dir : {sandbox.home(), sandbox.userConfig()})
            QCOMPARE(chown(QFile::encodeName(dir).constData(), 65534, 65534), 0);
    } else {
        QVERIFY(Sandbox::writeFile(sandbox.machine("/etc/environment.d"), "not a directory"));
        if (userRefused)
            QVERIFY(Sandbox::writeFile(sandbox.userConfig() + "/environment.d", "not a directory"));
    }
    // Stand-alone without a number: no file of root's is written besides the variable.
    const Ran result = runCommand(command + QStringList{"set", "OV_SYSTEM=beta", "--stand-alone"});
    chmod(QFile::encodeName(sandbox.machine(QString())).constData(), 0755);
    chmod(QFile::encodeName(sandbox.root()).constData(), 0700);
    QCOMPARE(result.exitCode, exitCode);
    for (const QString &part : std::as_const(said))
        QVERIFY2(result.err.contains(part.toUtf8()), result.err.constData());
    QCOMPARE(Sandbox::readFile(userEnvFile(sandbox.userConfig())),
             userRefused ? QByteArray() : QByteArray("OV_SYSTEM=\"beta\"\n"));
}

QTEST_GUILESS_MAIN(tst_trox_inst_env_cli)
#include "tst_trox_inst_env_cli.moc"
