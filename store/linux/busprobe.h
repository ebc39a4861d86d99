#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <systemd/sd-bus.h>

// libdbus waits without any time limit while it authenticates and registers a new connection, and a
// bus may answer one client and stall the next, so a bus that accepts connections but never answers
// (a stopped, wedged or hostile daemon) would hang any libdbus caller. sd-bus connects, authenticates
// and calls without blocking when driven by its own processing loop, so every step here runs within
// one deadline. Only unix sockets are tried: a session bus offers nothing else on Linux, and the other
// transports sd-bus knows would reach the network or start a program named by an inherited variable.
namespace BusProbe {

struct Call
{
    QByteArray destination;
    QByteArray path;
    QByteArray interface;
    QByteArray member;
    // Appends the arguments; a negative errno when they cannot be sent, the call then fails alone.
    std::function<int(sd_bus_message *)> arguments;
    bool autoStart = true;
};

// A call to the bus itself, org.freedesktop.DBus, with one string argument.
Call busCall(const char *member, const QByteArray &argument);

struct Exchange
{
    QString address;    // the bus that answered; empty when none did
    QString why;        // why no bus answered
    QStringList errors; // one per call: empty when it succeeded, else the error or "no answer"
    // One per call: the reply's first argument when it is a string, or a boolean as "1"/"0"; null
    // otherwise.
    QList<QByteArray> answers;
};

// Connects to the first address of a D-Bus address list ("a;b;...") that completes the handshake
// and answers Hello, sends every call and waits for their replies, all within timeoutMs.
Exchange call(const QString &addresses, const QList<Call> &calls, int timeoutMs);

// Whether any unix socket of the address list accepts a connection at all: a quick, non-blocking
// answer for the common case of no session bus, before anything is waited for.
bool anyListening(const QString &addresses);

// The session bus address a client uses: DBUS_SESSION_BUS_ADDRESS, otherwise the socket
// $XDG_RUNTIME_DIR/bus when it exists. Never an address that would launch a new bus.
QString sessionAddress();

} // namespace BusProbe
