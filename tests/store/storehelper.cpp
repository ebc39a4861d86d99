#include "fakebus.h"
#include "machinestore.h"
#include "preferences.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QFile>
#include <QTimer>

#include <cstdio>
#include <memory>

// storehelper apply TAG FROM TO    for i in FROM..TO: variable TAG_i, key TAG_i of xsv.ini [Network] and
//                                  preference TAG_i set to "vi"; prints
//                                  "i where machineError userError profileError settingsStatus"
// storehelper save TAG FROM TO     the same, the preference through savePreferences (status -1 if refused)
// storehelper cycle                sets OV_ROOT, xsv.ini's Workstation and the last known server to B, A, B,
// ... until killed; prints "ready"
//                                  after the first round
// storehelper fakebus PATH ANSWERS a FakeBus at PATH for a minute
// storehelper systemd RECORD_FILE  owns org.freedesktop.systemd1, appends each SetEnvironment call
// storehelper silent               owns org.freedesktop.systemd1 and never answers
// storehelper probe                org.trox.EnvProbe: Value(name) from its own environment
// storehelper a11y ADDRESS         org.a11y.Bus, switched on, naming ADDRESS as the accessibility bus

class Manager : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.systemd1.Manager")
public:
    Manager(const QString &record, bool answer)
        : m_record(record)
        , m_answer(answer)
    {}

public Q_SLOTS:
    void SetEnvironment(const QStringList &assignments)
    {
        if (!m_answer) {
            setDelayedReply(true);
            return;
        }
        QFile file(m_record);
        if (file.open(QIODevice::Append))
            file.write((assignments.join(QLatin1Char('\n')) + QLatin1String("\n.\n")).toUtf8());
    }

private:
    QString m_record;
    bool m_answer;
};

class Probe : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.trox.EnvProbe")
public Q_SLOTS:
    QString Value(const QString &name)
    {
        return qEnvironmentVariableIsSet(name.toLatin1().constData())
                   ? qEnvironmentVariable(name.toLatin1().constData())
                   : QStringLiteral("<unset>");
    }
    void Quit() { QTimer::singleShot(0, qApp, &QCoreApplication::quit); }
};

// The desktop's accessibility service: both of its interfaces on one path, as the real one has them.
class AccessibilityService : public QDBusVirtualObject
{
public:
    explicit AccessibilityService(const QString &address)
        : m_address(address)
    {}
    QString introspect(const QString &) const override { return QString(); }
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        if (message.member() == QLatin1String("GetAddress"))
            return connection.send(message.createReply(m_address));
        if (message.member() == QLatin1String("Get")) // IsEnabled and ScreenReaderEnabled
            return connection.send(message.createReply(QVariant::fromValue(QDBusVariant(true))));
        return false;
    }

private:
    QString m_address;
};

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    const QStringList args = application.arguments().mid(1);
    const QString mode = args.value(0);
    if ((mode == QLatin1String("apply") || mode == QLatin1String("save")) && args.size() == 4) {
        for (int i = args.at(2).toInt(); i <= args.at(3).toInt(); ++i) {
            const QString name = args.at(1) + QLatin1Char('_') + QString::number(i);
            const QString value = QLatin1Char('v') + QString::number(i);
            const VariableWrite variable = setEnvironmentVariable(name, value);
            const quint32 profile = writeProfileString("Network", name, value, "xsv.ini");
            int settings = -1;
            if (mode == QLatin1String("save")) {
                settings = savePreferences([&](QSettings &store) { store.setValue(name, value); }) ? 0 : -1;
            } else {
                const auto store = openPreferences();
                store->setValue(name, value);
                store->sync();
                settings = int(store->status());
            }
            std::printf("%d %d %u %u %u %d\n", i, int(variable.where), variable.machineError,
                        variable.userError, profile, settings);
        }
        return 0;
    }
    const auto ready = [] {
        std::printf("ready\n");
        std::fflush(stdout);
    };
    if (mode == QLatin1String("cycle")) {
        // Ready once a whole round is done, so that a kill soon after lands in a later one.
        for (unsigned i = 1;; ++i) {
            if (i == 2)
                ready();
            const QString value = QLatin1String(i % 2 ? "B" : "A");
            setRegistryValue(Registry::machineRoot, QLatin1String(Registry::machineEnvironmentKey), "OV_ROOT",
                             value);
            writeProfileString("Network", "Workstation", value, "xsv.ini");
            savePreferences([&](QSettings &store) { store.setValue("lastKnownServer/server", value); });
        }
    }
    const auto serve = [&] {
        ready();
        // Never outlive a test run that forgot to stop us.
        QTimer::singleShot(60000, &application, &QCoreApplication::quit);
        return application.exec();
    };
    if (mode == QLatin1String("fakebus") && args.size() == 3) {
        FakeBus fake(args.at(1), args.at(2).toInt());
        return serve();
    }

    std::unique_ptr<QObject> served;
    QString service, path;
    if (mode == QLatin1String("systemd") || mode == QLatin1String("silent")) {
        served = std::make_unique<Manager>(args.value(1), mode == QLatin1String("systemd"));
        service = QStringLiteral("org.freedesktop.systemd1");
        path = QStringLiteral("/org/freedesktop/systemd1");
    } else if (mode == QLatin1String("a11y") && args.size() == 2) {
        service = QStringLiteral("org.a11y.Bus");
        path = QStringLiteral("/org/a11y/bus");
    } else if (mode == QLatin1String("probe")) {
        served = std::make_unique<Probe>();
        service = QStringLiteral("org.trox.EnvProbe");
        path = QStringLiteral("/probe");
    } else {
        std::fprintf(stderr, "unknown mode\n");
        return 2;
    }
    // A bus-activated probe is told its bus apart from the session's.
    const QByteArray starter = qgetenv("DBUS_STARTER_ADDRESS");
    QDBusConnection connection = QDBusConnection::connectToBus(
        QString::fromLatin1(starter.isEmpty() ? qgetenv("DBUS_SESSION_BUS_ADDRESS") : starter), "helper");
    AccessibilityService accessibility(args.value(1));
    const bool registered =
        served ? connection.registerObject(path, served.get(), QDBusConnection::ExportAllSlots)
               : connection.registerVirtualObject(path, &accessibility);
    if (!registered || !connection.registerService(service)) {
        std::fprintf(stderr, "cannot serve %s\n", qPrintable(service));
        return 1;
    }
    return serve();
}

#include "storehelper.moc"
