#include "sessionannouncer.h"

#include "busprobe.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDebug>
#include <QEventLoop>
#include <QMap>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <thread>

namespace SessionAnnouncer {

namespace {

using StringMap = QMap<QString, QString>;

void logFailure(const QDBusMessage &call, const QString &error)
{
    qDebug("environment announcement: %s.%s failed: %s", qPrintable(call.interface()),
           qPrintable(call.member()), qPrintable(error));
}

// Asynchronous calls waited for in a local loop, so that a dialog keeps painting meanwhile.
void callWithinEventLoop(const QDBusConnection &bus, const QList<QDBusMessage> &calls, int timeoutMs)
{
    QEventLoop loop;
    QList<QDBusPendingCallWatcher *> watchers;
    int pending = int(calls.size());
    for (const QDBusMessage &call : calls) {
        auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, timeoutMs), &loop);
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &loop, [&pending, &loop] {
            if (--pending == 0)
                loop.quit();
        });
        watchers.append(watcher);
    }
    QTimer::singleShot(timeoutMs + 500, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    for (qsizetype i = 0; i < calls.size(); ++i) {
        if (!watchers.at(i)->isFinished())
            logFailure(calls.at(i), QStringLiteral("no answer"));
        else if (watchers.at(i)->isError())
            logFailure(calls.at(i), watchers.at(i)->error().message());
    }
}

void callBlocking(const QDBusConnection &bus, const QList<QDBusMessage> &calls, int timeoutMs)
{
    QList<QDBusPendingCall> pending;
    for (const QDBusMessage &call : calls)
        pending.append(bus.asyncCall(call, timeoutMs));
    for (qsizetype i = 0; i < calls.size(); ++i) {
        pending[i].waitForFinished();
        if (pending.at(i).isError())
            logFailure(calls.at(i), pending.at(i).error().message());
    }
}

// The probe runs beside the event loop so that a dialog keeps painting while a bus is slow to answer.
QString probe(const QString &addresses, int timeoutMs, bool onEventLoopThread, QString *why)
{
    if (!onEventLoopThread || !BusProbe::anyListening(addresses))
        return BusProbe::firstAnswering(addresses, timeoutMs, why);
    QString address;
    QEventLoop loop;
    std::thread worker([&] {
        address = BusProbe::firstAnswering(addresses, timeoutMs, why);
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    worker.join();
    return address;
}

} // namespace

void announce(const QList<QPair<QString, QString>> &variables, int timeoutMs)
{
    if (variables.isEmpty())
        return;
    qDBusRegisterMetaType<StringMap>();
    StringMap activation;
    QStringList assignments;
    for (const auto &variable : variables) {
        activation.insert(variable.first, variable.second);
        assignments.append(variable.first + QLatin1Char('=') + variable.second);
    }

    QDBusMessage toBus = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("UpdateActivationEnvironment"));
    toBus << QVariant::fromValue(activation);
    QDBusMessage toManager = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.systemd1"), QStringLiteral("/org/freedesktop/systemd1"),
        QStringLiteral("org.freedesktop.systemd1.Manager"), QStringLiteral("SetEnvironment"));
    toManager << assignments;
    toManager.setAutoStartService(false);
    const QList<QDBusMessage> calls{toBus, toManager};

    const QCoreApplication *application = QCoreApplication::instance();
    const bool onEventLoopThread = application && application->thread() == QThread::currentThread();
    QString why;
    const QString address = probe(BusProbe::sessionAddress(), timeoutMs, onEventLoopThread, &why);
    if (address.isEmpty()) {
        qDebug("environment not announced: no session bus (%s)", qPrintable(why));
        return;
    }

    // A private connection: the shared session connection would keep whichever bus was current the
    // first time it was used.
    static std::atomic<int> serial{0};
    const QString name = QStringLiteral("trox_inst_env-announce-%1").arg(++serial);
    {
        const QDBusConnection bus = QDBusConnection::connectToBus(address, name);
        if (!bus.isConnected())
            qDebug("environment not announced: no session bus (%s)", qPrintable(bus.lastError().message()));
        else if (onEventLoopThread)
            callWithinEventLoop(bus, calls, timeoutMs);
        else
            callBlocking(bus, calls, timeoutMs);
    }
    QDBusConnection::disconnectFromBus(name);
}

} // namespace SessionAnnouncer
