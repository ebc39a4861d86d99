#include "machinestore.h"
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

// A session bus of the test's own, with a bus-activatable probe that reports its environment.
class PrivateBus
{
public:
    explicit PrivateBus(const QString &directory)
        : m_directory(directory)
    {
        QDir().mkpath(directory + QLatin1String("/services"));
        Sandbox::writeFile(directory + QLatin1String("/services/org.trox.EnvProbe.service"),
                           "[D-BUS Service]\nName=org.trox.EnvProbe\nExec=" STORE_HELPER " probe\n");
        const QString config = directory + QLatin1String("/bus.conf");
        Sandbox::writeFile(
            config,
            QStringLiteral("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus "
                           "Configuration 1.0//EN\"\n"
                           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                           "<busconfig><type>session</type>"
                           "<listen>unix:path=%1/bus</listen><auth>EXTERNAL</auth>"
                           "<servicedir>%1/services</servicedir>"
                           "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                           "<allow eavesdrop=\"true\"/>"
                           "<allow own=\"*\"/></policy></busconfig>\n")
                .arg(directory)
                .toUtf8());
        m_daemon.start(QStringLiteral("dbus-daemon"),
                       {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                        QStringLiteral("--print-address")});
        if (m_daemon.waitForStarted(5000) && m_daemon.waitForReadyRead(5000))
            m_address = QString::fromUtf8(m_daemon.readLine().trimmed());
    }
    ~PrivateBus()
    {
        for (QProcess *process : {&m_peer, &m_daemon}) {
            if (process->state() == QProcess::NotRunning)
                continue;
            process->terminate();
            if (!process->waitForFinished(3000))
                process->kill();
            process->waitForFinished(3000);
        }
    }
    PrivateBus(const PrivateBus &) = delete;
    PrivateBus &operator=(const PrivateBus &) = delete;

    QString address() const { return m_address; }

    // A stand-in systemd user manager: "systemd" records SetEnvironment calls, "silent" never answers.
    bool startManager(const QString &mode)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_address);
        m_peer.setProcessEnvironment(env);
        m_peer.start(QStringLiteral(STORE_HELPER), {mode, record()});
        return m_peer.waitForReadyRead(5000) && m_peer.readLine().trimmed() == "ready";
    }
    QString record() const { return m_directory + QLatin1String("/setenvironment.txt"); }

    QString probe(const QString &method, const QString &argument = QString()) const
    {
        QDBusConnection connection = QDBusConnection::connectToBus(m_address, QStringLiteral("tst"));
        QDBusMessage call =
            QDBusMessage::createMethodCall(QStringLiteral("org.trox.EnvProbe"), QStringLiteral("/probe"),
                                           QStringLiteral("org.trox.EnvProbe"), method);
        if (!argument.isNull())
            call << argument;
        const QDBusMessage reply = connection.call(call, QDBus::Block, 10000);
        QDBusConnection::disconnectFromBus(QStringLiteral("tst"));
        return reply.type() == QDBusMessage::ReplyMessage ? reply.arguments().value(0).toString()
                                                          : reply.errorMessage();
    }

private:
    QString m_directory;
    QProcess m_daemon;
    QProcess m_peer;
    QString m_address;
};

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
    setRegistryValue(Registry::HKEY_CURRENT_USER, userKey, QStringLiteral("OV_SYSTEM"),
                     QStringLiteral("mine $1"));
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
    QTest::newRow("GUI thread, waiting in a local event loop") << false;
    QTest::newRow("thread without event loop, blocking") << true;
}

void tst_announcement::reachesBusAndManager()
{
    QFETCH(bool, fromWorkerThread);
    Sandbox sandbox;
    PrivateBus bus(sandbox.root() + QLatin1String("/bus"));
    QVERIFY(!bus.address().isEmpty());
    QVERIFY(bus.startManager(QStringLiteral("systemd")));
    writeVariables();
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

    QCOMPARE(Sandbox::readFile(bus.record()),
             QByteArray("OV_ROOT=/srv/trox\nOV_SERVER_ROOT=/srv/trox\nOV_SYSTEM=mine $1\n.\n"));
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
    PrivateBus bus(sandbox.root() + QLatin1String("/bus"));
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

void tst_announcement::withoutBus()
{
    Sandbox sandbox;
    writeVariables();
    QTest::ignoreMessage(QtDebugMsg,
                         QRegularExpression(QStringLiteral("^environment not announced: no session bus")));
    QElapsedTimer clock;
    clock.start();
    {
        BusAddress using_(QStringLiteral("unix:path=") + sandbox.root() + QLatin1String("/no-bus-here"));
        broadcastEnvironmentChange();
    }
    QVERIFY(clock.elapsed() < 3000);
}

QTEST_MAIN(tst_announcement)
#include "tst_announcement.moc"
