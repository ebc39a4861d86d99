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
SettingsApplier::Settings settings(const QString &description, const QString &root)
{
    SettingsApplier::Settings result;
    const QStringList words = description.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (QString word : words) {
        word.replace(QLatin1String("$ROOT"), root);
        const QString key = word.section(QLatin1Char('='), 0, 0);
        const QString value = word.section(QLatin1Char('='), 1);
        if (key == QLatin1String("root"))
            result.root = value;
        else if (key == QLatin1String("system"))
            result.system = value;
        else if (key == QLatin1String("server"))
            result.server = value;
        else if (key == QLatin1String("reserve"))
            result.reserveServer = value;
        else if (key == QLatin1String("workstation"))
            result.workstation = value;
        result.standAlone = result.standAlone || key == QLatin1String("standalone");
        result.developer = result.developer || key == QLatin1String("developer");
    }
    return result;
}

const char machineFile[] = "/etc/environment.d/60-trox_inst_env.conf";

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
    QTest::addColumn<QByteArray>("machineBefore");
    QTest::addColumn<QByteArray>("xsvBefore");
    QTest::addColumn<QByteArray>("machine");
    QTest::addColumn<QByteArray>("xsv");
    QTest::addColumn<QByteArray>("taskbase");
    QTest::addColumn<QString>("system"); // whose profile file is checked
    QTest::addColumn<QByteArray>("systemProfile");
    QTest::addColumn<QString>("server"); // the last known server afterwards
    QTest::addColumn<QString>("warning");

    const QString same = QStringLiteral("root=$ROOT system=alpha server=/srv/main workstation=12");
    const QByteArray twelve("[Network]\nWorkstation=12\n");
    // The profiles and the last known server are written on every Ok all the same.
    QTest::newRow("nothing changed, with a server")
        << same << same << QByteArray() << QByteArray() << QByteArray() << twelve
        << QByteArray("[System]\nWorkstation=12\n") << "alpha" << twelve << "/srv/main" << QString();
    QTest::newRow("nothing changed, stand-alone")
        << "root=$ROOT system=alpha server=$ROOT workstation=12"
        << "root=$ROOT system=alpha server=/srv/remembered workstation=12 standalone" << QByteArray()
        << QByteArray() << QByteArray() << twelve << QByteArray("[System]\nWorkstation=12\n") << "alpha"
        << twelve << "<none>" << QString();
    QTest::newRow("stand-alone switched on")
        << "root=$ROOT system=alpha server=/srv/main"
        << "root=$ROOT system=alpha server=/srv/main standalone" << QByteArray() << QByteArray()
        << QByteArray("OV_SERVER_ROOT=\"$ROOT\"\n") << QByteArray() << QByteArray() << "alpha" << QByteArray()
        << "<none>" << QString();
    QTest::newRow("stand-alone switched off")
        << "root=$ROOT system=alpha server=$ROOT"
        << "root=$ROOT system=alpha server=/srv/remembered" << QByteArray() << QByteArray()
        << QByteArray("OV_SERVER_ROOT=\"/srv/remembered\"\n") << QByteArray() << QByteArray() << "alpha"
        << QByteArray() << "/srv/remembered" << QString();
    QTest::newRow("developer switched on")
        << "root=$ROOT system=alpha server=$ROOT"
        << "root=$ROOT system=alpha server=$ROOT standalone developer" << QByteArray() << QByteArray()
        << QByteArray("OV_DEVELOPER=\"true\"\n") << QByteArray() << QByteArray() << "alpha" << QByteArray()
        << "<none>" << QString();
    QTest::newRow("developer switched off")
        << "root=$ROOT system=alpha server=$ROOT developer"
        << "root=$ROOT system=alpha server=$ROOT standalone" << QByteArray() << QByteArray()
        << QByteArray("OV_DEVELOPER=\"false\"\n") << QByteArray() << QByteArray() << "alpha" << QByteArray()
        << "<none>" << QString();
    // The system file is the one under the system given now, not the one loaded.
    QTest::newRow("new workstation reaches every file")
        << "root=$ROOT system=alpha server=/srv/main workstation=3"
        << "root=$ROOT system=beta server=/srv/main workstation=007" << QByteArray()
        << QByteArray("; site settings\r\n[network]\r\nworkstation = 3\r\nPort=7\r\n")
        << QByteArray("OV_SYSTEM=\"beta\"\nOV_WORKSTATION=\"007\"\n")
        << QByteArray("; site settings\r\n[network]\r\nworkstation =007\r\nPort=7\r\n")
        << QByteArray("[System]\nWorkstation=007\n") << "beta" << QByteArray("[Network]\nWorkstation=007\n")
        << "/srv/main" << QString();
    QTest::newRow("empty workstation leaves the profiles alone")
        << "root=$ROOT system=alpha server=/srv/main"
        << "root=$ROOT system=alpha server=/srv/main" << QByteArray()
        << QByteArray("[Network]\nWorkstation=5\n") << QByteArray()
        << QByteArray("[Network]\nWorkstation=5\n") << QByteArray() << "alpha" << QByteArray() << "/srv/main"
        << QString();
    QTest::newRow("emptied value is written empty")
        << "root=$ROOT system=alpha server=/srv/main reserve=/srv/spare workstation=4"
        << "root=$ROOT system=alpha server=/srv/main workstation=4"
        << QByteArray("# kept\nOV_RESERVE_SERVER_ROOT=\"/srv/spare\"\nOTHER=1\n") << QByteArray()
        << QByteArray("# kept\nOV_RESERVE_SERVER_ROOT=\"${OV_RESERVE_SERVER_ROOT:+}\"\nOTHER=1\n")
        << QByteArray("[Network]\nWorkstation=4\n") << QByteArray("[System]\nWorkstation=4\n") << "alpha"
        << QByteArray("[Network]\nWorkstation=4\n") << "/srv/main" << QString();
    QTest::newRow("missing system fails only its profile")
        << "root=$ROOT system=gamma server=/srv/main workstation=4"
        << "root=$ROOT system=gamma server=/srv/main workstation=4" << QByteArray() << QByteArray()
        << QByteArray() << QByteArray("[Network]\nWorkstation=4\n") << QByteArray("[System]\nWorkstation=4\n")
        << "gamma" << QByteArray() << "/srv/main"
        << "gamma/config/system/trox_system.ini";
}

