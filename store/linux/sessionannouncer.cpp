#include "sessionannouncer.h"

#include "../storelog.h"
#include "busprobe.h"

#include <QCoreApplication>
#include <QDebug>
#include <QEventLoop>
#include <QThread>

#include <thread>

namespace SessionAnnouncer {

namespace {

// The exchange runs beside the event loop so that a dialog keeps painting while a bus is slow.
BusProbe::Exchange exchange(const QString &addresses, const QList<BusProbe::Call> &calls, int timeoutMs)
{
    const QCoreApplication *application = QCoreApplication::instance();
    const bool onEventLoopThread = application && application->thread() == QThread::currentThread();
    if (!onEventLoopThread || !BusProbe::anyListening(addresses))
        return BusProbe::call(addresses, calls, timeoutMs);
    BusProbe::Exchange result;
    QEventLoop loop;
    std::thread worker([&] {
        result = BusProbe::call(addresses, calls, timeoutMs);
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    worker.join();
    return result;
}

} // namespace

void announce(const QList<QPair<QString, QString>> &variables, int timeoutMs)
{
    if (variables.isEmpty())
        return;
    QStringList assignments;
    for (const auto &variable : variables)
        assignments.append(variable.first + QLatin1Char('=') + variable.second);

    const QList<BusProbe::Call> calls{
        BusProbe::busCall(QStringLiteral("UpdateActivationEnvironment"), QByteArrayLiteral("a{ss}"),
                          BusProbe::stringDictionaryArgument(variables)),
        {QStringLiteral("org.freedesktop.systemd1"), QStringLiteral("/org/freedesktop/systemd1"),
         QStringLiteral("org.freedesktop.systemd1.Manager"), QStringLiteral("SetEnvironment"),
         QByteArrayLiteral("as"), BusProbe::stringArrayArgument(assignments), false}};

    const BusProbe::Exchange result = exchange(BusProbe::sessionAddress(), calls, timeoutMs);
    if (result.address.isEmpty()) {
        qCDebug(storeLog, "The environment change was not announced: there is no session bus (%s).",
                qPrintable(result.why));
        return;
    }
    for (qsizetype i = 0; i < calls.size(); ++i) {
        if (!result.errors.at(i).isEmpty())
            qCDebug(storeLog, "The environment announcement %s.%s failed: %s.",
                    qPrintable(calls.at(i).interface), qPrintable(calls.at(i).member),
                    qPrintable(result.errors.at(i)));
    }
}

} // namespace SessionAnnouncer
