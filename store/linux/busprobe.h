#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

// libdbus waits without any time limit while it authenticates and registers a new connection, and a
// bus may answer one client and stall the next, so a bus that accepts connections but never answers
// (a stopped, wedged or hostile daemon) would hang any libdbus caller. This is a minimal client of
// its own instead: it walks the same handshake a libdbus client walks, makes method calls and reads
// their replies on its own socket, every step within one deadline. Only unix sockets (path= and
// abstract=) are tried: a session bus offers nothing else on Linux, and other transports could not
// be bounded the same way.
namespace BusProbe {

struct Call
{
    QString destination;
    QString path;
    QString interface;
    QString member;
    QByteArray signature; // of the body
    QByteArray body;      // little-endian, as the marshalling helpers below build it
    bool autoStart = true;
};

// A call to the bus itself, org.freedesktop.DBus.
Call busCall(const QString &member, const QByteArray &signature = {}, const QByteArray &body = {});

// Bodies of one argument.
QByteArray stringArgument(const QString &text);                                 // "s"
QByteArray stringArrayArgument(const QStringList &texts);                       // "as"
QByteArray stringDictionaryArgument(const QList<QPair<QString, QString>> &map); // "a{ss}"

struct Exchange
{
    QString address;    // the bus that answered; empty when none did
    QString why;        // why no bus answered
    QStringList errors; // one per call: empty when it succeeded, else the error or "no answer"
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
