#include "machinestore.h"
#include "sandbox.h"
#include "storetesting.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString machineKey = QLatin1String(Registry::machineEnvironmentKey);
const QString userKey = QLatin1String(Registry::userEnvironmentKey);

QString openMessage(const QString &file, int code)
{
    return QStringLiteral("Could not open the environment file '%1': %2 (error 0x%3).")
        .arg(file, describeStoreError(quint32(code)), QString::number(code, 16).toUpper());
}

} // namespace

class tst_machinestore : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void machineFile_data();
    void machineFile();
    void etcEnvironmentInStep_data();
    void etcEnvironmentInStep();
    void keys_data();
    void keys();
    void refusedInput_data();
    void refusedInput();
    void generatorReadsWhatWasWritten_data();
    void generatorReadsWhatWasWritten();
    void unprivilegedWrite_data();
    void unprivilegedWrite();
    void describesErrors();
    void loadsWhatTheLoginGets_data();
    void loadsWhatTheLoginGets();
    void generatorRunAgreesWithOwnReading();
};

void tst_machinestore::machineFile_data()
{
    QTest::addColumn<QByteArray>("before"); // null: no file; else the file a link in its place leads to
    QTest::addColumn<QByteArray>("after");
    QTest::newRow("new") << QByteArray() << QByteArray("OV_ROOT=\"/new\"\n");
    QTest::newRow("edited in place through a link")
        << QByteArray("# managed by hand\r\nPATH_EXTRA=\"/x\"\n\nOV_ROOT=\"/old\"\nOV_SYSTEM=plant\n")
        << QByteArray("# managed by hand\r\nPATH_EXTRA=\"/x\"\n\nOV_ROOT=\"/new\"\nOV_SYSTEM=plant\n");
}

void tst_machinestore::machineFile()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    Sandbox sandbox;
    const QString file = machineEnvFile(sandbox), directory = QFileInfo(file).absolutePath();
    const QString real = before.isNull() ? file : sandbox.root() + "/elsewhere/trox.conf";
    const QByteArray user("OV_ROOT=\"/home/me/trox\"\n");
    QVERIFY(Sandbox::writeFile(userEnvFile(sandbox.userConfig()), user));
    if (!before.isNull()) {
        QVERIFY(Sandbox::writeFile(real, before) && QDir().mkpath(directory) && QFile::link(real, file));
        QCOMPARE(chmod(QFile::encodeName(real).constData(), 0600), 0);
    }

    const VariableWrite write = setEnvironmentVariable("OV_ROOT", "/new");
    QCOMPARE(write.where, VariableWrite::MachineWide);
    QCOMPARE(write.machineError, 0u);
    QCOMPARE(QFileInfo(file).isSymLink(), !before.isNull());
    QCOMPARE(Sandbox::readFile(real), after);
    QCOMPARE(modeOf(real), 0644); // every login reads it, so others may read it
    QCOMPARE(modeOf(directory), 0755);
    QCOMPARE(QDir(directory).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{"60-trox_inst_env.conf"});
    QCOMPARE(Sandbox::readFile(userEnvFile(sandbox.userConfig())), user); // the login's own value stays
}

void tst_machinestore::etcEnvironmentInStep_data()
{
    QTest::addColumn<QString>("value"); // OV_ROOT, written machine-wide beside OV_SYSTEM=plant
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("after");
    const QByteArray plant("export OV_SYSTEM=\"plant\"\n");
    QTest::newRow("put first, the rest kept")
        << "/new" << QByteArray("PATH=\"/x\" \\\n# c\nOV_ROOT=/admin")
        << "export OV_ROOT=\"/admin\"\n" + plant + "PATH=\"/x\" \\\n# c\nOV_ROOT=/admin";
    QTest::newRow("stale line replaced, quotes and blanks kept")
        << " a \"b' $c \\"
        << "LANG=C\n  export OV_ROOT=\"/old\"\n" + plant
        << "export OV_ROOT=\" a \"b' $c \\\"\n" + plant + "LANG=C\n";
    QTest::newRow("a '#' pam_env would cut off: no line")
        << "/a#b" << QByteArray("export OV_ROOT=\"/old\"\n") << plant;
    QTest::newRow("built on another variable: no line") << "%HOME%/x" << QByteArray() << plant;
    QTest::newRow("built on the tool's own: the value it gives")
        << "%OV_SYSTEM%/x" << QByteArray() << "export OV_ROOT=\"plant/x\"\n" + plant;
}

