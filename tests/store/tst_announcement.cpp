#include "fakebus.h"
#include "machinestore.h"
#include "privatebus.h"
#include "sandbox.h"

#include <QElapsedTimer>
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
    void announce_data();
    void announce();
};

void tst_announcement::initTestCase()
{
    if (QStandardPaths::findExecutable("dbus-daemon").isEmpty())
        QSKIP("dbus-daemon is needed for a private session bus");
}

void tst_announcement::announce_data()
{
    QTest::addColumn<int>("answers"); // how far a fake bus answers, see FakeBus; 4: the private bus
    QTest::addColumn<QString>("manager");
    QTest::addColumn<bool>("fromWorkerThread");
    QTest::addColumn<QByteArray>("machineLines"); // added to the machine file after the tool's writes
    QTest::addColumn<QByteArray>("announced");    // what the private bus's manager recorded at last
    QTest::addColumn<QStringList>("messages");
    const QByteArray written("OV_ROOT=/srv/trox\nOV_SERVER_ROOT=/srv/trox\nOV_SYSTEM=mine $1\n");
    const auto reached = [&](const char *name, bool fromWorkerThread, const QByteArray &lines,
                             const QByteArray &more) {
        QTest::newRow(name) << 4 << "systemd" << fromWorkerThread << lines << written + more + ".\n"
                            << QStringList();
    };
    reached("GUI thread, waiting in a local event loop", false, "", "");
    reached("thread without event loop, blocking", true, "", "");
    // The user manager's PATH and HOME are not this process's: such values are left to the login.
    reached("only the tool's variables, references to others not expanded", false,
            "PATH=\"/opt/trox/bin:${PATH}\"\nOV_WORKSTATION=\"${HOME}/12\"\n"
            "OV_DEVELOPER=\"${OV_SYSTEM}\"\nOV_RESERVE_SERVER_ROOT=$OV_WORKSTATION\n",
            "OV_DEVELOPER=plant\n");
    // The user manager starts without the tool's variables: a reference to one not yet assigned is
    // empty for certain, and an emptied value is still a value the login gets.
    reached("emptied values and references to the tool's own variables", false,
            "OV_DEVELOPER=${OV_WORKSTATION:+set}\nOV_WORKSTATION=${OV_WORKSTATION}12\n"
            "OV_RESERVE_SERVER_ROOT=${OV_SYSTEM}-${OV_DEVELOPER}\n",
            "OV_DEVELOPER=\nOV_WORKSTATION=12\nOV_RESERVE_SERVER_ROOT=plant-\n");
    // Unanswered: given up in time, and the private bus is reached afterwards.
    const auto unanswered = [&](const char *name, int answers, const QString &manager,
                                const QStringList &messages) {
        QTest::newRow(name) << answers << manager << false << QByteArray()
                            << (answers < 4 ? written + ".\n" : QByteArray()) << messages;
    };
    const QStringList noBus{"^The environment change was not announced: there is no session bus"};
    const QString failed("^The environment announcement %1 failed");
    const QString setEnvironment = failed.arg("org.freedesktop.systemd1.Manager.SetEnvironment");
    unanswered("no socket", -1, "", noBus);
    unanswered("accepts, never answers", 0, "", noBus);
    unanswered("authenticates, never answers Hello", 1, "", noBus);
    unanswered("answers a probe, stalls a client's handshake", 2, "", noBus);
    unanswered("registers, never answers a call", 3, "",
               {failed.arg("org.freedesktop.DBus.UpdateActivationEnvironment") + ": no answer",
                setEnvironment + ": no answer"});
    unanswered("no systemd user manager", 4, "", {setEnvironment});
    unanswered("manager that never answers", 4, "silent", {setEnvironment});
}

void tst_announcement::announce()
{
    QFETCH(int, answers);
    QFETCH(QString, manager);
    QFETCH(bool, fromWorkerThread);
    QFETCH(QByteArray, machineLines);
    QFETCH(QStringList, messages);
    Sandbox sandbox;
    PrivateBus bus(sandbox.root() + "/real", STORE_HELPER);
    QVERIFY(!bus.address().isEmpty());
    if (!manager.isEmpty())
        QVERIFY(bus.startManager(manager));
    const QString fake = sandbox.root() + "/bus";
    FakeBus fakeBus(fake, answers < 4 ? answers : -1);
    writeVariables();
    QVERIFY(Sandbox::writeFile(machineEnvFile(sandbox),
                               Sandbox::readFile(machineEnvFile(sandbox)) + machineLines));
    for (const QString &message : std::as_const(messages))
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(message));
    // The files decide, not what this process was started with.
    qputenv("OV_ROOT", "/stale");
    useBus(answers < 4 ? "unix:path=" + fake : bus.address());
    QElapsedTimer clock;
    clock.start();
    if (fromWorkerThread) {
        QScopedPointer<QThread> worker(QThread::create(&broadcastEnvironmentChange));
        worker->start();
        QVERIFY(worker->wait(10000));
    } else {
        broadcastEnvironmentChange();
    }
    QVERIFY2(clock.elapsed() < 4000, qPrintable(QString::number(clock.elapsed())));
    // Nothing was left waiting inside the process.
    if (answers < 4) {
        QVERIFY(bus.startManager("systemd"));
        useBus(bus.address());
        broadcastEnvironmentChange();
    }
    qunsetenv("OV_ROOT");

    QTEST(Sandbox::readFile(bus.record()), "announced");
    QCOMPARE(bus.probe("Value", "OV_ROOT"), QStringLiteral("/srv/trox"));
    QCOMPARE(bus.probe("Value", "OV_SERVER_ROOT"), QStringLiteral("/srv/trox"));
    QCOMPARE(bus.probe("Value", "OV_SYSTEM"), QStringLiteral("mine $1"));
    bus.probe("Quit");
}

QTEST_MAIN(tst_announcement)
#include "tst_announcement.moc"
