#include "sessionannouncer.h"

#include "../machinestore.h"
#include "../storelog.h"
#include "../ValueRules.h"
#include "busprobe.h"

#include <QCoreApplication>
#include <QDebug>
#include <QEventLoop>
#include <QThread>

#include <algorithm>
#include <cstdlib>
#include <thread>
#include <xcb/xcb.h>

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

// What the bus carries in a string: UTF-8 with neither NUL nor the noncharacters sd-bus refuses. A
// value that is not would fail the whole call, losing every other value of it.
bool busText(const QString &text)
{
    const QList<uint> codePoints = text.toUcs4();
    return std::none_of(codePoints.cbegin(), codePoints.cend(),
                        [](uint c) { return c == 0 || ValueRules::isNoncharacter(char32_t(c)); });
}

} // namespace

void announce(const QList<QPair<QString, QString>> &variables, int timeoutMs)
{
    QList<QPair<QByteArray, QByteArray>> sent;
    for (const auto &[name, value] : variables) {
        if (busText(name) && busText(value))
            sent.append({name.toUtf8(), value.toUtf8()});
        else
            qCDebug(storeLog, "The environment announcement leaves %s out: the bus cannot carry its value.",
                    qPrintable(name));
    }
    if (sent.isEmpty())
        return;
    const auto activation = [&sent](sd_bus_message *message) {
        int appended = sd_bus_message_open_container(message, SD_BUS_TYPE_ARRAY, "{ss}");
        for (const auto &[name, value] : std::as_const(sent)) {
            if (appended >= 0)
                appended = sd_bus_message_append(message, "{ss}", name.constData(), value.constData());
        }
        return appended < 0 ? appended : sd_bus_message_close_container(message);
    };
    const auto manager = [&sent](sd_bus_message *message) {
        int appended = sd_bus_message_open_container(message, SD_BUS_TYPE_ARRAY, "s");
        for (const auto &[name, value] : std::as_const(sent)) {
            if (appended >= 0)
                appended = sd_bus_message_append_basic(message, SD_BUS_TYPE_STRING,
                                                       (name + '=' + value).constData());
        }
        return appended < 0 ? appended : sd_bus_message_close_container(message);
    };
    const QList<BusProbe::Call> calls{{"org.freedesktop.DBus", "/org/freedesktop/DBus",
                                       "org.freedesktop.DBus", "UpdateActivationEnvironment", activation},
                                      {"org.freedesktop.systemd1", "/org/freedesktop/systemd1",
                                       "org.freedesktop.systemd1.Manager", "SetEnvironment", manager, false}};

    const BusProbe::Exchange result = exchange(BusProbe::sessionAddress(), calls, timeoutMs);
    if (result.address.isEmpty()) {
        qCDebug(storeLog, "The environment change was not announced: there is no session bus (%s).",
                qPrintable(result.why));
        return;
    }
    for (qsizetype i = 0; i < calls.size(); ++i) {
        if (!result.errors.at(i).isEmpty())
            qCDebug(storeLog, "The environment announcement %s.%s failed: %s.",
                    calls.at(i).interface.constData(), calls.at(i).member.constData(),
                    qPrintable(result.errors.at(i)));
    }
}

} // namespace SessionAnnouncer

namespace {

// A working bus answers within milliseconds; this is what a stalled one costs at start-up.
const int startupProbeTimeoutMs = 500;

// The accessibility bus the X server names on the root window, where the toolkit's bridge also looks
// (it is how a process of another user finds the desktop's). Empty without X or without the name.
QString rootWindowBus()
{
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (qEnvironmentVariableIsEmpty("DISPLAY") || !(platform.isEmpty() || platform.startsWith("xcb")))
        return QString();
    int screenNumber = 0;
    xcb_connection_t *connection = xcb_connect(nullptr, &screenNumber);
    QByteArray address;
    if (!xcb_connection_has_error(connection)) {
        xcb_screen_iterator_t screen = xcb_setup_roots_iterator(xcb_get_setup(connection));
        for (; screen.rem && screenNumber > 0; --screenNumber)
            xcb_screen_next(&screen);
        const char name[] = "AT_SPI_BUS";
        xcb_intern_atom_reply_t *atom = xcb_intern_atom_reply(
            connection, xcb_intern_atom(connection, true, sizeof name - 1, name), nullptr);
        if (screen.rem && atom && atom->atom != XCB_NONE) {
            xcb_get_property_reply_t *property = xcb_get_property_reply(
                connection,
                xcb_get_property(connection, false, screen.data->root, atom->atom, XCB_ATOM_STRING, 0, 1024),
                nullptr);
            if (property && property->format == 8)
                address = QByteArray(static_cast<const char *>(xcb_get_property_value(property)),
                                     xcb_get_property_value_length(property));
            free(property);
        }
        free(atom);
    }
    xcb_disconnect(connection);
    return QString::fromLatin1(address);
}

} // namespace

void avoidSilentSessionBus()
{
    // The bridge takes AT_SPI_BUS_ADDRESS, when set, instead of asking the session bus or the X
    // server where the accessibility bus is; an address with no transport fails at once, without a
    // wait. It connects to the session bus first, and then to every accessibility bus it is told of.
    const char *const variable = "AT_SPI_BUS_ADDRESS";
    const auto disable = [variable](const QString &address, const QString &why) {
        qCDebug(storeLog, "Starting without accessibility support: the bus at '%s' does not answer (%s).",
                qPrintable(address), qPrintable(why));
        qputenv(variable, "disabled:");
    };
    const QString silent = QStringLiteral("no answer");
    QStringList accessibility;
    const QString preset = qEnvironmentVariable(variable);
    const QString session = BusProbe::sessionAddress();
    if (!preset.isEmpty()) {
        accessibility.append(preset);
    } else if (BusProbe::anyListening(session)) {
        // The bridge's own questions: is the accessibility service there, is it on, where is its bus.
        // Without the service the last two fail at once; with it, each must answer.
        const auto service = [](const char *interface, const char *member) {
            return BusProbe::Call{"org.a11y.Bus", "/org/a11y/bus", interface, member, {}, false};
        };
        BusProbe::Call enabled = service("org.freedesktop.DBus.Properties", "Get");
        enabled.arguments = [](sd_bus_message *message) {
            return sd_bus_message_append(message, "ss", "org.a11y.Status", "IsEnabled");
        };
        const BusProbe::Exchange exchange = BusProbe::call(session,
                                                           {BusProbe::busCall("NameHasOwner", "org.a11y.Bus"),
                                                            enabled, service("org.a11y.Bus", "GetAddress")},
                                                           startupProbeTimeoutMs);
        const qsizetype unanswered = exchange.errors.indexOf(silent);
        if (exchange.address.isEmpty() || unanswered >= 0)
            return disable(session,
                           exchange.address.isEmpty() ? exchange.why : exchange.errors.at(unanswered));
        if (exchange.answers.at(0) == "1")
            accessibility.append(QString::fromUtf8(exchange.answers.at(2)));
    }
    if (preset.isEmpty())
        accessibility.append(rootWindowBus());
    for (const QString &address : std::as_const(accessibility)) {
        if (!BusProbe::anyListening(address))
            continue; // nothing listens: a connection fails at once as it is
        const BusProbe::Exchange exchange = BusProbe::call(
            address, {BusProbe::busCall("NameHasOwner", "org.a11y.atspi.Registry")}, startupProbeTimeoutMs);
        if (exchange.address.isEmpty() || exchange.errors.constFirst() == silent)
            return disable(address, exchange.address.isEmpty() ? exchange.why : silent);
    }
}