void tst_machinestore::etcEnvironmentInStep()
{
    QFETCH(QString, value);
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    Sandbox sandbox;
    const QString etc = sandbox.machine("/etc/environment");
    if (!before.isNull())
        QVERIFY(Sandbox::writeFile(etc, before));
    // As Debian's systemd links it.
    const QString link = sandbox.machine("/usr/lib/environment.d/99-environment.conf");
    QVERIFY(QDir().mkpath(QFileInfo(link).path()) && QFile::link("../../../etc/environment", link));
    const QList<VariableWrite> writes = setEnvironmentVariables({{"OV_SYSTEM", "plant"}, {"OV_ROOT", value}});
    QCOMPARE(writes.constFirst().where, VariableWrite::MachineWide);
    QCOMPARE(Sandbox::readFile(etc), after);
    QCOMPARE(modeOf(etc), 0644);
    if (!generatorAvailable())
        return;
    // The generator reads /etc/environment too (Debian's 99-environment.conf): not the tool's lines.
    const auto generated = loginReading(after, sandbox.root());
    QCOMPARE(generated.value("OV_SYSTEM", "<unset>"), QByteArray("<unset>"));
}

void tst_machinestore::keys_data()
{
    QTest::addColumn<quint32>("root");
    QTest::addColumn<QString>("subKey");
    QTest::addColumn<int>("writes"); // 0 nothing, 1 machine file, 2 per-user file
    const quint32 machine = Registry::machineRoot, user = Registry::userRoot;
    QTest::newRow("machine") << machine << machineKey << 1;
    QTest::newRow("machine, other case") << machine << machineKey.toLower() << 1;
    QTest::newRow("user") << user << userKey << 2;
    QTest::newRow("user key under machine root") << machine << userKey << 0;
    QTest::newRow("machine key under user root") << user << machineKey << 0;
    QTest::newRow("other key") << machine << QStringLiteral("SOFTWARE\\Trox") << 0;
    QTest::newRow("other root") << quint32(0x80000003u) << userKey << 0;
}

void tst_machinestore::keys()
{
    QFETCH(quint32, root);
    QFETCH(QString, subKey);
    QFETCH(int, writes);
    Sandbox sandbox;
    if (!writes)
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^No environment file stands for the key "));
    QCOMPARE(setRegistryValue(root, subKey, "OV_SYSTEM", "plant"), writes ? 0u : quint32(ENOENT));
    QCOMPARE(QFile::exists(machineEnvFile(sandbox)), writes == 1);
    QCOMPARE(QFile::exists(userEnvFile(sandbox.userConfig())), writes == 2);
    if (!writes) {
        QVERIFY(QDir(sandbox.machine(QString())).isEmpty());
        QVERIFY(!QFile::exists(sandbox.userConfig() + QLatin1String("/environment.d")));
    }
}

void tst_machinestore::refusedInput_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("value");
    const auto value = [](const char *row, const QString &value) {
        QTest::newRow(row) << "OV_ROOT" << value;
    };
    const auto name = [](const char *row, const QString &name) {
        QTest::newRow(row) << name << "x";
    };
    value("line feed", "/opt\nINJECTED=1");
    value("carriage return", "/opt\rX=1");
    value("nul", QStringLiteral("/opt") + QChar(0) + "x");
    // The login would see a C escape instead, or lose every environment.d variable.
    for (const ushort c : {0x01, 0x09, 0x1b, 0x1f, 0x7f, 0xfdd0, 0xfdef, 0xfffe, 0xffff, 0xd800, 0xdc00})
        QTest::addRow("U+%04X", c) << "OV_ROOT" << QStringLiteral("/opt") + QChar(c) + "x";
    value("U+10FFFF", QStringLiteral("/opt\U0010FFFF"));
    value("too long", QString(32768, QLatin1Char('x')));
    name("empty name", "");
    name("leading digit", "1ROOT");
    name("dash", "OV-ROOT");
    name("equals", "OV=ROOT");
    name("space", "OV ROOT");
    name("non-ascii", QStringLiteral("OV_R\u00D6OT"));
    name("line break in name", "OV\nROOT");
}

