#include "../machinestore.h"
#include "../storelog.h"
#include "../ValueRules.h"
#include "../win32/win32store.h"

#include <QCoreApplication>
#include <QDebug>
#include <QEventLoop>
#include <QThread>

#include <thread>

static_assert(ERROR_REFUSED_INPUT == Win32Store::refusedInput,
              "one number for refused input on every platform");
static_assert(Registry::machineRoot == Win32Store::machineRoot && Registry::userRoot == Win32Store::userRoot,
              "the roots are the Windows numbers");

namespace {

void toDebugLog(const std::wstring &line)
{
    qCDebug(storeLog).noquote() << QString::fromStdWString(line);
}

void routeLogToDebug()
{
    Win32Store::setLogSink(&toDebugLog);
}

// The value rules shared with the other platforms, checked before the Win32 layer is called.
bool refusedValue(const QString &name, const QString &value)
{
    const QString refusal = ValueRules::refusal(value);
    if (!refusal.isEmpty())
        qCDebug(storeLog).noquote()
            << QStringLiteral("Refused to write the variable %1: %2.").arg(name, refusal);
    return !refusal.isEmpty();
}

} // namespace

quint32 setRegistryValue(quint32 root, const QString &subKey, const QString &valueName, const QString &value)
{
    routeLogToDebug();
    if (refusedValue(valueName, value))
        return ERROR_REFUSED_INPUT;
    return Win32Store::setRegistryValue(root, subKey.toStdWString(), valueName.toStdWString(),
                                        value.toStdWString());
}

VariableWrite setEnvironmentVariable(const QString &name, const QString &value)
{
    routeLogToDebug();
    if (refusedValue(name, value)) {
        VariableWrite refused;
        refused.machineError = ERROR_REFUSED_INPUT;
        return refused;
    }
    const Win32Store::VariableResult result =
        Win32Store::setEnvironmentVariable(name.toStdWString(), value.toStdWString());
    VariableWrite write;
    switch (result.where) {
    case Win32Store::VariableResult::MachineWide:
        write.where = VariableWrite::MachineWide;
        break;
    case Win32Store::VariableResult::PerUser:
        write.where = VariableWrite::PerUser;
        break;
    case Win32Store::VariableResult::Nowhere:
        write.where = VariableWrite::Nowhere;
        break;
    }
    write.machineError = result.machineError;
    write.userError = result.userError;
    write.changed = write.written(); // the registry is not read back first
    return write;
}

QList<VariableWrite> setEnvironmentVariables(const QList<QPair<QString, QString>> &assignments)
{
    // Registry writes are cheap and independent; nothing is gained by grouping them.
    QList<VariableWrite> writes;
    for (const auto &[name, value] : assignments)
        writes.append(setEnvironmentVariable(name, value));
    return writes;
}

quint32 writeProfileString(const QString &section, const QString &key, const QString &value,
                           const QString &fileName)
{
    routeLogToDebug();
    return Win32Store::writeProfileString(section.toStdWString(), key.toStdWString(), value.toStdWString(),
                                          fileName.toStdWString());
}

void broadcastEnvironmentChange()
{
    QCoreApplication *application = QCoreApplication::instance();
    if (!application || QThread::currentThread() != application->thread()) {
        Win32Store::broadcastEnvironmentChange();
        return;
    }
    // The announcement also reaches this program's own windows, so the GUI thread must go on
    // handling messages while a worker waits for every window; user input waits until it is done.
    QEventLoop loop;
    std::thread worker([&loop] {
        Win32Store::broadcastEnvironmentChange();
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    worker.join();
}

void avoidSilentSessionBus()
{
    // Windows has no session bus.
}

QString describeStoreError(quint32 code)
{
    return QString::fromStdWString(Win32Store::describeError(code));
}

QList<StoredVariable> loadStoredVariables(const QStringList &names)
{
    QList<StoredVariable> result;
    for (const QString &name : names) {
        StoredVariable stored;
        if (qEnvironmentVariableIsSet(name.toLocal8Bit().constData())) {
            stored.value = qEnvironmentVariable(name.toLocal8Bit().constData());
            stored.source = StoredVariable::Inherited;
        }
        if (stored.isSet() && stored.value.isNull())
            stored.value = QStringLiteral(""); // set, though empty: only an unset value is null
        result.append(stored);
    }
    return result;
}
