#include "busprobe.h"

#include <QElapsedTimer>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <vector>

namespace BusProbe {

namespace {

QList<QByteArray> unixEntries(const QString &addresses, QStringList *reasons)
{
    QList<QByteArray> entries;
    for (const QString &address : addresses.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QByteArray entry = address.trimmed().toUtf8();
        if (entry.startsWith("unix:") && !entry.contains('\0'))
            entries.append(entry);
        else
            reasons->append(QStringLiteral("transport of '%1' not supported").arg(address));
    }
    return entries;
}

// Runs the connection's own processing until `done`; false when it broke or the deadline passed.
// sd-bus never blocks inside sd_bus_process(): all waiting happens in sd_bus_wait(), bounded here.
bool drive(sd_bus *bus, const QElapsedTimer &clock, int timeoutMs, const std::function<bool()> &done)
{
    for (;;) {
        if (done())
            return true;
        const qint64 left = timeoutMs - clock.elapsed();
        if (left <= 0)
            return false;
        const int processed = sd_bus_process(bus, nullptr);
        if (processed < 0)
            return false;
        if (processed > 0)
            continue;
        const int waited = sd_bus_wait(bus, uint64_t(left) * 1000);
        if (waited < 0 && waited != -EINTR)
            return false;
    }
}

// Authenticates as this process's user, negotiates descriptor passing and registers with Hello, as
// a libdbus client does; null when that does not complete in time.
sd_bus *connectAndRegister(const QByteArray &address, const QElapsedTimer &clock, int timeoutMs,
                           QStringList *reasons)
{
    sd_bus *bus = nullptr;
    int started = sd_bus_new(&bus);
    if (started >= 0)
        started = sd_bus_set_address(bus, address.constData());
    if (started >= 0)
        started = sd_bus_set_bus_client(bus, 1);
    if (started >= 0)
        started = sd_bus_start(bus);
    if (started < 0) {
        reasons->append(
            QStringLiteral("cannot connect to '%1': %2")
                .arg(QString::fromUtf8(address), QString::fromLocal8Bit(std::strerror(-started))));
    } else if (!drive(bus, clock, timeoutMs, [bus] { return sd_bus_is_ready(bus) > 0; })) {
        reasons->append(QStringLiteral("'%1' did not answer within %2 ms")
                            .arg(QString::fromUtf8(address))
                            .arg(timeoutMs));
    } else {
        return bus;
    }
    sd_bus_close_unref(bus); // never a flush: that would wait on a bus that does not read
    return nullptr;
}

QByteArray firstArgument(sd_bus_message *reply)
{
    char type = 0;
    union {
        const char *text;
        int truth;
    } value;
    if (sd_bus_message_peek_type(reply, &type, nullptr) <= 0 || (type != 's' && type != 'b') ||
        sd_bus_message_read_basic(reply, type, &value) <= 0)
        return QByteArray();
    return type == 's' ? QByteArray(value.text) : QByteArray(value.truth ? "1" : "0");
}

struct Slot
{
    Exchange *exchange;
    qsizetype index;
    qsizetype *pending;
};

int onReply(sd_bus_message *reply, void *userdata, sd_bus_error *)
{
    const Slot &slot = *static_cast<const Slot *>(userdata);
    --*slot.pending;
    const sd_bus_error *error = sd_bus_message_get_error(reply);
    QString &outcome = slot.exchange->errors[slot.index];
    if (!error) {
        outcome.clear();
        slot.exchange->answers[slot.index] = firstArgument(reply);
    } else if (!sd_bus_error_has_names(error, SD_BUS_ERROR_NO_REPLY, SD_BUS_ERROR_TIMEOUT)) {
        // Those two are sd-bus's own word for a reply that did not come; anything else is the peer's.
        outcome = QString::fromUtf8(error->name);
        if (error->message)
            outcome += QLatin1String(": ") + QString::fromUtf8(error->message);
    }
    return 0;
}

} // namespace

Call busCall(const char *member, const QByteArray &argument)
{
    return {"org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", member,
            [argument](sd_bus_message *message) {
                return sd_bus_message_append_basic(message, SD_BUS_TYPE_STRING, argument.constData());
            }};
}

Exchange call(const QString &addresses, const QList<Call> &calls, int timeoutMs)
{
    Exchange exchange;
    QElapsedTimer clock;
    clock.start();
    QStringList reasons;
    sd_bus *bus = nullptr;
    for (const QByteArray &entry : unixEntries(addresses, &reasons)) {
        bus = connectAndRegister(entry, clock, timeoutMs, &reasons);
        if (bus) {
            exchange.address = QString::fromUtf8(entry);
            break;
        }
    }
    if (!bus) {
        exchange.why =
            reasons.isEmpty() ? QStringLiteral("no bus address") : reasons.join(QLatin1String("; "));
        return exchange;
    }

    qsizetype pending = 0;
    std::vector<Slot> slots(size_t(calls.size()), Slot{&exchange, 0, &pending});
    for (qsizetype i = 0; i < calls.size(); ++i) {
        const Call &call = calls.at(i);
        exchange.errors.append(QStringLiteral("no answer"));
        exchange.answers.append(QByteArray());
        slots[size_t(i)].index = i;
        sd_bus_message *message = nullptr;
        int sent =
            sd_bus_message_new_method_call(bus, &message, call.destination.constData(), call.path.constData(),
                                           call.interface.constData(), call.member.constData());
        if (sent >= 0)
            sent = sd_bus_message_set_auto_start(message, call.autoStart);
        if (sent >= 0 && call.arguments)
            sent = call.arguments(message);
        const qint64 left = qMax<qint64>(1, timeoutMs - clock.elapsed());
        if (sent >= 0)
            sent =
                sd_bus_call_async(bus, nullptr, message, onReply, &slots[size_t(i)], uint64_t(left) * 1000);
        sd_bus_message_unref(message);
        if (sent < 0)
            exchange.errors[i] = QStringLiteral("not sent: ") + QString::fromLocal8Bit(std::strerror(-sent));
        else
            ++pending;
    }
    drive(bus, clock, timeoutMs, [&pending] { return pending == 0; });
    sd_bus_close_unref(bus);
    return exchange;
}

bool anyListening(const QString &addresses)
{
    QStringList ignored;
    for (const QByteArray &entry : unixEntries(addresses, &ignored)) {
        // A unix socket connects at once or not at all, and sd_bus_start() waits for nothing more.
        sd_bus *bus = nullptr;
        const bool started = sd_bus_new(&bus) >= 0 && sd_bus_set_address(bus, entry.constData()) >= 0 &&
                             sd_bus_start(bus) >= 0;
        sd_bus_close_unref(bus);
        if (started)
            return true;
    }
    return false;
}

QString sessionAddress()
{
    const QString configured = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    if (!configured.isEmpty())
        return configured;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.isEmpty())
        return QString();
    const QString socketPath = runtime + QLatin1String("/bus");
    struct stat info;
    if (stat(QFile::encodeName(socketPath).constData(), &info) != 0 || !S_ISSOCK(info.st_mode))
        return QString();
    return QLatin1String("unix:path=") +
           QString::fromUtf8(QFile::encodeName(socketPath).toPercentEncoding("/", "~"));
}

} // namespace BusProbe
