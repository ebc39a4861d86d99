#include "busprobe.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>

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

// Reads until the buffer holds at least `wanted` bytes or, when wanted is 0, ends with "\r\n" (an
// authentication line, which is short).
bool receive(int fd, QByteArray &buffer, qsizetype wanted, const Deadline &deadline)
{
    while (wanted ? buffer.size() < wanted : !buffer.endsWith("\r\n")) {
        if ((!wanted && buffer.size() > 4096) || !waitFor(fd, POLLIN, deadline))
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

// Little-endian, at `at` of bytes already there (a length known only once what follows is written).
void setUint32(QByteArray &message, qsizetype at, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        message[at + i] = char((value >> (8 * i)) & 0xFF);
}

void appendUint32(QByteArray &message, quint32 value)
{
    message.append(4, '\0');
    setUint32(message, message.size() - 4, value);
}

void pad(QByteArray &message, int alignment)
{
    while (message.size() % alignment)
        message.append('\0');
}

void appendString(QByteArray &message, const QByteArray &text)
{
    pad(message, 4);
    appendUint32(message, quint32(text.size()));
    message.append(text);
    message.append('\0');
}

// A string the bus accepts: valid UTF-8 without NUL. Anything else would make the bus drop the
// connection, losing every other value of the same call with it.
QByteArray busString(const QString &text)
{
    QByteArray bytes = text.toUtf8();
    bytes.replace('\0', QByteArray());
    return bytes;
}

QByteArray methodCall(const Call &call, quint32 serial)
{
    QByteArray message("l\x01\x00\x01", 4);
    if (!call.autoStart)
        message[2] = '\x02';
    appendUint32(message, quint32(call.body.size()));
    appendUint32(message, serial);
    appendUint32(message, 0); // header field array length, filled in below
    const auto field = [&](char code, char type, const QByteArray &value) {
        pad(message, 8);
        message.append(code);
        message.append('\x01');
        message.append(type);
        message.append('\0');
        if (type == 'g') {
            message.append(char(value.size()));
            message.append(value);
            message.append('\0');
        } else {
            appendString(message, value);
        }
    };
    field(1, 'o', call.path.toUtf8());
    field(2, 's', call.interface.toUtf8());
    field(3, 's', call.member.toUtf8());
    field(6, 's', call.destination.toUtf8());
    if (!call.signature.isEmpty())
        field(8, 'g', call.signature);
    setUint32(message, 12, quint32(message.size() - 16));
    pad(message, 8);
    return message + call.body;
}

struct Reply
{
    char type = 0; // 2 method return, 3 error
    quint32 replySerial = 0;
    QString error;
};

// Takes one whole message off the front of the buffer. False when more bytes are needed; *broken
// when the bytes cannot be a message (a bus speaking something else, or an absurd size).
bool takeMessage(QByteArray &buffer, Reply &reply, bool *broken)
{
    if (buffer.size() < 16)
        return false;
    const bool little = buffer.at(0) == 'l';
    if (!little && buffer.at(0) != 'B') {
        *broken = true;
        return false;
    }
    const auto number = [&](qsizetype at) -> quint32 {
        quint32 value = 0;
        for (int i = 0; i < 4; ++i)
            value |= quint32(quint8(buffer.at(at + (little ? i : 3 - i)))) << (8 * i);
        return value;
    };
    const quint32 bodyBytes = number(4);
    const quint32 fieldBytes = number(12);
    const quint32 limit = 1u << 20;
    if (bodyBytes > limit || fieldBytes > limit) {
        *broken = true;
        return false;
    }
    const qsizetype fieldsEnd = 16 + qsizetype(fieldBytes);
    const qsizetype headerEnd = (fieldsEnd + 7) & ~qsizetype(7);
    const qsizetype total = headerEnd + qsizetype(bodyBytes);
    if (buffer.size() < total)
        return false;

    reply = Reply();
    reply.type = buffer.at(1);
    qsizetype at = 16;
    QByteArray errorName;
    while (at < fieldsEnd) {
        at = (at + 7) & ~qsizetype(7);
        if (at + 4 > fieldsEnd)
            break;
        const char code = buffer.at(at);
        const int signatureLength = quint8(buffer.at(at + 1));
        if (signatureLength != 1)
            break;
        const char type = buffer.at(at + 2);
        at += 4;
        if (type == 'u') {
            if (at + 4 > fieldsEnd)
                break;
            if (code == 5)
                reply.replySerial = number(at);
            at += 4;
        } else if (type == 's' || type == 'o') {
            at = (at + 3) & ~qsizetype(3);
            if (at + 4 > fieldsEnd)
                break;
            const qsizetype length = qsizetype(number(at));
            if (length > fieldsEnd - at - 5)
                break;
            if (code == 4)
                errorName = buffer.mid(at + 4, length);
            at += 4 + length + 1;
        } else if (type == 'g') {
            at += 1 + quint8(buffer.at(at)) + 1;
        } else {
            break; // no field the bus sends to a client has another type
        }
    }
    if (reply.type == 3) {
        reply.error = QString::fromUtf8(errorName);
        if (bodyBytes >= 5) {
            const qsizetype length = qsizetype(number(headerEnd));
            if (length <= qsizetype(bodyBytes) - 5)
                reply.error += QLatin1String(": ") + QString::fromUtf8(buffer.mid(headerEnd + 4, length));
        }
    }
    buffer.remove(0, total);
    return true;
}

// Authenticates as this process's user, negotiates descriptor passing and registers with Hello, as
// a libdbus client does; the open socket on success, -1 otherwise.
int connectAndRegister(const QString &address, const Deadline &deadline, int timeoutMs, QString *why)
{
    sockaddr_un socketName;
    socklen_t length = 0;
    if (!socketAddress(address, socketName, length, why))
        return -1;
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        *why = QString::fromLocal8Bit(std::strerror(errno));
        return -1;
    }
    if (connect(fd, reinterpret_cast<const sockaddr *>(&socketName), length) != 0) {
        *why = QStringLiteral("cannot connect to '%1': %2")
                   .arg(address, QString::fromLocal8Bit(std::strerror(errno)));
        close(fd);
        return -1;
    }
    QByteArray line;
    const QByteArray uid = QByteArray::number(quint64(geteuid())).toHex();
    bool ok = sendAll(fd, QByteArray("\0AUTH EXTERNAL ", 15) + uid + "\r\n", deadline) &&
              receive(fd, line, 0, deadline) && line.startsWith("OK ");
    if (ok) {
        line.clear();
        ok = sendAll(fd, "NEGOTIATE_UNIX_FD\r\n", deadline) && receive(fd, line, 0, deadline);
    }
    if (ok) {
        ok = sendAll(fd, "BEGIN\r\n" + methodCall(busCall(QStringLiteral("Hello")), 1), deadline);
        QByteArray buffer;
        Reply reply;
        bool broken = false;
        while (ok && reply.replySerial != 1) {
            while (ok && !takeMessage(buffer, reply, &broken))
                ok = !broken && receive(fd, buffer, buffer.size() + 1, deadline);
        }
        ok = ok && reply.type == 2;
    }
    if (!ok) {
        *why = QStringLiteral("'%1' did not answer within %2 ms").arg(address).arg(timeoutMs);
        close(fd);
        return -1;
    }
    return fd;
}

} // namespace

