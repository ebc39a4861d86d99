#include "../store/storetesting.h"
#include "machinestore.h"
#include "sandbox.h"

#include <QDir>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStringEncoder>
#include <QTest>

#include <sys/stat.h>

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
    void hostileSystemProfile_data();
    void hostileSystemProfile();
};

namespace {

// Windows' console streams end their lines with CR LF; the rows compare lines.
Ran run(const QStringList &arguments,
        const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    Ran ran = runCommand(QStringList{CLI_PATH} + arguments, environment);
    if (!Sandbox::linuxMachine()) {
        ran.out.replace("\r\n", "\n");
        ran.err.replace("\r\n", "\n");
    }
    return ran;
}

// A server path as the platform's rules take it: /srv/NAME, or \\NAME\srv on Windows.
QString serverPath(const QString &name)
{
    return Sandbox::linuxMachine() ? "/srv/" + name : "\\\\" + name + "\\srv";
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
    row("server in stand-alone mode", "set OV_SERVER_ROOT=$SERVER --stand-alone", 2, "stand-alone");
    row("unknown option", "set --force", 2, "force");
    row("unknown command", "get", 2, "unknown command: get");
    row("show with a value", "show OV_ROOT=/x", 2, "--json");
    row("version", "--version", 0, "trox_inst_env_cli 4.5.0.4\n");
    // The whole request is checked before anything is written.
    row("relative root", "set OV_ROOT=relative OV_SYSTEM=alpha --no-system-profile", 2, "absolute path");
    row("unknown system", "set OV_ROOT=/opt/trox OV_SYSTEM=nosuch OV_WORKSTATION=3", 2,
        "/opt/trox/nosuch/config/system: This path does not exist!");
    row("system outside the root", "set OV_SYSTEM=../etc --no-system-profile", 2, "name of a directory");
    row("number without a root", "set OV_WORKSTATION=5", 2, "root and the system are needed");
    row("refused as data", "set OV_WORKSTATION=0 --json", 2, "between 1 and 999");
    // A dry run says what would change and writes nothing; the root is normalised, the number kept
    // as typed, the server's separators made native.
    if (Sandbox::linuxMachine())
        row("dry run",
            "set OV_ROOT=/opt/trox// OV_SYSTEM=alpha OV_WORKSTATION=007 OV_SERVER_ROOT=/srv\\main "
            "--developer --dry-run --no-system-profile",
            0,
            "OV_ROOT: (unset) -> \"/opt/trox\"\nOV_SYSTEM: (unset) -> \"alpha\"\n"
            "last known server ($PREFIX/etc/xdg/Quarnby Technology/trox_inst_env.conf): (unset) -> "
            "\"/srv/main\"\n"
            "OV_SERVER_ROOT: (unset) -> \"/srv/main\"\nOV_WORKSTATION: (unset) -> \"007\"\n"
            "$PREFIX/etc/trox/xsv.ini [Network] Workstation: (unset) -> \"007\"\n"
            "$PREFIX/etc/trox/taskbase.ini [System] Workstation: (unset) -> \"007\"\n"
            "OV_DEVELOPER: (unset) -> \"true\"\n");
    else
        row("dry run",
            "set OV_ROOT=/opt/trox// OV_SYSTEM=alpha OV_WORKSTATION=007 OV_SERVER_ROOT=\\\\srv/main "
            "--developer --dry-run --no-system-profile",
            0,
            "OV_ROOT: (unset) -> \"\\\\opt\\\\trox\"\nOV_SYSTEM: (unset) -> \"alpha\"\n"
            "last known server (\\HKEY_LOCAL_MACHINE\\Software\\Quarnby Technology\\trox_inst_env): (unset) "
            "-> \"\\\\\\\\srv\\\\main\"\n"
            "OV_SERVER_ROOT: (unset) -> \"\\\\\\\\srv\\\\main\"\nOV_WORKSTATION: (unset) -> \"007\"\n"
            "$WINDOWS\\xsv.ini [Network] Workstation: (unset) -> \"007\"\n"
            "$WINDOWS\\taskbase.ini [System] Workstation: (unset) -> \"007\"\n"
            "OV_DEVELOPER: (unset) -> \"true\"\n");
}

void tst_trox_inst_env_cli::input()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, output);

    Sandbox sandbox;
    arguments.replaceInStrings("$SERVER", serverPath("main"));
    output.replace("$PREFIX", sandbox.machine(QString()))
        .replace("$WINDOWS", QFileInfo(profilePath("xsv.ini")).path().replace('/', '\\'));
    const Ran result = run(arguments);
    QCOMPARE(result.exitCode, exitCode);
    if (exitCode == 2)
        QVERIFY2(result.err.contains(output.toUtf8()), result.err.constData());
    else
        QCOMPARE(QString::fromUtf8(result.out), output);
    if (arguments.contains("--json"))
        QCOMPARE(QJsonDocument::fromJson(result.out)["errors"][0].toString().contains(output), true);
    QCOMPARE(files(sandbox), QStringList());
}

