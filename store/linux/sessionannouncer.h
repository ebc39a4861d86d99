#pragma once

#include <QList>
#include <QPair>
#include <QString>

// Hands new environment values to the session as dbus-update-activation-environment --systemd does:
// to the bus daemon's activation environment and to the systemd user manager. A missing bus or
// manager, or one that does not answer within the timeout, is only logged.
namespace SessionAnnouncer {

void announce(const QList<QPair<QString, QString>> &variables, int timeoutMs);

} // namespace SessionAnnouncer