void tst_machinestore::refusedInput()
{
    QFETCH(QString, name);
    QFETCH(QString, value);
    Sandbox sandbox;
    const QByteArray before("OV_ROOT=\"/opt/trox\"\n");
    QVERIFY(Sandbox::writeFile(machineEnvFile(sandbox), before));

    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Refused to write the variable "));
    const VariableWrite write = setEnvironmentVariable(name, value);
    QCOMPARE(write.where, VariableWrite::Nowhere);
    QCOMPARE(write.machineError, ERROR_REFUSED_INPUT);
    QCOMPARE(write.userError, ERROR_REFUSED_INPUT);
    QCOMPARE(Sandbox::readFile(machineEnvFile(sandbox)), before);
    QVERIFY(!QFile::exists(userEnvFile(sandbox.userConfig())));

    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Refused to write the variable "));
    QCOMPARE(setRegistryValue(Registry::userRoot, userKey, name, value), ERROR_REFUSED_INPUT);
    QVERIFY(!QFile::exists(userEnvFile(sandbox.userConfig())));
}

void tst_machinestore::generatorReadsWhatWasWritten_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("loginRoot"); // OV_ROOT at login, empty for none
    QTest::addColumn<QString>("expected");
    const auto row = [](const char *name, const QString &value, const char *loginRoot = "") {
        QTest::newRow(name) << value << loginRoot << value;
    };
    row("plain", "/opt/trox");
    row("empty", "");
    row("reference to nothing", "%OV_ROOT%\\plant");
    QTest::newRow("reference") << "%OV_ROOT%\\plant"
                               << "/srv/trox"
                               << "/srv/trox\\plant";
    row("shell characters", "a\"b\\c`d$e $$ ${OV_ROOT} $OV_ROOT $(id) 'q' #h ;s", "/srv");
    row("percent signs", "100% %1 %% %not a name% %OV_ROOT", "/srv");
    row("surrounding blanks", "  spaced  ");
    row("longest", QString(32767, QLatin1Char('x')));
    row("trailing backslash", "\\\\server\\share\\");
    row("non-ascii", QStringLiteral("/srv/Gr\u00FC\u00DFe \U0001F600\u00A0\uFFFD"));
}

void tst_machinestore::generatorReadsWhatWasWritten()
{
    if (!generatorAvailable())
        QSKIP("systemd's environment generator is not installed");
    QFETCH(QString, value);
    QFETCH(QString, loginRoot);
    QFETCH(QString, expected);
    Sandbox sandbox;
    QMap<QString, QString> login;
    if (!loginRoot.isEmpty())
        login.insert("OV_ROOT", loginRoot);
    const QString name = QStringLiteral("TROX_ROUND_TRIP");

    QCOMPARE(setRegistryValue(Registry::machineRoot, machineKey, name, value), 0u);
    const auto machine = loginReading(Sandbox::readFile(machineEnvFile(sandbox)), sandbox.root(), login);
    QCOMPARE(QString::fromUtf8(machine.value(name.toLatin1(), "<unset>")), expected);
    QCOMPARE(setRegistryValue(Registry::userRoot, userKey, name, value), 0u);
    QCOMPARE(QString::fromUtf8(runGenerator(sandbox.userConfig(), login).value(name.toLatin1(), "<unset>")),
             expected);
}

void tst_machinestore::unprivilegedWrite_data()
{
    QTest::addColumn<bool>("userWritable");
    QTest::newRow("machine refused, user written") << true;
    QTest::newRow("both refused") << false;
}

