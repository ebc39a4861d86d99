#include "machinestore.h"
#include "preferences.h"
#include "sandbox.h"
#include "SettingsApplier.h"

#include <QDir>
#include <QTest>

// Ok's rules without the dialog, against a sandboxed machine: what is written where.
namespace {

// "root=$ROOT system=alpha ..." with the keys of the settings; "standalone" and "developer" alone
// switch those on.
SettingsApplier::Settings settings(QString description, const QString &root)
{
    QMap<QString, QString> words;
    for (const QString &word : description.replace("$ROOT", root).split(' ', Qt::SkipEmptyParts))
        words.insert(word.section('=', 0, 0), word.section('=', 1));
    return {words.value("root"),        words.value("system"),      words.value("server"),
            words.value("reserve"),     words.value("workstation"), words.contains("standalone"),
            words.contains("developer")};
}

// The variables the loaded settings stand for, stored machine-wide as an earlier Ok left them.
void storeLoaded(const SettingsApplier::Settings &loaded)
{
    QList<QPair<QString, QString>> assignments;
    const QString values[] = {loaded.root,        loaded.system,
                              loaded.server,      loaded.reserveServer,
                              loaded.workstation, loaded.developer ? QStringLiteral("true") : QString()};
    for (int i = 0; i < 6; ++i) {
        if (!values[i].isEmpty())
            assignments.append({SettingsApplier::variableNames().at(i), values[i]});
    }
    if (!assignments.isEmpty())
        setEnvironmentVariables(assignments);
    Sandbox::logInAgain();
}

} // namespace

class tst_SettingsApplier : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void apply_data();
    void apply();
};

void tst_SettingsApplier::apply_data()
{
    QTest::addColumn<QString>("loaded");
    QTest::addColumn<QString>("edited");
    QTest::addColumn<QByteArray>("machineBefore"); // null: the loaded values, as an earlier Ok stored them
    QTest::addColumn<QByteArray>("machine");       // the variables changed, one NAME="value" line each
    QTest::addColumn<QString>("number");           // the workstation the three profiles get, if any
    QTest::addColumn<QString>("system");           // whose profile file is checked
    QTest::addColumn<QString>("server");           // the last known server afterwards
    QTest::addColumn<QString>("warning");
    QTest::addColumn<QByteArray>("xsvBefore"); // null: no file, and xsv.ini gets only the number
    QTest::addColumn<QByteArray>("xsv");
    const auto row = [](const char *name, const char *loaded, const char *edited, const char *machineBefore,
                        const char *machine, const char *number, const char *system, const char *server,
                        const char *warning = "", const char *xsvBefore = nullptr,
                        const char *xsv = nullptr) {
        QTest::newRow(name) << loaded << edited << QByteArray(machineBefore) << QByteArray(machine) << number
                            << system << server << warning << QByteArray(xsvBefore) << QByteArray(xsv);
    };
    const char *const same = "root=$ROOT system=alpha server=/srv/main workstation=12";
    // The profiles and the last known server are written on every Ok all the same.
    row("nothing changed, with a server", same, same, nullptr, "", "12", "alpha", "/srv/main");
    row("nothing changed, stand-alone", "root=$ROOT system=alpha server=$ROOT workstation=12",
        "root=$ROOT system=alpha server=/srv/remembered workstation=12 standalone", nullptr, "", "12",
        "alpha", "<none>");
    row("stand-alone switched on", "root=$ROOT system=alpha server=/srv/main",
        "root=$ROOT system=alpha server=/srv/main standalone", nullptr, "OV_SERVER_ROOT=\"$ROOT\"\n", "",
        "alpha", "<none>");
    row("stand-alone switched off", "root=$ROOT system=alpha server=$ROOT",
        "root=$ROOT system=alpha server=/srv/remembered", nullptr, "OV_SERVER_ROOT=\"/srv/remembered\"\n", "",
        "alpha", "/srv/remembered");
    row("developer switched on", "root=$ROOT system=alpha server=$ROOT",
        "root=$ROOT system=alpha server=$ROOT standalone developer", nullptr, "OV_DEVELOPER=\"true\"\n", "",
        "alpha", "<none>");
    row("developer switched off", "root=$ROOT system=alpha server=$ROOT developer",
        "root=$ROOT system=alpha server=$ROOT standalone", nullptr, "OV_DEVELOPER=\"false\"\n", "", "alpha",
        "<none>");
    // The system file is the one under the system given now, not the one loaded.
    row("new workstation reaches every file", "root=$ROOT system=alpha server=/srv/main workstation=3",
        "root=$ROOT system=beta server=/srv/main workstation=007", nullptr,
        "OV_SYSTEM=\"beta\"\nOV_WORKSTATION=\"007\"\n", "007", "beta", "/srv/main", "",
        "; site settings\r\n[network]\r\nworkstation = 3\r\nPort=7\r\n",
        "; site settings\r\n[network]\r\nworkstation =007\r\nPort=7\r\n");
    row("empty workstation leaves the profiles alone", "root=$ROOT system=alpha server=/srv/main",
        "root=$ROOT system=alpha server=/srv/main", nullptr, "", "", "alpha", "/srv/main", "",
        "[Network]\nWorkstation=5\n", "[Network]\nWorkstation=5\n");
    row("emptied value is written empty",
        "root=$ROOT system=alpha server=/srv/main reserve=/srv/spare workstation=4",
        "root=$ROOT system=alpha server=/srv/main workstation=4", nullptr, "OV_RESERVE_SERVER_ROOT=\"\"\n",
        "4", "alpha", "/srv/main");
    // What root's own file got when the machine-wide write was refused is no reason to skip it later.
    row("as root: own per-user value written machine-wide",
        "root=$ROOT system=beta server=/srv/main workstation=4",
        "root=$ROOT system=beta server=/srv/main workstation=4",
        "OV_ROOT=\"$ROOT\"\nOV_SYSTEM=\"alpha\"\nOV_SERVER_ROOT=\"/srv/main\"\nOV_WORKSTATION=\"4\"\n",
        "OV_SYSTEM=\"beta\"\n", "4", "beta", "/srv/main");
    row("missing system fails only its profile", "root=$ROOT system=gamma server=/srv/main workstation=4",
        "root=$ROOT system=gamma server=/srv/main workstation=4", nullptr, "", "4", "gamma", "/srv/main",
        "gamma/config/system/trox_system.ini");
    // Sessions that read only /etc/environment would keep the old values: the operator is told.
    row("/etc/environment unwritable is named", same,
        "root=$ROOT system=beta server=/srv/main workstation=12", nullptr, "OV_SYSTEM=\"beta\"\n", "12",
        "beta", "/srv/main", "etc/environment, which sessions that read no environment.d file get");
}

