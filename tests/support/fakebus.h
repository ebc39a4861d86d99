#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QtGlobal>

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

// A socket posing as a session bus that answers only so far, then goes silent:
//  0 accepts and never answers,
//  1 answers authentication only,
//  2 also answers a bare probe's Hello, but never the descriptor negotiation a libdbus client asks
//    for first (so only a client that skips it would get that far),
//  3 completes any handshake and Hello, and never answers a call.
// -1 makes no socket at all.
class FakeBus
{
public:
    FakeBus(const QString &path, int answers)
    {
        if (answers < 0)
            return;
        m_fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un name{};
        name.sun_family = AF_UNIX;
        qstrncpy(name.sun_path, QFile::encodeName(path).constData(), sizeof name.sun_path);
        if (bind(m_fd, reinterpret_cast<sockaddr *>(&name), sizeof name) != 0 || listen(m_fd, 8) != 0)
            qWarning("fake bus: %s", strerror(errno));
        if (answers > 0)
            m_peer = std::thread([fd = m_fd, answers] {
                // Every client is served until the listening socket is shut down.
                for (int peer; (peer = accept(fd, nullptr, nullptr)) >= 0; close(peer))
                    serve(peer, answers);
            });
    }
    ~FakeBus()
    {
        if (m_fd >= 0)
            shutdown(m_fd, SHUT_RDWR);
        if (m_peer.joinable())
            m_peer.join();
        if (m_fd >= 0)
            close(m_fd);
    }
    FakeBus(const FakeBus &) = delete;
    FakeBus &operator=(const FakeBus &) = delete;

private:
    static void serve(int peer, int answers)
    {
        QByteArray in;
        const auto more = [&] {
            char buffer[256];
            const ssize_t got = recv(peer, buffer, sizeof buffer, 0);
            in.append(buffer, int(qMax<ssize_t>(got, 0)));
            return got > 0;
        };
        const auto reply = [&](const char *bytes, size_t size) {
            send(peer, bytes, size, MSG_NOSIGNAL);
        };
        for (qsizetype end; (end = in.indexOf("\r\n")) >= 0 || more();) {
            if (end < 0)
                continue;
            const QByteArray line = in.left(end);
            in.remove(0, end + 2);
            if (line.endsWith("AUTH EXTERNAL")) // no identity yet: asked for, as a bus does
                reply("DATA\r\n", 6);
            else if (line.contains("AUTH") || line.startsWith("DATA"))
                reply("OK 0123456789abcdef0123456789abcdef\r\n", 37);
            else if (line == "NEGOTIATE_UNIX_FD" && answers >= 3)
                reply("AGREE_UNIX_FD\r\n", 15);
            else if (line != "BEGIN" || answers < 2 || (in.size() < 16 && !more()))
                break;
            else {
                // A method return to Hello (serial 1) naming the client ":1.1"; then silence.
                reply("l\x02\x00\x01\x09\0\0\0\x01\0\0\0\x0f\0\0\0\x05\x01u\0\x01\0\0\0"
                      "\x08\x01g\0\x01s\0\0\x04\0\0\0:1.1\0",
                      41);
                break;
            }
        }
        drain(peer);
    }
    static void drain(int peer)
    {
        char buffer[256];
        while (recv(peer, buffer, sizeof buffer, 0) > 0) {
        }
    }

    int m_fd = -1;
    std::thread m_peer;
};