void tst_machinestore::unprivilegedWrite()
{
    QFETCH(bool, userWritable);
    const bool root = geteuid() == 0;
    if (root && !canRunAsNobody())
        QSKIP("setpriv is needed to write as an unprivileged user");
    Sandbox sandbox;
    const QString helper = sandbox.root() + "/storehelper";
    QVERIFY(QFile::copy(STORE_HELPER, helper));
    const QString configHome = sandbox.root() + "/nobody";
    QVERIFY(QDir().mkpath(configHome));
    const auto permissions = [&](int rootMode, int prefixMode, int configMode) {
        return chmod(QFile::encodeName(sandbox.root()).constData(), mode_t(rootMode)) == 0 &&
               chmod(QFile::encodeName(sandbox.machine(QString())).constData(), mode_t(prefixMode)) == 0 &&
               chmod(QFile::encodeName(configHome).constData(), mode_t(configMode)) == 0;
    };
    // Root ignores the mode bits; the unprivileged user is kept out of root's directories instead.
    QVERIFY(permissions(0755, 0555, userWritable ? 0755 : 0555));
    if (root && userWritable)
        QCOMPARE(chown(QFile::encodeName(configHome).constData(), 65534, 65534), 0);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", configHome);
    env.insert("HOME", configHome);
    env.insert("QT_MESSAGE_PATTERN", "%{message}");
    env.insert("QT_FORCE_STDERR_LOGGING", "1");
    const QStringList apply{helper, "apply", "OV_X", "1", "1"};
    const Ran ran = runCommand(root ? asNobody(apply) : apply, env);
    QVERIFY(permissions(0700, 0755, 0755));

    // "i where machineError userError profileError settingsStatus": the profile and the preferences
    // are refused too (EACCES, QSettings::AccessError).
    QCOMPARE(ran.out, QByteArray(userWritable ? "1 2 13 0 13 1\n" : "1 0 13 13 13 1\n"));
    const QList<QByteArray> lines = ran.err.trimmed().split('\n');
    QCOMPARE(lines.value(0), openMessage(machineEnvFile(sandbox), EACCES).toUtf8());
    QVERIFY(!QFile::exists(sandbox.machine("/etc")));
    QCOMPARE(Sandbox::readFile(userEnvFile(configHome)), userWritable ? "OV_X_1=\"v1\"\n" : "");
    if (userWritable && root)
        QCOMPARE(QFileInfo(userEnvFile(configHome)).ownerId(), 65534u);
    if (userWritable)
        QVERIFY2(!ran.err.contains(QFile::encodeName(userEnvFile(configHome))), ran.err.constData());
    else
        QCOMPARE(lines.value(1), openMessage(userEnvFile(configHome), EACCES).toUtf8());
}

void tst_machinestore::describesErrors()
{
    QCOMPARE(describeStoreError(EACCES), QString::fromLocal8Bit(strerror(EACCES)));
    QVERIFY(describeStoreError(ERROR_REFUSED_INPUT).contains(QLatin1String("line break")));
    QVERIFY(!describeStoreError(0x80070005u).isEmpty());
}

void tst_machinestore::loadsWhatTheLoginGets_data()
{
    QTest::addColumn<QByteArray>("machine");
    QTest::addColumn<QByteArray>("user");
    QTest::addColumn<QStringList>("inherited");
    // Other files as "path=contents", a path under the prefix, or under the user's configuration
    // folder when it starts with "~/".
    QTest::addColumn<QStringList>("others");
    // OV_ROOT, OV_SYSTEM, OV_SERVER_ROOT as "source:value", then "|value" /etc/environment also gives.
    QTest::addColumn<QStringList>("loaded");
    QTest::newRow("user over machine, inherited only where neither sets it")
        << QByteArray("OV_ROOT=/m\nOV_SYSTEM=plant\n") << QByteArray("OV_ROOT=/u\n")
        << QStringList{"OV_ROOT=/stale", "OV_SYSTEM=stale", "OV_SERVER_ROOT=/inherited"} << QStringList{}
        << QStringList{"user:/u", "machine:plant", "inherited:/inherited"};
    QTest::newRow("references expanded in file order")
        << QByteArray("OV_ROOT=/srv\nOV_SERVER_ROOT=\"${OV_ROOT}/x\"\nOV_SYSTEM=${TROX_BASE:-none}/s\n")
        << QByteArray("OV_ROOT=\"${OV_ROOT}/mine\"\n") << QStringList{"TROX_BASE=/base"} << QStringList{}
        << QStringList{"user:/srv/mine", "machine:/base/s", "machine:/srv/x"};
    QTest::newRow("no value after '=' sets nothing; the tool's empty value does")
        << QByteArray("OV_ROOT=\nOV_SYSTEM=\"${OV_SYSTEM:+}\"\n") << QByteArray() << QStringList{}
        << QStringList{} << QStringList{"unset:", "machine:", "unset:"};
    QTest::newRow("a later file wins, a same name masks, another folder adds")
        << QByteArray("OV_ROOT=/m\nOV_SYSTEM=plant\n") << QByteArray()
        << QStringList{"OV_SERVER_ROOT=/inherited"}
        << QStringList{"/usr/lib/environment.d/70-site.conf=OV_ROOT=/site",
                       "~/environment.d/80-mine.conf=OV_SYSTEM=${OV_SYSTEM}-mine",
                       "/run/environment.d/10-early.conf=OV_SERVER_ROOT=/early",
                       "/usr/local/lib/environment.d/10-early.conf=OV_SERVER_ROOT=/masked"}
        << QStringList{"machine:/site", "user:plant-mine", "machine:/early"};
    QTest::newRow("a NUL skips its file") << QByteArray("OV_ROOT=/m\n") << QByteArray() << QStringList{}
                                          << QStringList{"/etc/environment.d/10-nul.conf=OV_SYSTEM=x\\0"}
                                          << QStringList{"machine:/m", "unset:", "unset:"};
    QTest::newRow("a value not UTF-8 gives the login nothing")
        << QByteArray("OV_ROOT=/m\n") << QByteArray() << QStringList{}
        << QStringList{"/etc/environment.d/90-bad.conf=X=\\xff"} << QStringList{"unset:", "unset:", "unset:"};
    QTest::newRow("/etc/environment beside the tool's own line there")
        << QByteArray("OV_ROOT=/m\nOV_SYSTEM=plant\n") << QByteArray() << QStringList{}
        << QStringList{"/etc/environment=export OV_ROOT=\"/m\"\nOV_SYSTEM='pam' # "
                       "note\nOV_SERVER_ROOT=\\\n/x"}
        << QStringList{"machine:/m", "machine:plant|pam' ", "unset:|/x"}; // pam_env keeps an inner quote
}

