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

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

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

// A socket that listens but never accepts (answers 0), or one whose peer completes authentication and
// then goes silent (answers 1); the kernel completes a connect() either way.
class FakeBus
{
public:
    FakeBus(const QString &path, int answers)
    {
        if (answers < 0)
            return;
        m_fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un name{};
        name.sun_family = AF_UNIX;
        qstrncpy(name.sun_path, QFile::encodeName(path).constData(), sizeof name.sun_path);
        if (bind(m_fd, reinterpret_cast<sockaddr *>(&name), sizeof name) != 0 || listen(m_fd, 8) != 0)
            qWarning("fake bus: %s", strerror(errno));
        if (answers > 0)
            m_peer = std::thread([fd = m_fd] {
                // Every client (a quick look whether anyone listens, then the real probe) is
                // served until the listening socket is shut down.
                for (int peer; (peer = accept(fd, nullptr, nullptr)) >= 0; close(peer)) {
                    char buffer[256];
                    ssize_t got = 1;
                    QByteArray received;
                    while (got > 0 && !received.contains("\r\n")) {
                        got = recv(peer, buffer, sizeof buffer, 0);
                        if (got > 0)
                            received.append(buffer, int(got));
                    }
                    if (got <= 0)
                        continue;
                    send(peer, "OK 0123456789abcdef0123456789abcdef\r\n", 37, MSG_NOSIGNAL);
                    while (recv(peer, buffer, sizeof buffer, 0) > 0) {
                    }
                }
            });
    }
    ~FakeBus()
    {
        if (m_fd >= 0)
            shutdown(m_fd, SHUT_RDWR);
        if (m_peer.joinable())
            m_peer.join();
        if (m_fd >= 0)
            close(m_fd);
    }
    FakeBus(const FakeBus &) = delete;
    FakeBus &operator=(const FakeBus &) = delete;

private:
    int m_fd = -1;
    std::thread m_peer;
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
    QTest::newRow("GUI thread, waiting in a local event loop") << false;
    QTest::newRow("thread without event loop, blocking") << true;
}

void tst_announcement::reachesBusAndManager()
{
    QFETCH(bool, fromWorkerThread);
    Sandbox sandbox;
    PrivateBus bus(sandbox.root() + QLatin1String("/bus"), QStringLiteral(STORE_HELPER));
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
    QTest::addColumn<int>("answers"); // -1 no socket, 0 accepts and never answers, 1 authenticates only
    QTest::newRow("no socket") << -1;
    QTest::newRow("accepts, never answers") << 0;
    QTest::newRow("authenticates, never answers Hello") << 1;
}

void tst_announcement::withoutBus()
{
    QFETCH(int, answers);
    Sandbox sandbox;
    writeVariables();
    const QString path = sandbox.root() + QLatin1String("/bus");
    FakeBus fake(path, answers);
    QTest::ignoreMessage(QtDebugMsg,
                         QRegularExpression(QStringLiteral("^environment not announced: no session bus")));
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