void tst_trox_inst_env_cli::showAfterSetAgreesWithTheLogin()
{
    if (Sandbox::linuxMachine() && !generatorAvailable())
        QSKIP("systemd's environment generator is not installed");
    Sandbox sandbox;
    const QString root = sandbox.root() + "/opt/trox";
    QVERIFY(QDir().mkpath(root + "/alpha/config/system"));
    // Values this session inherited from an older login, or from the caller's own shell.
    qputenv("OV_WORKSTATION", "12");
    qputenv("OV_SYSTEM", "alpha");
    // A root run names its account in the system log; Windows keeps none.
    SystemLog log(sandbox);
    QCOMPARE(log.listening(), Sandbox::linuxMachine());
    const QStringList request{"set",
                              "OV_ROOT=" + root,
                              "OV_SYSTEM=alpha",
                              "OV_WORKSTATION=40",
                              "OV_RESERVE_SERVER_ROOT=" + serverPath("spare"),
                              "--no-developer"};
    QCOMPARE(run(request).exitCode, 0);
    if (log.listening()) {
        const QList<QByteArray> entries = log.entries();
        QCOMPARE(entries.size(), 1);
        QVERIFY2(entries.first().contains("trox_inst_env[") && entries.first().contains(": account ") &&
                     entries.first().contains("OV_WORKSTATION: (unset) -> \"40\""),
                 entries.first().constData());
    }
    // Windows shows the values its process was started with, as a new login starts it.
    QMap<QByteArray, QByteArray> login;
    if (Sandbox::linuxMachine()) {
        login = machineLoginValues(sandbox);
    } else {
        Sandbox::logInAgain();
        for (const char *name : Sandbox::variables()) {
            if (qEnvironmentVariableIsSet(name))
                login.insert(name, qgetenv(name));
        }
    }
    Ran result = run({"show", "--json"});
    QCOMPARE(result.exitCode, 0);
    const QJsonObject shown = QJsonDocument::fromJson(result.out).object();
    const auto variable = [&shown](const char *name, const char *field) {
        return shown["variables"][QLatin1String(name)][QLatin1String(field)];
    };
    for (const char *name : Sandbox::variables()) {
        const QJsonValue value = variable(name, "value");
        QCOMPARE(value.isNull() ? QByteArray("<unset>") : value.toString().toUtf8(),
                 login.value(name, QByteArray("<unset>")));
    }
    if (Sandbox::linuxMachine()) {
        QCOMPARE(variable("OV_WORKSTATION", "session").toString(), QStringLiteral("12"));
        QCOMPARE(variable("OV_ROOT", "source").toString(), QStringLiteral("machine"));
    }
    const QJsonArray profiles = shown["profiles"].toArray();
    QCOMPARE(profiles.size(), 3);
    for (const QJsonValue &profile : profiles)
        QCOMPARE(profile["workstation"].toString(), QStringLiteral("40"));

    QCOMPARE(variable("OV_DEVELOPER", "value").toString(), QStringLiteral("false"));

    // The same request again: nothing to report or log, and no file is replaced by its own bytes.
    const auto stamps = sandbox.fileStamps();
    result = run(request);
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.out, QByteArray());
    result = run(request + QStringList{"--json"});
    QCOMPARE(QJsonDocument::fromJson(result.out).object(),
             QJsonDocument::fromJson(R"({"changed": false, "dry_run": false, "changes": [], "warnings": [],
                                         "errors": []})")
                 .object());
    QCOMPARE(sandbox.fileStamps(), stamps);
    QCOMPARE(log.entries().size(), 0);
    // A change names what the store held before, not what this stale process inherited.
    qputenv("OV_WORKSTATION", "12");
    result = run({"set", "OV_WORKSTATION=41"});
    QVERIFY2(result.out.startsWith("OV_WORKSTATION: \"40\" -> \"41\"\n"), result.out.constData());
    if (!Sandbox::linuxMachine())
        return;

    // This user's own value over a different machine-wide one is marked.
    QVERIFY(Sandbox::writeFile(userEnvFile(sandbox.userConfig()), "OV_SYSTEM=\"beta\"\n"));
    QVERIFY(run({"show"}).out.contains("OV_SYSTEM=beta  [user]  hides the machine-wide value: alpha"));
    QCOMPARE(QJsonDocument::fromJson(run({"show", "--json"}).out)["variables"]["OV_SYSTEM"]["hides_machine"],
             QJsonValue("alpha"));
}

