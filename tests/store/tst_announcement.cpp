#include "fakebus.h"
#include "machinestore.h"
#include "privatebus.h"
#include "sandbox.h"
#include "storetesting.h"

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

// The sandbox puts the address back.
void useBus(const QString &address)
{
    qputenv("DBUS_SESSION_BUS_ADDRESS", address.toUtf8());
}

void writeVariables()
{
    setEnvironmentVariable("OV_ROOT", "/srv/trox");
    setEnvironmentVariable("OV_SERVER_ROOT", "%OV_ROOT%");
    setEnvironmentVariable("OV_SYSTEM", "plant");
    setRegistryValue(Registry::userRoot, QLatin1String(Registry::userEnvironmentKey), "OV_SYSTEM", "mine $1");
}

} // namespace

class tst_announcement : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void reachesBusAndManager_data();
    void reachesBusAndManager();
    void unanswered_data();
    void unanswered();
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
    PrivateBus bus(sandbox.root() + "/bus", STORE_HELPER);
    QVERIFY(!bus.address().isEmpty());
    QVERIFY(bus.startManager(QStringLiteral("systemd")));
    writeVariables();
    QVERIFY(Sandbox::writeFile(machineEnvFile(sandbox),
                               Sandbox::readFile(machineEnvFile(sandbox)) + machineLines));
    // The files decide, not what this process was started with.
    qputenv("OV_ROOT", "/stale");
    useBus(bus.address());
    if (fromWorkerThread) {
        QScopedPointer<QThread> worker(QThread::create(&broadcastEnvironmentChange));
        worker->start();
        QVERIFY(worker->wait(10000));
    } else {
        broadcastEnvironmentChange();
    }
    qunsetenv("OV_ROOT");

    QCOMPARE(Sandbox::readFile(bus.record()), announced);
    QCOMPARE(bus.probe("Value", "OV_SERVER_ROOT"), QStringLiteral("/srv/trox"));
    QCOMPARE(bus.probe("Value", "OV_SYSTEM"), QStringLiteral("mine $1"));
    bus.probe("Quit");
}

void tst_announcement::unanswered_data()
{
    QTest::addColumn<int>("answers"); // how far a fake bus answers, see FakeBus; 4: the real bus
    QTest::addColumn<QString>("manager");
    QTest::addColumn<QStringList>("messages");
    const QStringList noBus{"^environment not announced: no session bus"};
    const QString failed("^environment announcement: %1 failed");
    const QString setEnvironment = failed.arg("org.freedesktop.systemd1.Manager.SetEnvironment");
    QTest::newRow("no socket") << -1 << QString() << noBus;
    QTest::newRow("accepts, never answers") << 0 << QString() << noBus;
    QTest::newRow("authenticates, never answers Hello") << 1 << QString() << noBus;
    QTest::newRow("answers a probe, stalls a client's handshake") << 2 << QString() << noBus;
    QTest::newRow("registers, never answers a call")
        << 3 << QString()
        << QStringList{failed.arg("org.freedesktop.DBus.UpdateActivationEnvironment") + ": no answer",
                       setEnvironment + ": no answer"};
    QTest::newRow("no systemd user manager") << 4 << QString() << QStringList{setEnvironment};
    QTest::newRow("manager that never answers") << 4 << "silent" << QStringList{setEnvironment};
}

void tst_announcement::unanswered()
{
    QFETCH(int, answers);
    QFETCH(QString, manager);
    QFETCH(QStringList, messages);
    Sandbox sandbox;
    writeVariables();
    PrivateBus bus(sandbox.root() + "/real", STORE_HELPER);
    QVERIFY(!bus.address().isEmpty());
    if (!manager.isEmpty())
        QVERIFY(bus.startManager(manager));
    const QString fake = sandbox.root() + "/bus";
    FakeBus fakeBus(fake, answers < 4 ? answers : -1);
    for (const QString &message : std::as_const(messages))
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(message));
    useBus(answers < 4 ? "unix:path=" + fake : bus.address());
    QElapsedTimer clock;
    clock.start();
    broadcastEnvironmentChange();
    QVERIFY2(clock.elapsed() < 4000, qPrintable(QString::number(clock.elapsed())));

    // Nothing was left waiting inside the process: a real bus is reached afterwards.
    if (answers < 4) {
        QVERIFY(bus.startManager("systemd"));
        useBus(bus.address());
        broadcastEnvironmentChange();
        QVERIFY(Sandbox::readFile(bus.record()).startsWith("OV_ROOT=/srv/trox\n"));
    }
    // The bus itself took the values.
    QCOMPARE(bus.probe("Value", "OV_ROOT"), QStringLiteral("/srv/trox"));
    bus.probe("Quit");
}

QTEST_MAIN(tst_announcement)
#include "tst_announcement.moc"
