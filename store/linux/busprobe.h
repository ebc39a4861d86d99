#pragma once

#include <QString>

// libdbus waits without any time limit while it authenticates and registers a new connection, so a
// bus that accepts connections but never answers (a stopped or wedged daemon) would hang the caller.
// The probe walks the same steps itself, on its own socket and within a deadline, first.
namespace BusProbe {

// The first address of a D-Bus address list ("a;b;...") whose server authenticates this process and
// answers its Hello within timeoutMs; empty when none does, with the reason in *why. Only unix
// sockets (path= and abstract=) are tried: a session bus offers nothing else on Linux, and other
// transports could not be bounded the same way.
QString firstAnswering(const QString &addresses, int timeoutMs, QString *why);

// Whether any unix socket of the address list accepts a connection at all: a quick, non-blocking
// answer for the common case of no session bus, before anything is waited for.
bool anyListening(const QString &addresses);

// The session bus address a client uses: DBUS_SESSION_BUS_ADDRESS, otherwise the socket
// $XDG_RUNTIME_DIR/bus when it exists. Never an address that would launch a new bus.
QString sessionAddress();

} // namespace BusProbe