void tst_trox_inst_env_cli::landing_data()
{
    QTest::addColumn<bool>("unprivileged");
    QTest::addColumn<bool>("userRefused");
    QTest::addColumn<QString>("invokerFile"); // through sudo for nobody, whose own file holds this
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("said");
    QTest::addColumn<QByteArray>("invokerAfter");

    QTest::newRow("unprivileged, per-user")
        << true << false << QString() << 0
        << QStringList{"OV_SYSTEM saved for the account nobody only", "Permission denied",
                       "Other users of this workstation do not get them"}
        << QByteArray();
    // $ACCOUNT is who runs the suite, $REFUSED the reason the refused store gives; what follows
    // "linux:" only Linux says: Windows has no session bus to be without.
    QTest::newRow("root, machine file refused")
        << false << false << QString() << 1 << QStringList{"could not be saved",
                                                           "OV_SYSTEM only for the account $ACCOUNT",
                                                           "reaches no other user",
                                                           "$REFUSED",
                                                           "linux:without a session bus of its own",
                                                           "linux:after the next login"}
        << QByteArray();
    QTest::newRow("root, both refused")
        << false << true << QString() << 1 << QStringList{"OV_SYSTEM, neither machine-wide nor for this user"}
        << QByteArray();
    // Written machine-wide, a value leaves the own file of the user root acts for, where it would hide it.
    QTest::newRow("sudo, stale per-user value removed")
        << false << false << "OV_SYSTEM=\"alpha\"\nOV_ROOT=\"/x\"\n"
        << 0 << QStringList{"OV_SYSTEM removed from nobody's own file", "(was \"alpha\")"}
        << QByteArray("OV_ROOT=\"/x\"\n");
    QTest::newRow("sudo, the user's last line removed")
        << false << false << "OV_SYSTEM=\"alpha\"\n"
        << 0 << QStringList{"OV_SYSTEM removed from nobody's own file"} << QByteArray("");
    // Root edits that file only with the user's rights: their link into root's folder leads nowhere.
    QTest::newRow("sudo, the user's link into root's folder")
        << false << false << "link" << 1 << QStringList{"could not be removed from nobody's own file"}
        << QByteArray("OV_SYSTEM=\"alpha\"\n");
}

