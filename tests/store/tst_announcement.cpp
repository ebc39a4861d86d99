#include "fakebus.h"
#include "machinestore.h"
#include "privatebus.h"
#include "sandbox.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>
#include <QThread>

namespace {

const QString machineKey = QLatin1String(Registry::machineEnvironmentKey);
const QString userKey = QLatin1String(Registry::userEnvironmentKey);

class BusAddress
{
public:
    explicit BusAddress(const QString &address)
        : m_saved(qgetenv("DBUS_SESSION_BUS_ADDRESS"))
        , m_wasSet(qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS"))
    {
        qputenv("DBUS_SESSION_BUS_ADDRESS", address.toUtf8());
    }
    ~BusAddress()
    {
        if (m_wasSet)
            qputenv("DBUS_SESSION_BUS_ADDRESS", m_saved);
        else
            qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    }

private:
    QByteArray m_saved;
    bool m_wasSet;
};

void writeVariables()
{
    setEnvironmentVariable(QStringLiteral("OV_ROOT"), QStringLiteral("/srv/trox"));
    setEnvironmentVariable(QStringLiteral("OV_SERVER_ROOT"), QStringLiteral("%OV_ROOT%"));
    setEnvironmentVariable(QStringLiteral("OV_SYSTEM"), QStringLiteral("plant"));
    setRegistryValue(Registry::userRoot, userKey, QStringLiteral("OV_SYSTEM"), QStringLiteral("mine $1"));
}

} // namespace

class tst_announcement : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void reachesBusAndManager_data();
    void reachesBusAndManager();
    void withoutManager_data();
    void withoutManager();
    void withoutBus_data();
    void withoutBus();
};

void tst_announcement::initTestCase()
{
    if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
        QSKIP("dbus-daemon is needed for a private session bus");
}

void tst_announcement::reachesBusAndManager_data()
{
    QTest::addColumn<bool>("fromWorkerThread");
    QTest::addColumn<QByteArray>("machineLines"); // added to the machine file after the tool's writes
    QTest::addColumn<QByteArray>("announced");
    const QByteArray written("OV_ROOT=/srv/trox\nOV_SERVER_ROOT=/srv/trox\nOV_SYSTEM=mine $1\n");
    QTest::newRow("GUI thread, waiting in a local event loop") << false << QByteArray() << written + ".\n";
    QTest::newRow("thread without event loop, blocking") << true << QByteArray() << written + ".\n";
    // The user manager's PATH and HOME are not this process's: such values are left to the login.
    QTest::newRow("only the tool's variables, references to others not expanded")
        << false
        << QByteArray("PATH=\"/opt/trox/bin:${PATH}\"\nOV_WORKSTATION=\"${HOME}/12\"\n"
                      "OV_DEVELOPER=\"${OV_SYSTEM}\"\nOV_RESERVE_SERVER_ROOT=$OV_WORKSTATION\n")
        << written + "OV_DEVELOPER=plant\n.\n";
}

void tst_announcement::reachesBusAndManager()
{
    QFETCH(bool, fromWorkerThread);
    QFETCH(QByteArray, machineLines);
    QFETCH(QByteArray, announced);
    Sandbox sandbox;
    PrivateBus bus(sandbox.root() + QLatin1String("/bus"), QStringLiteral(STORE_HELPER));
    QVERIFY(!bus.address().isEmpty());
    QVERIFY(bus.startManager(QStringLiteral("systemd")));
    writeVariables();
    const QString machineFile = sandbox.machine(QStringLiteral("/etc/environment.d/60-trox_inst_env.conf"));
    QVERIFY(Sandbox::writeFile(machineFile, Sandbox::readFile(machineFile) + machineLines));
    // The files decide, not what this process was started with.
    qputenv("OV_ROOT", "/stale");
    {
        BusAddress using_(bus.address());
        if (fromWorkerThread) {
            QScopedPointer<QThread> worker(QThread::create(&broadcastEnvironmentChange));
            worker->start();
            QVERIFY(worker->wait(10000));
        } else {
            broadcastEnvironmentChange();
        }
    }
    qunsetenv("OV_ROOT");

    QCOMPARE(Sandbox::readFile(bus.record()), announced);
    QCOMPARE(bus.probe(QStringLiteral("Value"), QStringLiteral("OV_SERVER_ROOT")),
             QStringLiteral("/srv/trox"));
    QCOMPARE(bus.probe(QStringLiteral("Value"), QStringLiteral("OV_SYSTEM")), QStringLiteral("mine $1"));
    bus.probe(QStringLiteral("Quit"));
}

