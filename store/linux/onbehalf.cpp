#include "../machinestore.h"
#include "../storelog.h"
#include "../ValueRules.h"
#include "atomicfile.h"
#include "envfile.h"
#include "machinepaths.h"
#include "safeopen.h"

#include <QDateTime>
#include <QFile>
#include <QLocale>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

// What a root run does for the person who started it, and the record it leaves of what it changed.

namespace {

struct Invoker
{
    uid_t uid = 0;
    gid_t gid = 0;
    QByteArray name;
    QByteArray home;
    const char *how = nullptr; // null: the process acts for no other user
};

// Only a root process is asked: pkexec and sudo set these themselves, over anything the caller had.
Invoker invoker()
{
    Invoker found;
    if (geteuid() != 0)
        return found;
    const passwd *entry = nullptr;
    for (const auto &[variable, how] : {std::pair{"PKEXEC_UID", "pkexec"}, std::pair{"SUDO_UID", "sudo"}}) {
        bool ok = false;
        const uint uid = qEnvironmentVariable(variable).toUInt(&ok);
        if (ok && uid != 0 && (entry = getpwuid(uid))) {
            found.how = how;
            break;
        }
    }
    if (!entry && qEnvironmentVariableIsSet("SUDO_USER") &&
        (entry = getpwnam(qgetenv("SUDO_USER").constData())) && entry->pw_uid != 0)
        found.how = "sudo";
    if (!found.how || !entry || !entry->pw_dir || entry->pw_dir[0] != '/') {
        found.how = nullptr;
        return found;
    }
    found.uid = entry->pw_uid;
    found.gid = entry->pw_gid;
    found.name = entry->pw_name;
    found.home = entry->pw_dir;
    return found;
}

// For its lifetime the process acts with the user's rights alone: their links and directories are
// then followed only as far as they could follow them themselves.
class ActingAs
{
public:
    explicit ActingAs(const Invoker &user)
    {
        m_groups.resize(qMax(getgroups(0, nullptr), 0));
        if (getgroups(int(m_groups.size()), m_groups.data()) < 0)
            return;
        m_gid = getegid();
        m_ok = setgroups(1, &user.gid) == 0 && setegid(user.gid) == 0 && seteuid(user.uid) == 0;
    }
    ~ActingAs()
    {
        // Back to root; a failure here would leave a root run weakened, never strengthened.
        if (seteuid(0) == 0) {
            (void)setegid(m_gid);
            (void)setgroups(m_groups.size(), m_groups.data());
        }
    }
    ActingAs(const ActingAs &) = delete;
    ActingAs &operator=(const ActingAs &) = delete;
    bool ok() const { return m_ok; }

private:
    QList<gid_t> m_groups;
    gid_t m_gid = 0;
    bool m_ok = false;
};

// The file without any assignment of the names; `removed` gets each name found with its value.
QByteArray withoutVariables(const QByteArray &contents, const QStringList &names,
                            QList<QPair<QString, QString>> &removed)
{
    removed.clear();
    QByteArray result;
    qsizetype copied = 0;
    const auto literal = [](const QByteArray &) {
        return std::optional<QByteArray>();
    };
    for (const EnvFile::Assignment &assignment : EnvFile::parse(contents)) {
        const QString name = QString::fromLatin1(assignment.name);
        if (!names.contains(name))
            continue;
        result += contents.mid(copied, assignment.begin - copied);
        copied = assignment.next;
        const QString value =
            QString::fromUtf8(EnvFile::loginValue(EnvFile::expand(assignment.value, literal)));
        removed.erase(std::remove_if(removed.begin(), removed.end(),
                                     [&name](const auto &entry) { return entry.first == name; }),
                      removed.end());
        removed.append({name, value});
    }
    result += contents.mid(copied);
    // A null result tells AtomicFile::edit to leave the file: a file emptied of its last line is
    // still an edit.
    return result.isNull() ? QByteArray("") : result;
}

} // namespace

InvokingUser removeInvokingUserVariables(const QStringList &names, bool dryRun)
{
    InvokingUser result;
    const Invoker user = invoker();
    if (!user.how || names.isEmpty())
        return result;
    result.account = QString::fromLocal8Bit(user.name);
    result.file = MachinePaths::machinePath(QFile::decodeName(user.home)) + QLatin1String("/.config/") +
                  QLatin1String(MachinePaths::userEnvironmentFile);

    const ActingAs acting(user);
    if (!acting.ok()) {
        result.error = EPERM;
        return result;
    }
    struct stat info;
    quint32 error = 0;
    const int fd = SafeOpen::openFile(result.file, true, info, error);
    QByteArray contents;
    if (fd >= 0) {
        error = SafeOpen::readAll(fd, contents, 1 << 20);
        close(fd);
    }
    if (error == ENOENT || error == ENOTDIR) // no file of their own: nothing hides anything
        return result;
    if (error) {
        result.error = error;
        return result;
    }
    withoutVariables(contents, names, result.removed);
    if (dryRun || result.removed.isEmpty())
        return result;
    AtomicFile::Options options;
    options.ownDirectories = true;
    // The file is edited as it was read; what another writer added meanwhile stays.
    const AtomicFile::Result written = AtomicFile::edit(result.file, options, [&](const QByteArray &current) {
        QList<QPair<QString, QString>> removedNow;
        return withoutVariables(current, names, removedNow);
    });
    if (written.error) {
        result.error = quint32(written.error);
        result.removed.clear();
    }
    return result;
}

void logChanges(const QStringList &changes)
{
    if (changes.isEmpty())
        return;
    const Invoker user = invoker();
    QString who = QStringLiteral("account %1").arg(accountName());
    if (user.how)
        who += QStringLiteral(" for %1 (%2)").arg(QString::fromLocal8Bit(user.name), QLatin1String(user.how));
    // One entry, one line: nothing in a value may start a line of its own in a text log.
    const QString message =
        ValueRules::printable(who + QLatin1String(": ") + changes.join(QLatin1String("; ")));
    // The syslog protocol as syslog(3) speaks it, to the socket below the prefix, so that a sandbox
    // keeps its entries from the machine's log. authpriv: values are not for every reader of the log.
    const int priority = (10 << 3) | 5;
    const QDateTime now = QDateTime::currentDateTime();
    const QByteArray stamp = QLocale::c().toString(now, QStringLiteral("MMM ")).toLatin1() +
                             QByteArray::number(now.date().day()).rightJustified(2, ' ') +
                             now.toString(QStringLiteral(" hh:mm:ss")).toLatin1();
    const QByteArray datagram = '<' + QByteArray::number(priority) + '>' + stamp + " trox_inst_env[" +
                                QByteArray::number(getpid()) + "]: " + message.toUtf8().left(60000);
    const QByteArray socketPath = QFile::encodeName(MachinePaths::machinePath(QStringLiteral("/dev/log")));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.size() >= qsizetype(sizeof address.sun_path))
        return;
    memcpy(address.sun_path, socketPath.constData(), size_t(socketPath.size()));
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return;
    // A log that is not there, or too busy to take the entry at once, does not hold up the write.
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 ||
        send(fd, datagram.constData(), size_t(datagram.size()), MSG_NOSIGNAL) < 0)
        qCDebug(storeLog, "The change was not logged: %s.", strerror(errno));
    close(fd);
}