void tst_machinestore::loadsWhatTheLoginGets()
{
    QFETCH(QByteArray, machine);
    QFETCH(QByteArray, user);
    QFETCH(QStringList, inherited);
    QFETCH(QStringList, others);
    QFETCH(QStringList, loaded);
    Sandbox sandbox;
    QVERIFY(Sandbox::writeFile(machineEnvFile(sandbox), machine));
    QVERIFY(Sandbox::writeFile(userEnvFile(sandbox.userConfig()), user));
    for (const QString &other : std::as_const(others)) {
        const QString path = other.section(QLatin1Char('='), 0, 0);
        const QByteArray contents = other.section(QLatin1Char('='), 1).toUtf8().replace("\\xff", "\xff");
        QVERIFY(Sandbox::writeFile(path.startsWith(QLatin1Char('~')) ? sandbox.userConfig() + path.mid(1)
                                                                     : sandbox.machine(path),
                                   QByteArray(contents).replace("\\0", QByteArray(1, '\0'))));
    }
    Sandbox::setVariables(inherited);

    const QList<StoredVariable> variables = loadStoredVariables(
        {QStringLiteral("OV_ROOT"), QStringLiteral("OV_SYSTEM"), QStringLiteral("OV_SERVER_ROOT")});
    qunsetenv("TROX_BASE");
    const char *const sources[] = {"unset", "machine", "user", "inherited"};
    QStringList shown;
    for (const StoredVariable &variable : variables) {
        QCOMPARE(variable.value.isNull(), !variable.isSet());
        shown.append(
            QLatin1String(sources[variable.source]) + QLatin1Char(':') + variable.value +
            (variable.etcEnvironment.isNull() ? QString() : QLatin1Char('|') + variable.etcEnvironment));
    }
    QCOMPARE(shown, loaded);
}

void tst_machinestore::generatorRunAgreesWithOwnReading()
{
    if (!generatorAvailable())
        QSKIP("systemd's environment generator is not installed");
    // The machine's real folders, only read: without a prefix the generator itself is run, with "/"
    // as the prefix the same folders are read by the tool.
    Sandbox sandbox;
    QVERIFY(Sandbox::writeFile(userEnvFile(sandbox.userConfig()),
                               "OV_ROOT=\"${OV_ROOT:-d}/${HOME}\"\nOV_SYSTEM=\"a\tb\\\\c\"\nOV_SERVER_ROOT=\"${OV_SERVER_ROOT:+}\"\n"));
    Sandbox::setVariables({"OV_ROOT=inherited"});
    const QStringList names = {"OV_ROOT", "OV_SYSTEM", "OV_SERVER_ROOT"};
    qunsetenv("TROX_INST_ENV_PREFIX");
    const QList<StoredVariable> generated = loadStoredVariables(names);
    qputenv("TROX_INST_ENV_PREFIX", "/");
    const QList<StoredVariable> own = loadStoredVariables(names);
    QCOMPARE(generated.at(0).value, "d/" + sandbox.home());
    for (qsizetype i = 0; i < names.size(); ++i) {
        QCOMPARE(generated.at(i).value, own.at(i).value);
        QCOMPARE(generated.at(i).source, own.at(i).source);
    }
}

QTEST_GUILESS_MAIN(tst_machinestore)
#include "tst_machinestore.moc"