void tst_trox_inst_env_cli::landing()
{
    QFETCH(bool, unprivileged);
    QFETCH(bool, userRefused);
    QFETCH(QString, invokerFile);
    QFETCH(int, exitCode);
    QFETCH(QStringList, said);
    QFETCH(QByteArray, invokerAfter);
    if (!runsPrivileged() || ((unprivileged || !invokerFile.isEmpty()) && !canRunAsNobody()))
        QSKIP("needs root or an administrator, and setpriv to run as another user");

    Sandbox sandbox;
    quint32 refused = 0;
    QStringList command{CLI_PATH};
    const QString nobodysFolder = sandbox.machine("/nonexistent/.config/environment.d");
    if (unprivileged) {
        // The unprivileged user is kept out of root's directories by their modes.
        command = asNobody({sandbox.root() + "/trox_inst_env_cli"});
        QVERIFY(QFile::copy(CLI_PATH, command.last()));
        QCOMPARE(chmod(QFile::encodeName(sandbox.root()).constData(), 0755), 0);
        QCOMPARE(chmod(QFile::encodeName(sandbox.machine(QString())).constData(), 0555), 0);
        QVERIFY(shell("chown 65534:65534 \"$0\" \"$1\"", {sandbox.home(), sandbox.userConfig()}));
    } else if (!invokerFile.isEmpty()) {
        QCOMPARE(chmod(QFile::encodeName(sandbox.root()).constData(), 0755), 0);
        QVERIFY(QDir().mkpath(sandbox.machine("/nonexistent/.config")));
        if (invokerFile == "link") {
            QVERIFY(Sandbox::writeFile(userEnvFile(sandbox.machine("/etc")), "OV_SYSTEM=\"alpha\"\n"));
            QVERIFY(QFile::link(sandbox.machine("/etc/environment.d"), nobodysFolder));
        } else {
            QVERIFY(Sandbox::writeFile(nobodysFolder + "/61-trox_inst_env.conf", invokerFile.toUtf8()));
        }
        QVERIFY(shell("chown -hR 65534:65534 \"$0\"", {sandbox.machine("/nonexistent")}));
        qputenv("SUDO_UID", "65534");
    } else {
        refused = sandbox.refuseMachineWrites();
        QVERIFY(refused != 0);
        if (userRefused)
            QVERIFY(sandbox.refuseUserWrites() != 0);
    }
    // Stand-alone without a number: no file of root's is written besides the variable.
    const QStringList request{"set", "OV_SYSTEM=beta", "--stand-alone", "--no-system-profile"};
    const Ran result = runCommand(command + request);
    chmod(QFile::encodeName(sandbox.machine(QString())).constData(), 0755);
    chmod(QFile::encodeName(sandbox.root()).constData(), 0700);
    QCOMPARE(result.exitCode, exitCode);
    for (QString part : std::as_const(said)) {
        if (part.startsWith("linux:") && !Sandbox::linuxMachine())
            continue;
        part.remove(QRegularExpression("^linux:"))
            .replace("$ACCOUNT", accountName())
            .replace("$REFUSED", describeStoreError(refused));
        QVERIFY2((result.err + result.out).contains(part.toUtf8()), (result.err + result.out).constData());
    }
    QCOMPARE(sandbox.userValues(),
             userRefused || !invokerFile.isEmpty() ? QByteArray() : QByteArray("OV_SYSTEM=\"beta\"\n"));
    if (!invokerFile.isEmpty())
        QCOMPARE(Sandbox::readFile(invokerFile == "link" ? userEnvFile(sandbox.machine("/etc"))
                                                         : nobodysFolder + "/61-trox_inst_env.conf"),
                 invokerAfter);
    if (unprivileged || !invokerFile.isEmpty())
        return;

    // Once the machine file can be written, what reached root's own file alone is written there too.
    sandbox.allowWrites();
    const Ran again = runCommand(command + request);
    QCOMPARE(again.exitCode, 0);
    QVERIFY2(again.out.startsWith("OV_SYSTEM: (unset) -> \"beta\""), again.out.constData());
    QCOMPARE(sandbox.machineValues(), QByteArray("OV_SYSTEM=\"beta\"\n"));
}

