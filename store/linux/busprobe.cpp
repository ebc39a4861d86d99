#include "busprobe.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QStringList>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace BusProbe {

namespace {

QByteArray unescape(const QByteArray &value)
{
    return QByteArray::fromPercentEncoding(value);
}

// The socket address of one "unix:path=..." or "unix:abstract=..." entry.
bool socketAddress(const QString &address, sockaddr_un &socketName, socklen_t &length, QString *why)
{
    const QByteArray entry = address.trimmed().toUtf8();
    if (!entry.startsWith("unix:")) {
        *why = QStringLiteral("transport of '%1' not supported").arg(address);
        return false;
    }
    std::memset(&socketName, 0, sizeof socketName);
    socketName.sun_family = AF_UNIX;
    for (const QByteArray &pair : entry.mid(5).split(',')) {
        const qsizetype equals = pair.indexOf('=');
        const QByteArray key = pair.left(equals);
        const QByteArray value = unescape(pair.mid(equals + 1));
        const bool abstract = key == "abstract";
        if (equals < 0 || (key != "path" && !abstract))
            continue;
        const qsizetype offset = abstract ? 1 : 0;
        if (value.isEmpty() || value.contains('\0') ||
            value.size() + offset + 1 > qsizetype(sizeof socketName.sun_path)) {
            *why = QStringLiteral("bad socket name in '%1'").arg(address);
            return false;
        }
        std::memcpy(socketName.sun_path + offset, value.constData(), size_t(value.size()));
        length = socklen_t(offsetof(sockaddr_un, sun_path) + offset + value.size() + (abstract ? 0 : 1));
        return true;
    }
    *why = QStringLiteral("no socket named in '%1'").arg(address);
    return false;
}

class Deadline
{
public:
    explicit Deadline(int ms)
        : m_ms(ms)
    {
        m_clock.start();
    }
    int left() const { return int(qMax<qint64>(0, m_ms - m_clock.elapsed())); }

private:
    int m_ms;
    QElapsedTimer m_clock;
};

bool waitFor(int fd, short events, const Deadline &deadline)
{
    for (;;) {
        pollfd wanted{fd, events, 0};
        const int ready = poll(&wanted, 1, deadline.left());
        if (ready < 0 && errno == EINTR)
            continue;
        return ready > 0 && (wanted.revents & events);
    }
}

bool sendAll(int fd, const QByteArray &bytes, const Deadline &deadline)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        if (!waitFor(fd, POLLOUT, deadline))
            return false;
        const ssize_t put = send(fd, bytes.constData() + done, size_t(bytes.size() - done), MSG_NOSIGNAL);
        if (put < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (put <= 0)
            return false;
        done += put;
    }
    return true;
}

// Reads until the buffer holds at least `wanted` bytes or ends with "\r\n" when wanted is 0.
bool receive(int fd, QByteArray &buffer, qsizetype wanted, const Deadline &deadline)
{
    while (wanted ? buffer.size() < wanted : !buffer.endsWith("\r\n")) {
        if (buffer.size() > 4096 || !waitFor(fd, POLLIN, deadline))
            return false;
        char chunk[512];
        const ssize_t got = recv(fd, chunk, sizeof chunk, 0);
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (got <= 0)
            return false;
        buffer.append(chunk, got);
    }
    return true;
}

void appendUint32(QByteArray &message, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        message.append(char((value >> (8 * i)) & 0xFF));
}

void pad(QByteArray &message, int alignment)
{
    while (message.size() % alignment)
        message.append('\0');
}

// org.freedesktop.DBus.Hello, little-endian, serial 1, no body.
QByteArray helloMessage()
{
    QByteArray message("l\x01\x00\x01", 4);
    appendUint32(message, 0);
    appendUint32(message, 1);
    appendUint32(message, 0); // header field array length, filled in below
    const struct
    {
        char code;
        char type;
        const char *text;
    } fields[] = {{1, 'o', "/org/freedesktop/DBus"},
                  {2, 's', "org.freedesktop.DBus"},
                  {3, 's', "Hello"},
                  {6, 's', "org.freedesktop.DBus"}};
    for (const auto &field : fields) {
        pad(message, 8);
        message.append(field.code);
        message.append('\x01');
        message.append(field.type);
        message.append('\0');
        appendUint32(message, quint32(std::strlen(field.text)));
        message.append(field.text);
        message.append('\0');
    }
    const quint32 fieldBytes = quint32(message.size() - 16);
    for (int i = 0; i < 4; ++i)
        message[12 + i] = char((fieldBytes >> (8 * i)) & 0xFF);
    pad(message, 8);
    return message;
}

bool answers(const QString &address, int timeoutMs, QString *why)
{
    sockaddr_un socketName;
    socklen_t length = 0;
    if (!socketAddress(address, socketName, length, why))
        return false;
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        *why = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    const Deadline deadline(timeoutMs);
    bool ok = false;
    if (connect(fd, reinterpret_cast<const sockaddr *>(&socketName), length) != 0) {
        *why = QStringLiteral("cannot connect to '%1': %2")
                   .arg(address, QString::fromLocal8Bit(std::strerror(errno)));
    } else {
        QByteArray reply;
        const QByteArray uid = QByteArray::number(quint64(geteuid())).toHex();
        ok = sendAll(fd, QByteArray("\0AUTH EXTERNAL ", 15) + uid + "\r\n", deadline) &&
             receive(fd, reply, 0, deadline) && reply.startsWith("OK ");
        if (ok) {
            reply.clear();
            ok = sendAll(fd, "BEGIN\r\n" + helloMessage(), deadline) && receive(fd, reply, 16, deadline);
        }
        if (!ok)
            *why = QStringLiteral("'%1' did not answer within %2 ms").arg(address).arg(timeoutMs);
    }
    close(fd);
    return ok;
}

} // namespace

QString firstAnswering(const QString &addresses, int timeoutMs, QString *why)
{
    const Deadline deadline(timeoutMs);
    QStringList reasons;
    for (const QString &address : addresses.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        QString reason;
        if (answers(address, deadline.left(), &reason))
            return address.trimmed();
        reasons.append(reason);
    }
    *why = reasons.isEmpty() ? QStringLiteral("no bus address") : reasons.join(QLatin1String("; "));
    return QString();
}

bool anyListening(const QString &addresses)
{
    for (const QString &address : addresses.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        sockaddr_un socketName;
        socklen_t length = 0;
        QString why;
        if (!socketAddress(address, socketName, length, &why))
            continue;
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0)
            return true; // cannot tell: let the full probe decide
        // A unix socket connects at once or not at all; a full backlog still means a listener.
        const bool listening = connect(fd, reinterpret_cast<const sockaddr *>(&socketName), length) == 0 ||
                               errno == EAGAIN || errno == EINPROGRESS;
        close(fd);
        if (listening)
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