void tst_announcement::withoutManager_data()
{
    QTest::addColumn<QString>("manager");
    QTest::newRow("no systemd user manager") << QString();
    QTest::newRow("manager that never answers") << QStringLiteral("silent");
}

void tst_announcement::withoutManager()
{
    QFETCH(QString, manager);
    Sandbox sandbox;
    PrivateBus bus(sandbox.root() + QLatin1String("/bus"), QStringLiteral(STORE_HELPER));
    QVERIFY(!bus.address().isEmpty());
    if (!manager.isEmpty())
        QVERIFY(bus.startManager(manager));
    writeVariables();

    QTest::ignoreMessage(
        QtDebugMsg,
        QRegularExpression(QStringLiteral(
            "^environment announcement: org.freedesktop.systemd1.Manager.SetEnvironment failed")));
    QElapsedTimer clock;
    clock.start();
    {
        BusAddress using_(bus.address());
        broadcastEnvironmentChange();
    }
    QVERIFY2(clock.elapsed() < 4000, qPrintable(QString::number(clock.elapsed())));
    // The bus itself still took the values.
    QCOMPARE(bus.probe(QStringLiteral("Value"), QStringLiteral("OV_ROOT")), QStringLiteral("/srv/trox"));
    bus.probe(QStringLiteral("Quit"));
}

void tst_announcement::withoutBus_data()
{
    QTest::addColumn<int>("answers"); // how far the fake bus answers, see FakeBus
    QTest::addColumn<QStringList>("messages");
    const QStringList noBus{QStringLiteral("^environment not announced: no session bus")};
    QTest::newRow("no socket") << -1 << noBus;
    QTest::newRow("accepts, never answers") << 0 << noBus;
    QTest::newRow("authenticates, never answers Hello") << 1 << noBus;
    QTest::newRow("answers a probe, stalls a client's handshake") << 2 << noBus;
    QTest::newRow("registers, never answers a call")
        << 3
        << QStringList{
               QStringLiteral("^environment announcement: org.freedesktop.DBus.UpdateActivationEnvironment "
                              "failed: no answer"),
               QStringLiteral("^environment announcement: org.freedesktop.systemd1.Manager.SetEnvironment "
                              "failed: no answer")};
}

void tst_announcement::withoutBus()
{
    QFETCH(int, answers);
    QFETCH(QStringList, messages);
    Sandbox sandbox;
    writeVariables();
    const QString path = sandbox.root() + QLatin1String("/bus");
    FakeBus fake(path, answers);
    for (const QString &message : std::as_const(messages))
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(message));
    QElapsedTimer clock;
    clock.start();
    {
        BusAddress using_(QStringLiteral("unix:path=") + path);
        broadcastEnvironmentChange();
    }
    QVERIFY2(clock.elapsed() < 4000, qPrintable(QString::number(clock.elapsed())));

    // Nothing was left waiting inside the process: a real bus is reached afterwards.
    PrivateBus bus(sandbox.root() + QLatin1String("/real"), QStringLiteral(STORE_HELPER));
    QVERIFY(bus.startManager(QStringLiteral("systemd")));
    {
        BusAddress using_(bus.address());
        broadcastEnvironmentChange();
    }
    QVERIFY(Sandbox::readFile(bus.record()).startsWith("OV_ROOT=/srv/trox\n"));
}

QTEST_MAIN(tst_announcement)
#include "tst_announcement.moc"