void tst_SettingsApplier::apply()
{
    QFETCH(QString, loaded);
    QFETCH(QString, edited);
    QFETCH(QByteArray, machineBefore);
    QFETCH(QByteArray, machine);
    QFETCH(QString, number);
    QFETCH(QString, system);
    QFETCH(QString, warning);
    QFETCH(QByteArray, xsvBefore);
    QFETCH(QByteArray, xsv);

    const bool asRoot = QByteArray(QTest::currentDataTag()).startsWith("as root");
    if (asRoot && (!Sandbox::linuxMachine() || !runsPrivileged()))
        QSKIP("only a root run on Linux has a per-user file of its own besides the machine store");
    const bool etcEnvironment = QByteArray(QTest::currentDataTag()).startsWith("/etc/environment");
    if (etcEnvironment && !Sandbox::linuxMachine())
        QSKIP("Windows sessions all read the registry");
    Sandbox sandbox;
    const QString root = sandbox.root() + "/systems";
    for (const char *path : {"/alpha/config/system", "/beta/config/system"})
        QVERIFY(QDir().mkpath(root + path));
    const QString machineFile = machineEnvFile(sandbox);
    const QString xsvFile = profilePath("xsv.ini");
    if (machineBefore.isNull())
        storeLoaded(settings(loaded, root));
    else
        QVERIFY(Sandbox::writeFile(machineFile, machineBefore.replace("$ROOT", root.toUtf8())));
    if (asRoot)
        QVERIFY(Sandbox::writeFile(userEnvFile(sandbox.userConfig()), "OV_SYSTEM=\"beta\"\n"));
    if (!xsvBefore.isNull())
        QVERIFY(Sandbox::writeFile(xsvFile, xsvBefore));
    if (etcEnvironment)
        QVERIFY(QFile::remove(sandbox.machine("/etc/environment")) &&
                QDir().mkpath(sandbox.machine("/etc/environment")));

    const SettingsApplier::Report report =
        SettingsApplier::apply(settings(loaded, root), settings(edited, root));

    QByteArray variables;
    for (const SettingsApplier::Change &change : report.changes) {
        if (change.kind == SettingsApplier::Change::Variable)
            variables += change.name.toUtf8() + "=\"" + change.after.toUtf8() + "\"\n";
    }
    QCOMPARE(variables, machine.replace("$ROOT", root.toUtf8()));
    QCOMPARE(report.changed, !machine.isEmpty());
    // Wine's writer drops the spaces around '=' in a line it rewrites: the bytes the system writes are
    // its own, the rest of the file is what is checked.
    const auto profile = [&number](const char *section) {
        return number.isEmpty() ? QByteArray()
                                : Sandbox::newProfile("[" + QByteArray(section) +
                                                      "]\nWorkstation=" + number.toUtf8() + '\n');
    };
    const auto asWritten = [](QByteArray bytes) {
        return Sandbox::linuxMachine() ? bytes : bytes.replace(" =", "=").replace("= ", "=");
    };
    QCOMPARE(asWritten(Sandbox::readFile(xsvFile)), xsvBefore.isNull() ? profile("Network") : asWritten(xsv));
    QCOMPARE(Sandbox::readFile(profilePath("taskbase.ini")), profile("System"));
    QCOMPARE(Sandbox::readFile(root + '/' + system + "/config/system/trox_system.ini"),
             warning.endsWith("trox_system.ini") ? QByteArray() : profile("Network"));
    QTEST(openPreferences()->value("lastKnownServer/server", "<none>").toString(), "server");
    QVERIFY2(warning.isEmpty() ? report.warning().isEmpty()
                               : QDir::fromNativeSeparators(report.warning()).contains(warning),
             qPrintable(report.warning()));
    QCOMPARE(report.allWritten(), warning.isEmpty());

    // Ok again on what is now stored: nothing to change, and no file is replaced by its own bytes.
    Sandbox::logInAgain();
    const auto stamps = sandbox.fileStamps();
    const SettingsApplier::Report again = SettingsApplier::apply(
        SettingsApplier::settingsOf(loadStoredVariables(SettingsApplier::variableNames())),
        settings(edited, root));
    QCOMPARE(again.changes.size(), 0);
    QVERIFY(!again.changed);
    QCOMPARE(sandbox.fileStamps(), stamps);
}

QTEST_GUILESS_MAIN(tst_SettingsApplier)
#include "tst_SettingsApplier.moc"
