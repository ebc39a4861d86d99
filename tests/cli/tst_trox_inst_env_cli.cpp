#include "../store/storetesting.h"
#include "sandbox.h"

#include <QDir>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/un.h>
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
    void hostileSystemProfile_data();
    void hostileSystemProfile();
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
    // The whole request is checked before anything is written.
    row("relative root", "set OV_ROOT=relative OV_SYSTEM=alpha --no-system-profile", 2, "absolute path");
    row("unknown system", "set OV_ROOT=/opt/trox OV_SYSTEM=nosuch OV_WORKSTATION=3", 2,
        "/opt/trox/nosuch/config/system: This path does not exist!");
    row("system outside the root", "set OV_SYSTEM=../etc --no-system-profile", 2, "name of a directory");
    row("number without a root", "set OV_WORKSTATION=5", 2, "root and the system are needed");
    row("refused as data", "set OV_WORKSTATION=0 --json", 2, "between 1 and 999");
    // A dry run says what would change and writes nothing; the root is normalised, the number kept
    // as typed, the server's separators made native.
    row("dry run",
        "set OV_ROOT=/opt/trox// OV_SYSTEM=alpha OV_WORKSTATION=007 OV_SERVER_ROOT=/srv\\main --developer "
        "--dry-run --no-system-profile",
        0,
        "OV_ROOT: (unset) -> \"/opt/trox\"\nOV_SYSTEM: (unset) -> \"alpha\"\n"
        "last known server ($PREFIX/etc/xdg/Quarnby Technology/trox_inst_env.conf): (unset) -> "
        "\"/srv/main\"\n"
        "OV_SERVER_ROOT: (unset) -> \"/srv/main\"\nOV_WORKSTATION: (unset) -> \"007\"\n"
        "$PREFIX/etc/trox/xsv.ini [Network] Workstation: (unset) -> \"007\"\n"
        "$PREFIX/etc/trox/taskbase.ini [System] Workstation: (unset) -> \"007\"\n"
        "OV_DEVELOPER: (unset) -> \"true\"\n");
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
        QCOMPARE(QString::fromUtf8(result.out), output.replace("$PREFIX", sandbox.machine(QString())));
    if (arguments.contains("--json"))
        QCOMPARE(QJsonDocument::fromJson(result.out)["errors"][0].toString().contains(output), true);
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
    // The system log as the sandbox's own socket; a root run names its account there.
    QVERIFY(QDir().mkpath(sandbox.machine("/dev")));
    const int log = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    qstrncpy(address.sun_path, QFile::encodeName(sandbox.machine("/dev/log")).constData(),
             sizeof address.sun_path);
    QCOMPARE(bind(log, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    const auto logged = [log] {
        QList<QByteArray> entries;
        char entry[65536];
        for (ssize_t got; (got = recv(log, entry, sizeof entry, 0)) > 0;)
            entries.append(QByteArray(entry, got));
        return entries;
    };
    const QStringList request{"set",
                              "OV_ROOT=" + root,
                              "OV_SYSTEM=alpha",
                              "OV_WORKSTATION=40",
                              "OV_RESERVE_SERVER_ROOT=/srv/spare",
                              "--no-developer"};
    QCOMPARE(run(request).exitCode, 0);
    const QList<QByteArray> entries = logged();
    QCOMPARE(entries.size(), 1);
    QVERIFY2(entries.first().contains("trox_inst_env[") && entries.first().contains(": account ") &&
                 entries.first().contains("OV_WORKSTATION: (unset) -> \"40\""),
             entries.first().constData());
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

    QCOMPARE(variable("OV_DEVELOPER", "value").toString(), QStringLiteral("false"));

    // The same request again: nothing to report or log, and no file is replaced by its own bytes.
    const auto stamps = fileStamps(sandbox);
    result = run(request);
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.out, QByteArray());
    result = run(request + QStringList{"--json"});
    QCOMPARE(QJsonDocument::fromJson(result.out).object(),
             QJsonDocument::fromJson(R"({"changed": false, "dry_run": false, "changes": [], "warnings": [],
                                         "errors": []})")
                 .object());
    QCOMPARE(fileStamps(sandbox), stamps);
    QCOMPARE(logged().size(), 0);
    close(log);

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
    QTest::newRow("root, machine file refused")
        << false << false << QString() << 1
        << QStringList{"could not be saved", "OV_SYSTEM only for the account root", "reaches no other user",
                       "Not a directory",    "without a session bus of its own",    "after the next login"}
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
    if (!canRunAsNobody())
        QSKIP("needs root and setpriv to run as both");

    Sandbox sandbox;
    QStringList command{CLI_PATH};
    const QString nobodysFolder = sandbox.machine("/nonexistent/.config/environment.d");
    if (unprivileged) {
        // The unprivileged user is kept out of root's directories by their modes.
        command = asNobody({sandbox.root() + "/trox_inst_env_cli"});
        QVERIFY(QFile::copy(CLI_PATH, command.last()));
        QCOMPARE(chmod(QFile::encodeName(sandbox.root()).constData(), 0755), 0);
        QCOMPARE(chmod(QFile::encodeName(sandbox.machine(QString())).constData(), 0555), 0);
        for (const QString &dir : {sandbox.home(), sandbox.userConfig()})
            QCOMPARE(chown(QFile::encodeName(dir).constData(), 65534, 65534), 0);
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
        QVERIFY(Sandbox::writeFile(sandbox.machine("/etc/environment.d"), "not a directory"));
        if (userRefused)
            QVERIFY(Sandbox::writeFile(sandbox.userConfig() + "/environment.d", "not a directory"));
    }
    // Stand-alone without a number: no file of root's is written besides the variable.
    const QStringList request{"set", "OV_SYSTEM=beta", "--stand-alone", "--no-system-profile"};
    const Ran result = runCommand(command + request);
    chmod(QFile::encodeName(sandbox.machine(QString())).constData(), 0755);
    chmod(QFile::encodeName(sandbox.root()).constData(), 0700);
    QCOMPARE(result.exitCode, exitCode);
    for (const QString &part : std::as_const(said))
        QVERIFY2((result.err + result.out).contains(part.toUtf8()), (result.err + result.out).constData());
    QCOMPARE(Sandbox::readFile(userEnvFile(sandbox.userConfig())),
             userRefused || !invokerFile.isEmpty() ? QByteArray() : QByteArray("OV_SYSTEM=\"beta\"\n"));
    if (!invokerFile.isEmpty())
        QCOMPARE(Sandbox::readFile(invokerFile == "link" ? userEnvFile(sandbox.machine("/etc"))
                                                         : nobodysFolder + "/61-trox_inst_env.conf"),
                 invokerAfter);
    if (unprivileged || !invokerFile.isEmpty())
        return;

    // Once the machine file can be written, what reached root's own file alone is written there too.
    QVERIFY(QFile::remove(sandbox.machine("/etc/environment.d")));
    const Ran again = runCommand(command + request);
    QCOMPARE(again.exitCode, 0);
    QVERIFY2(again.out.startsWith("OV_SYSTEM: (unset) -> \"beta\""), again.out.constData());
    QCOMPARE(Sandbox::readFile(machineEnvFile(sandbox)), QByteArray("OV_SYSTEM=\"beta\"\n"));
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
    const QByteArray file = QFile::encodeName(system + "/trox_system.ini");
    const QByteArray lock = QFile::encodeName(sandbox.machine("/foreign/Quarnby Technology"));
    QVERIFY(QDir().mkpath(system) && QDir().mkpath(QFile::decodeName(lock)));
    qputenv("OV_ROOT", QFile::encodeName(sandbox.root() + "/opt/trox"));
    qputenv("OV_SYSTEM", "alpha");
    qputenv("OV_RESERVE_SERVER_ROOT", "x\x1b[2J\xc2\x9b"
                                      "1m");
    qputenv("XDG_CONFIG_DIRS", "/foreign");
    if (kind == "FIFO")
        QCOMPARE(mkfifo(file.constData(), 0644), 0);
    else if (kind == "link to /dev/zero")
        QCOMPARE(symlink("/dev/zero", file.constData()), 0);
    else if (kind == "foreign lock")
        QVERIFY(mkfifo(lock + "/trox_inst_env.conf.lock", 0644) == 0 &&
                chown(lock.constData(), 65534, 65534) == 0);
    else
        QVERIFY(Sandbox::writeFile(system + "/trox_system.ini",
                                   "[Network]\nWorkstation=\x1b]0;owned\x07\xc2\x9b\n"));
    // Bounded by runCommand: a read that blocks shows as a command that never ends.
    const Ran result = run(command.split(' '));
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