void tst_trox_inst_env_cli::hostileSystemProfile_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("said"); // on standard error, or on standard output for 0

    const QByteArray refused = "a FIFO, device, socket or directory stands where a regular file should be";
    for (const char *kind : {"FIFO", "link to /dev/zero"}) {
        QTest::addRow("%s, show", kind) << kind << "show" << 1 << refused;
        QTest::addRow("%s, set", kind) << kind << "set OV_WORKSTATION=5" << 1 << refused;
    }
    // The preference lock in another user's folder is never opened: a FIFO there would block.
    QTest::newRow("FIFO lock in another user's folder, set")
        << "foreign lock"
        << "set OV_SERVER_ROOT=/srv/new" << 1 << QByteArray("last known server");
    // Escape sequences from the file and an inherited value reach the terminal escaped, as in JSON.
    QTest::newRow("escape sequences, show")
        << "escapes"
        << "show" << 0 << QByteArray("OV_RESERVE_SERVER_ROOT=x\\u001b[2J\\u009b1m  [inherited]\n");
    QTest::newRow("escape sequences, set")
        << "escapes"
        << "set OV_WORKSTATION=5 --dry-run" << 0
        << QByteArray("Workstation: \"\\u001b]0;owned\\u0007\\u009b\" -> \"5\"\n");
}

void tst_trox_inst_env_cli::hostileSystemProfile()
{
    QFETCH(QString, kind);
    QFETCH(QString, command);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, said);

    Sandbox sandbox;
    const QString system = sandbox.root() + "/opt/trox/alpha/config/system";
    const QString file = system + "/trox_system.ini";
    const QString lock = sandbox.machine("/foreign/Quarnby Technology");
    QVERIFY(QDir().mkpath(system) && QDir().mkpath(lock));
    // Handed over as text, not bytes: Windows would pass bytes through its ANSI code page.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("OV_ROOT", sandbox.root() + "/opt/trox");
    environment.insert("OV_SYSTEM", "alpha");
    environment.insert("OV_RESERVE_SERVER_ROOT", QString::fromUtf8("x\x1b[2J\xc2\x9b"
                                                                   "1m"));
    environment.insert("XDG_CONFIG_DIRS", "/foreign");
    const QString workstation = QString::fromUtf8("Workstation=\x1b]0;owned\x07\xc2\x9b");
    if (kind != "escapes" && !Sandbox::linuxMachine())
        QSKIP("Windows has no FIFOs or devices among ordinary paths, and keeps preferences in the registry");
    if (kind == "FIFO")
        QVERIFY(Sandbox::makeSpecialFile(file, "fifo"));
    else if (kind == "link to /dev/zero")
        QVERIFY(Sandbox::makeSpecialFile(file, "device"));
    else if (kind == "foreign lock")
        QVERIFY(Sandbox::makeSpecialFile(lock + "/trox_inst_env.conf.lock", "fifo") &&
                shell("chown 65534:65534 \"$0\"", {lock}));
    else if (Sandbox::linuxMachine())
        QVERIFY(Sandbox::writeFile(file, "[Network]\n" + workstation.toUtf8() + "\n"));
    else // Windows' reader keeps Unicode from a file that starts with its byte order mark
        QVERIFY(Sandbox::writeFile(
            file, QStringEncoder(QStringConverter::Utf16LE,
                                 QStringConverter::Flag::WriteBom)("[Network]\r\n" + workstation + "\r\n")));
    // Bounded by runCommand: a read that blocks shows as a command that never ends.
    const Ran result = run(command.split(' '), environment);
    QCOMPARE(result.exitCode, exitCode);
    QVERIFY2((exitCode ? result.err : result.out).contains(said), result.out + result.err);
    const QByteArray shown = result.out + result.err;
    QVERIFY2(!shown.contains('\x1b') && !shown.contains('\x07') && !shown.contains("\xc2\x9b"),
             shown.constData());
    if (command == "show" && kind == "escapes")
        QVERIFY(result.out.contains("Workstation=\\u001b]0;owned\\u0007\\u009b\n"));
}

QTEST_GUILESS_MAIN(tst_trox_inst_env_cli)
#include "tst_trox_inst_env_cli.moc"
