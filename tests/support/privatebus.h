#pragma once

#include "sandbox.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>

// A session bus of the test's own (dbus-daemon), with a bus-activatable probe that reports its
// environment and, on request, a stand-in systemd user manager. Both are modes of a helper
// executable passed in: "systemd RECORD" records SetEnvironment calls, "silent" never answers,
// "probe" serves org.trox.EnvProbe.
class PrivateBus
{
public:
    PrivateBus(const QString &directory, const QString &helper)
        : m_directory(directory)
        , m_helper(helper)
    {
        Sandbox::writeFile(directory + "/services/org.trox.EnvProbe.service",
                           "[D-BUS Service]\nName=org.trox.EnvProbe\nExec=" + QFile::encodeName(helper) +
                               " probe\n");
        const QString config = directory + "/bus.conf";
        Sandbox::writeFile(
            config,
            QStringLiteral("<busconfig><type>session</type><listen>unix:path=%1/bus</listen>"
                           "<auth>EXTERNAL</auth><servicedir>%1/services</servicedir>"
                           "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                           "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n")
                .arg(directory)
                .toUtf8());
        m_daemon.start(QStringLiteral("dbus-daemon"),
                       {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                        QStringLiteral("--print-address")});
        if (m_daemon.waitForStarted(5000) && m_daemon.waitForReadyRead(5000))
            m_address = QString::fromUtf8(m_daemon.readLine().trimmed());
    }
    ~PrivateBus()
    {
        for (QProcess *process : {&m_peer, &m_daemon}) {
            if (process->state() == QProcess::NotRunning)
                continue;
            process->terminate();
            if (!process->waitForFinished(3000))
                process->kill();
            process->waitForFinished(3000);
        }
    }
    PrivateBus(const PrivateBus &) = delete;
    PrivateBus &operator=(const PrivateBus &) = delete;

    QString address() const { return m_address; }

    bool startManager(const QString &mode)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_address);
        m_peer.setProcessEnvironment(env);
        m_peer.start(m_helper, {mode, record()});
        const bool ready = m_peer.waitForReadyRead(5000) && m_peer.readLine().trimmed() == "ready";
        if (!ready)
            qWarning("peer: %s / daemon: %s", m_peer.readAllStandardError().constData(),
                     m_daemon.readAllStandardError().constData());
        return ready;
    }
    // What the stand-in manager received: each call's assignments, one a line, then ".".
    QString record() const { return m_directory + QLatin1String("/setenvironment.txt"); }

    QString probe(const QString &method, const QString &argument = QString()) const
    {
        QDBusConnection connection = QDBusConnection::connectToBus(m_address, QStringLiteral("tst"));
        QDBusMessage call =
            QDBusMessage::createMethodCall(QStringLiteral("org.trox.EnvProbe"), QStringLiteral("/probe"),
                                           QStringLiteral("org.trox.EnvProbe"), method);
        if (!argument.isNull())
            call << argument;
        const QDBusMessage reply = connection.call(call, QDBus::Block, 10000);
        QDBusConnection::disconnectFromBus(QStringLiteral("tst"));
        return reply.type() == QDBusMessage::ReplyMessage ? reply.arguments().value(0).toString()
                                                          : reply.errorMessage();
    }

private:
    QString m_directory;
    QString m_helper;
    QProcess m_daemon;
    QProcess m_peer;
    QString m_address;
};