void tst_SettingsApplier::apply()
{
    QFETCH(QString, loaded);
    QFETCH(QString, edited);
    QFETCH(QByteArray, machineBefore);
    QFETCH(QByteArray, xsvBefore);
    QFETCH(QByteArray, machine);
    QFETCH(QString, system);
    QFETCH(QString, warning);

    Sandbox sandbox;
    const QString root = sandbox.root() + QLatin1String("/systems");
    for (const char *path : {"/alpha/config/system", "/beta/config/system"})
        QVERIFY(QDir().mkpath(root + QLatin1String(path)));
    if (!machineBefore.isNull())
        QVERIFY(Sandbox::writeFile(sandbox.machine(QLatin1String(machineFile)), machineBefore));
    if (!xsvBefore.isNull())
        QVERIFY(Sandbox::writeFile(sandbox.machine(QStringLiteral("/etc/trox/xsv.ini")), xsvBefore));

    const SettingsApplier::Report report =
        SettingsApplier::apply(settings(loaded, root), settings(edited, root));

    machine.replace("$ROOT", root.toUtf8());
    QCOMPARE(Sandbox::readFile(sandbox.machine(QLatin1String(machineFile))), machine);
    QCOMPARE(report.changed, machine != machineBefore);
    QTEST(Sandbox::readFile(sandbox.machine(QStringLiteral("/etc/trox/xsv.ini"))), "xsv");
    QTEST(Sandbox::readFile(sandbox.machine(QStringLiteral("/etc/trox/taskbase.ini"))), "taskbase");
    QTEST(
        Sandbox::readFile(root + QLatin1Char('/') + system + QLatin1String("/config/system/trox_system.ini")),
        "systemProfile");
    QTEST(openPreferences()
              ->value(QStringLiteral("lastKnownServer/server"), QStringLiteral("<none>"))
              .toString(),
          "server");
    QVERIFY2(warning.isEmpty() ? report.warning().isEmpty() : report.warning().contains(warning),
             qPrintable(report.warning()));
    QCOMPARE(report.allWritten(), warning.isEmpty());
}

QTEST_GUILESS_MAIN(tst_SettingsApplier)
#include "tst_SettingsApplier.moc"