Call busCall(const QString &member, const QByteArray &signature, const QByteArray &body)
{
    const QString bus = QStringLiteral("org.freedesktop.DBus");
    return {bus, QStringLiteral("/org/freedesktop/DBus"), bus, member, signature, body, true};
}

QByteArray stringArgument(const QString &text)
{
    QByteArray body;
    appendString(body, busString(text));
    return body;
}

QByteArray stringArrayArgument(const QStringList &texts)
{
    QByteArray body;
    appendUint32(body, 0);
    for (const QString &text : texts)
        appendString(body, busString(text));
    setUint32(body, 0, quint32(body.size() - 4));
    return body;
}

QByteArray stringDictionaryArgument(const QList<QPair<QString, QString>> &map)
{
    QByteArray body;
    appendUint32(body, 0);
    pad(body, 8); // entries are structs: the padding before the first is not part of the length
    const qsizetype first = body.size();
    for (const auto &[key, value] : map) {
        pad(body, 8);
        appendString(body, busString(key));
        appendString(body, busString(value));
    }
    setUint32(body, 0, quint32(body.size() - first));
    return body;
}

Exchange call(const QString &addresses, const QList<Call> &calls, int timeoutMs)
{
    Exchange exchange;
    const Deadline deadline(timeoutMs);
    QStringList reasons;
    int fd = -1;
    for (const QString &address : addresses.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        QString reason;
        fd = connectAndRegister(address, deadline, timeoutMs, &reason);
        if (fd >= 0) {
            exchange.address = address.trimmed();
            break;
        }
        reasons.append(reason);
    }
    if (fd < 0) {
        exchange.why =
            reasons.isEmpty() ? QStringLiteral("no bus address") : reasons.join(QLatin1String("; "));
        return exchange;
    }

    QByteArray out;
    for (qsizetype i = 0; i < calls.size(); ++i) {
        out += methodCall(calls.at(i), quint32(i + 2));
        exchange.errors.append(QStringLiteral("no answer"));
    }
    qsizetype pending = calls.size();
    QByteArray buffer;
    bool ok = sendAll(fd, out, deadline);
    while (ok && pending > 0) {
        Reply reply;
        bool broken = false;
        if (!takeMessage(buffer, reply, &broken)) {
            ok = !broken && receive(fd, buffer, buffer.size() + 1, deadline);
            continue;
        }
        const qsizetype index = qsizetype(reply.replySerial) - 2;
        if ((reply.type != 2 && reply.type != 3) || index < 0 || index >= calls.size())
            continue; // a signal such as NameAcquired, or a reply to nothing asked
        if (exchange.errors.at(index) == QLatin1String("no answer"))
            --pending;
        exchange.errors[index] = reply.type == 2 ? QString() : reply.error;
    }
    close(fd);
    return exchange;
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
