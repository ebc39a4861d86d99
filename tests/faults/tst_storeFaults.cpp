#include "../store/storetesting.h"
#include "loadwatcher.h"
#include "machinestore.h"
#include "modalcatcher.h"
#include "preferences.h"
#include "sandbox.h"
#include "trox_inst_envDialog.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTest>

#include <csignal>
#include <cstring>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>

// Every file Ok writes, each made unwritable in turn by a real fault of the file system: the file is
// left byte for byte as it was and the operator is told, or the variable lands per-user.
namespace {

enum Fault { Eperm, Erofs, Enospc, UnfinishedValue, ForeignLink, Fifo, Device };
enum Target { MachineEnv, BothEnv, Profile, SystemProfile, Settings };
const char *const faultNames[] = {
    "chattr +i", "read-only mount", "full tmpfs", "unfinished value", "link owned by another user",
    "FIFO",      "device"};
const char *const faultReasons[] = {
    "", "", "", "unfinished", "link owned by another user", "FIFO, device", "FIFO, device"};
// Each target's name, and what the warning names; the machine file's designed fallback, for root,
// reaches no other user.
const char *const targets[][3] = {
    {"machine environment", "OV_SERVER_ROOT, OV_WORKSTATION only for the account", "reaches no other user"},
    {"both environments", "OV_WORKSTATION", "OV_SERVER_ROOT"},
    {"xsv.ini", "xsv.ini", ""},
    {"trox_system.ini", "trox_system.ini", ""},
    {"preferences", "last known server", ""}};

// 64 KiB of lines no write may touch, so that a full tmpfs cannot take a second copy.
QByteArray padding(const char *comment)
{
    QByteArray lines;
    for (int i = 0; lines.size() < 65536; ++i)
        lines += comment + QByteArray(" keep line ") + QByteArray::number(i) + '\n';
    return lines;
}

QByteArray helperOutput(QProcess &process)
{
    process.waitForFinished(60000);
    return process.readAllStandardOutput();
}

} // namespace

class tst_storeFaults : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void unwritableFile_data();
    void unwritableFile();
    void killedWriter();
    void concurrentWriters_data();
    void concurrentWriters();
    void oddTargetsPreserved();
    void sharedFile_data();
    void sharedFile();

private:
    QString path(Target target, int which = 0) const;
    QStringList directories(Target target) const;
    bool inject(Fault fault, const QStringList &directories, QString *skip);
    void writeOldFiles();
    QVector<ModalCatcher::Seen> pressOk();

    std::unique_ptr<Sandbox> m_sandbox;
    QString m_root;
    QMap<QString, QByteArray> m_old;
    QStringList m_mounts;
    QStringList m_immutable;
    std::vector<std::unique_ptr<QProcess>> m_holders;
};

void tst_storeFaults::init()
{
    m_sandbox = std::make_unique<Sandbox>();
    m_root = m_sandbox->root() + "/systems";
    QVERIFY(QDir().mkpath(m_root + "/alpha/config/system"));
}

void tst_storeFaults::cleanup()
{
    for (const QString &file : std::as_const(m_immutable))
        shell("chattr -i \"$0\"", {file});
    for (auto it = m_mounts.crbegin(); it != m_mounts.crend(); ++it)
        shell("umount -l \"$0\"", {*it});
    m_holders.clear(); // kills the lock holders
    m_immutable.clear();
    m_mounts.clear();
    m_old.clear();
    m_sandbox.reset();
}

QString tst_storeFaults::path(Target target, int which) const
{
    const QString paths[] = {machineEnvFile(*m_sandbox), machineEnvFile(*m_sandbox),
                             m_sandbox->machine("/etc/trox/xsv.ini"),
                             m_root + "/alpha/config/system/trox_system.ini",
                             m_sandbox->machine("/etc/xdg/Quarnby Technology/trox_inst_env.conf")};
    return which ? userEnvFile(m_sandbox->userConfig()) : paths[target];
}

QStringList tst_storeFaults::directories(Target target) const
{
    QStringList result{QFileInfo(path(target)).absolutePath()};
    if (target == BothEnv)
        result.append(QFileInfo(path(target, 1)).absolutePath());
    return result;
}

void tst_storeFaults::writeOldFiles()
{
    const auto put = [this](const QString &file, const QByteArray &contents) {
        if (!QFile::exists(file) || m_old.contains(file))
            QVERIFY(Sandbox::writeFile(file, contents));
        m_old.insert(file, Sandbox::readFile(file));
    };
    put(path(MachineEnv), padding("#") + "OV_WORKSTATION=\"4\"\n");
    put(path(BothEnv, 1), padding("#"));
    put(path(Profile), "[Network]\nWorkstation=4\n" + padding(";"));
    put(path(SystemProfile), "[Network]\nWorkstation=4\n" + padding(";"));
    if (!QFile::exists(path(Settings))) {
        auto settings = openPreferences();
        settings->setValue("lastKnownServer/server", "/srv/main");
        settings->setValue("pad/lines", QString::fromLatin1(padding("x")));
    }
    m_old.insert(path(Settings), Sandbox::readFile(path(Settings)));
}

bool tst_storeFaults::inject(Fault fault, const QStringList &directories, QString *skip)
{
    QByteArray errors;
    const auto cannot = [&](const QString &why) {
        *skip = why + QString::fromLocal8Bit(errors);
        return false;
    };
    for (const QString &directory : directories) {
        QDir().mkpath(directory);
        if (fault == Enospc && !shell("mount -t tmpfs -o size=96k tmpfs \"$0\"", {directory}, &errors))
            return cannot("cannot mount a tmpfs here: ");
        if (fault == Enospc)
            m_mounts.append(directory);
    }
    writeOldFiles();
    for (const QString &directory : directories) {
        if (fault == Erofs) {
            if (!shell("mount --bind \"$0\" \"$0\"", {directory}, &errors))
                return cannot("cannot mount read-only here: ");
            m_mounts.append(directory);
            if (!shell("mount -o remount,bind,ro \"$0\"", {directory}, &errors))
                return cannot("cannot mount read-only here: ");
        }
        for (auto it = m_old.begin(); it != m_old.end(); ++it) {
            if (QFileInfo(it.key()).absolutePath() != directory)
                continue;
            const QByteArray name = QFile::encodeName(it.key());
            const QString real = m_sandbox->root() + "/real/" + QFileInfo(it.key()).fileName();
            if (fault == Eperm) {
                m_immutable.append(it.key());
                if (!shell("chattr +i \"$0\"", {it.key()}, &errors))
                    return cannot("no immutable files on this file system: ");
            } else if (fault == UnfinishedValue) {
                it.value() = padding("#") + "BROKEN=\"never closed\n";
                Sandbox::writeFile(it.key(), it.value());
            } else if (fault >= ForeignLink) {
                const bool planted =
                    fault == ForeignLink
                        ? QDir().mkpath(m_sandbox->root() + "/real") && QFile::rename(it.key(), real) &&
                              QFile::link(real, it.key()) && lchown(name.constData(), 65534, 65534) == 0
                    : fault == Fifo ? unlink(name.constData()) == 0 && mkfifo(name.constData(), 0644) == 0
                                    : unlink(name.constData()) == 0 &&
                                          mknod(name.constData(), S_IFCHR | 0644, makedev(1, 3)) == 0;
                if (!planted)
                    return cannot(QLatin1String("cannot plant a ") + QLatin1String(faultNames[fault]));
                if (fault != ForeignLink)
                    it.value() = QByteArray(faultNames[fault]);
            }
        }
    }
    return true;
}

QVector<ModalCatcher::Seen> tst_storeFaults::pressOk()
{
    Sandbox::setVariables(
        {"OV_ROOT=" + m_root, "OV_SYSTEM=alpha", "OV_SERVER_ROOT=/srv/main", "OV_WORKSTATION=4"});
    trox_inst_envDialog dialog;
    if (!LoadWatcher::showLoaded(dialog))
        qWarning("the dialog never loaded");
    dialog.workstation->setText("9");
    dialog.server->setText("/srv/new");
    ModalCatcher catcher;
    catcher.ignore(&dialog);
    QTest::mouseClick(dialog.ok, Qt::LeftButton);
    if (dialog.result() != QDialog::Accepted)
        qWarning("Ok did not close the dialog as accepted");
    return catcher.seen;
}

void tst_storeFaults::unwritableFile_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<int>("target");
    for (int fault : {Eperm, Erofs, Enospc, UnfinishedValue, ForeignLink, Fifo, Device}) {
        for (int target : {MachineEnv, BothEnv, Profile, SystemProfile, Settings}) {
            if (fault == UnfinishedValue && target > BothEnv)
                continue;
            QTest::addRow("%s, %s", faultNames[fault], targets[target][0]) << fault << target;
        }
    }
}

void tst_storeFaults::unwritableFile()
{
    QFETCH(int, fault);
    QFETCH(int, target);
    if (geteuid() != 0)
        QSKIP("only root can mount file systems and make files immutable");
    QString skip;
    if (!inject(Fault(fault), directories(Target(target)), &skip))
        QSKIP(qPrintable(skip));

    const auto seen = pressOk();
    const QString warning = seen.size() == 2 ? seen.first().text : QString();
    // Each faulted file unchanged, every other file written.
    for (auto it = m_old.cbegin(); it != m_old.cend(); ++it) {
        const bool faulted =
            directories(Target(target)).contains(QFileInfo(it.key()).absolutePath()) ||
            (it.key() == path(BothEnv, 1) && target != MachineEnv); // written only as fallback
        QFileInfo info(it.key());
        const QByteArray now = info.isSymLink() || info.isFile() ? Sandbox::readFile(it.key())
                               : fault >= Fifo                   ? QByteArray(faultNames[fault])
                                                                 : QByteArray();
        QVERIFY2(faulted ? now == it.value() : now != it.value(), qPrintable(it.key()));
    }
    QCOMPARE(seen.last().title, QStringLiteral("Information")); // the restart notice comes last
    for (const char *named : {targets[target][1], targets[target][2]})
        QVERIFY2(warning.contains(QLatin1String(named)), qPrintable(warning));
    if (target == MachineEnv)
        QVERIFY(Sandbox::readFile(path(BothEnv, 1))
                    .endsWith("OV_SERVER_ROOT=\"/srv/new\"\nOV_WORKSTATION=\"9\"\n"));
    const QString reason = fault >= UnfinishedValue
                               ? QLatin1String(faultReasons[fault])
                               : QString::fromLocal8Bit(std::strerror(fault == Eperm   ? EPERM
                                                                      : fault == Erofs ? EROFS
                                                                                       : ENOSPC));
    if (target != MachineEnv && target != Settings) // QSettings gives no reason
        QVERIFY2(warning.contains(reason), qPrintable(warning + " / " + reason));
}

void tst_storeFaults::killedWriter()
{
    // Two complete versions of each file; a kill at any moment must leave one of them.
    writeOldFiles();
    QMap<QString, QByteArray> versions[2];
    for (int round : {1, 0}) {
        const QString value = QLatin1String(round ? "B" : "A");
        setEnvironmentVariable("OV_ROOT", value);
        writeProfileString("Network", "Workstation", value, "xsv.ini");
        openPreferences()->setValue("lastKnownServer/server", value);
        for (Target target : {MachineEnv, Profile, Settings})
            versions[round].insert(path(target), Sandbox::readFile(path(target)));
    }
    // Where a killed save could leave scratch copies, seen apart from other programs' in a mount
    // namespace of the writer's own.
    const QString scratch = m_sandbox->root() + "/scratch";
    QVERIFY(QDir().mkpath(scratch + "/shm") && QDir().mkpath(scratch + "/tmp"));
    QStringList writerCommand{STORE_HELPER, "cycle"};
    if (geteuid() == 0 && !QStandardPaths::findExecutable("unshare").isEmpty())
        writerCommand = QStringList{"unshare",
                                    "--mount",
                                    "--propagation",
                                    "private",
                                    "sh",
                                    "-c",
                                    "mount --bind \"$0\" /dev/shm && TMPDIR=\"$1\" exec \"$2\" cycle",
                                    scratch + "/shm",
                                    scratch + "/tmp",
                                    STORE_HELPER};
    int trials = 0;
    for (; trials < 300; ++trials) {
        QProcess writer;
        writer.start(writerCommand.first(), writerCommand.mid(1));
        // A writer killed inside QLockFile leaves its lock empty, for the next save to clear.
        QVERIFY(writer.waitForReadyRead(10000));
        usleep(useconds_t(QRandomGenerator::global()->bounded(20000)));
        ::kill(pid_t(writer.processId()), SIGKILL);
        writer.waitForFinished(5000);
        for (auto it = versions[0].cbegin(); it != versions[0].cend(); ++it) {
            const QByteArray now = Sandbox::readFile(it.key());
            QVERIFY2(now == it.value() || now == versions[1].value(it.key()),
                     qPrintable(QStringLiteral("trial %1: %2 is neither version").arg(trials).arg(it.key())));
        }
    }
    QCOMPARE(QDir(scratch + "/shm").entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), {});
    QCOMPARE(QDir(scratch + "/tmp").entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), {});
    qInfo("%d writers killed", trials);
}

void tst_storeFaults::concurrentWriters_data()
{
    // The second writer's preferences go through QSettings itself, as an older tool's would, or
    // through the tool's own replacement of the file.
    QTest::addColumn<QString>("second");
    QTest::newRow("QSettings against QSettings") << "apply";
    QTest::newRow("own save against QSettings") << "save";
}

void tst_storeFaults::concurrentWriters()
{
    // Every write a process reports as done must be in the files, whatever the other one did;
    // none may be refused only because the other one was writing.
    QFETCH(QString, second);
    const int rounds = 120;
    QProcess writers[2];
    const QString tags[2] = {"OV_A", "OV_B"};
    for (int i = 0; i < 2; ++i)
        writers[i].start(STORE_HELPER, {i ? second : "apply", tags[i], "1", QString::number(rounds)});
    const QByteArray results = helperOutput(writers[0]) + helperOutput(writers[1]);
    QCOMPARE(results.count('\n'), 2 * rounds);
    for (const QByteArray &line : results.split('\n')) // "i where machineError userError profile settings"
        QVERIFY2(line.isEmpty() || line.endsWith(" 0 0 0 0"), line.constData());
    const QByteArray machine = Sandbox::readFile(path(MachineEnv));
    const QByteArray profile = Sandbox::readFile(path(Profile));
    const auto settings = openPreferences();
    int done = 0;
    for (int i = 0; i < 2; ++i) {
        for (int n = 1; n <= rounds; ++n, ++done) {
            const QByteArray name = tags[i].toLatin1() + '_' + QByteArray::number(n);
            const QByteArray value = 'v' + QByteArray::number(n);
            QVERIFY2(('\n' + machine).contains('\n' + name + "=\"" + value + "\"\n"), name.constData());
            QVERIFY2(profile.contains('\n' + name + '=' + value + '\n'), name.constData());
            QCOMPARE(settings->value(QString::fromLatin1(name)).toString(), QString::fromLatin1(value));
        }
    }
    QVERIFY2(!results.contains(" 16 ") && !results.contains(" 5 "), results.constData()); // no EBUSY, EIO
    qInfo("%d writes by two processes, none lost", done);
}

void tst_storeFaults::oddTargetsPreserved()
{
    // A symbolic link to a 1 MiB file with unusual permission bits: only the one line changes.
    QByteArray big;
    for (int i = 0; big.size() < (1 << 20); ++i)
        big += "KEEP_" + QByteArray::number(i) + "=\"line \\\" $$ " + QByteArray::number(i) + "\"\r\n";
    const struct
    {
        Target target;
        QByteArray before, after;
        std::function<quint32()> write;
    } cases[] = {
        {MachineEnv, big + "OV_ROOT=\"/old\"\r\n" + big, big + "OV_ROOT=\"/new\"\r\n" + big,
         [] {
             return setEnvironmentVariable("OV_ROOT", "/new").machineError;
         }},
        {Profile, "[Network]\r\n" + big + "Workstation=4\r\n" + big,
         "[Network]\r\n" + big + "Workstation=9\r\n" + big,
         [] {
             return writeProfileString("Network", "Workstation", "9", "xsv.ini");
         }},
    };
    for (const auto &c : cases) {
        const QString real = m_sandbox->root() + "/real/" + QFileInfo(path(c.target)).fileName();
        QVERIFY(Sandbox::writeFile(real, c.before));
        QCOMPARE(chmod(QFile::encodeName(real).constData(), 0460), 0);
        QVERIFY(QDir().mkpath(QFileInfo(path(c.target)).absolutePath()));
        QVERIFY(QFile::link(real, path(c.target)));
        QCOMPARE(c.write(), 0u);
        QVERIFY(QFileInfo(path(c.target)).isSymLink());
        QVERIFY(Sandbox::readFile(real) == c.after);
        QCOMPARE(modeOf(real), c.target == MachineEnv ? 0464 : 0460); // others read logins' files
    }
}

// What other users and killed writers leave around a file: a write goes through, keeping what the
// file carries, or fails with a reason naming the cause (a per-user target is written on its own).
enum Around { ReadLock, HeldLock, Attributes, OwnerOnly, Leftover, BindMount, ForeignHome, NoHome, Swapped };

void tst_storeFaults::sharedFile_data()
{
    QTest::addColumn<int>("around");
    QTest::addColumn<int>("target");
    QTest::addColumn<QString>("reason"); // empty: written
    const auto row = [](const char *name, Around around, Target target, const char *reason = "") {
        QTest::addRow("%s, %s", name, targets[target][0]) << int(around) << int(target) << reason;
    };
    for (Target target : {MachineEnv, Profile}) {
        row("read lock by another user", ReadLock, target);
        row("group, ACL and xattr kept", Attributes, target);
        row("temporary file of a killed writer", Leftover, target);
    }
    row("lock held past the wait", HeldLock, MachineEnv, "locked for longer");
    row("readable only by root", OwnerOnly, MachineEnv);
    row("bind-mounted", BindMount, Profile, "bind-mounted");
    row("another user's home", ForeignHome, BothEnv, "owned by another user");
    row("another user's directory", ForeignHome, Settings, "not permitted");
    row("HOME unset", NoHome, BothEnv, "HOME is not set");
    row("directory swapped for a link mid-write", Swapped, SystemProfile);
}

void tst_storeFaults::sharedFile()
{
    QFETCH(int, around);
    QFETCH(int, target);
    QFETCH(QString, reason);
    if (!canRunAsNobody() || QStandardPaths::findExecutable("setfacl").isEmpty())
        QSKIP("needs root, setpriv, mount, setfacl and setfattr");
    const QString file = path(Target(target), target == BothEnv);
    const QString directory = QFileInfo(file).absolutePath();
    const QString leftover = directory + "/." + QFileInfo(file).fileName() + ".Zz9Kq1";
    const QString alice = m_sandbox->root() + "/alice";
    QVERIFY(Sandbox::writeFile(file, "[Network]\nWorkstation=4\nOV_ROOT=\"/old\"\n"));
    const auto attributes = [&file] {
        return runCommand({"sh", "-c", "stat -c '%u %g %a' \"$0\"; getfattr -hd -m - \"$0\"", file}).out;
    };
    const auto hold = [this](const QStringList &command) {
        m_holders.push_back(std::make_unique<QProcess>());
        m_holders.back()->start(command.first(), command.mid(1) + QStringList{"-c", "echo; exec sleep 60"});
        return m_holders.back()->waitForReadyRead(5000);
    };
    QCOMPARE(chmod(QFile::encodeName(m_sandbox->root()).constData(), 0755), 0);
    if (around == ReadLock)
        QVERIFY(hold(asNobody({"flock", "-s", directory})) && hold(asNobody({"flock", "-s", file})));
    else if (around == HeldLock || around == Swapped)
        QVERIFY(hold({"flock", "-o", directory + "/." + QFileInfo(file).fileName() + ".lock"}));
    else if (around == Attributes)
        QVERIFY(shell("chgrp 65534 \"$0\" && chmod 664 \"$0\" && setfacl -m u:65534:rw \"$0\" && "
                      "setfattr -n user.kept -v 1 \"$0\"",
                      {file}));
    else if (around == OwnerOnly)
        QCOMPARE(chmod(QFile::encodeName(file).constData(), 0600), 0);
    else if (around == Leftover)
        QVERIFY(Sandbox::writeFile(leftover, "half"));
    else if (around == BindMount && shell("mount --bind \"$0\" \"$0\"", {file}))
        m_mounts.append(file);
    else if (around == ForeignHome)
        QVERIFY(QDir().mkpath(alice) && chown(QFile::encodeName(alice).constData(), 65534, 65534) == 0 &&
                qputenv("XDG_CONFIG_HOME", QFile::encodeName(alice + "/.config")) &&
                qputenv("XDG_CONFIG_DIRS", "/../alice/.config")); // below the machine prefix
    else if (around == NoHome)
        QVERIFY(qunsetenv("HOME"));
    const QByteArray before = attributes();

    quint32 written = 0;
    if (around == Swapped) {
        // Its parent's owner swaps the directory for a link while the writer waits for the lock.
        const QByteArray name = QFile::encodeName(directory), victim = name + "-victim";
        const int watch = inotify_init1(IN_CLOEXEC);
        QVERIFY(mkdir(victim, 0755) == 0 &&
                inotify_add_watch(watch, name + "/.trox_system.ini.lock", IN_OPEN) >= 0);
        std::thread writer([&] { written = writeProfileString("Network", "Workstation", "9", file); });
        pollfd opened{watch, POLLIN, 0};
        const bool swapped =
            poll(&opened, 1, 20000) == 1 && rename(name, name + ".old") == 0 && symlink(victim, name) == 0;
        close(watch);
        m_holders.back()->kill();
        writer.join();
        // Nothing written where the link led.
        QVERIFY(swapped && unlink(name) == 0 && rename(name + ".old", name) == 0 && rmdir(victim) == 0);
    }
    const quint32 error =
        around == Swapped   ? written
        : target == Profile ? writeProfileString("Network", "Workstation", "9", "xsv.ini")
        : target == Settings
            ? quint32(!savePreferences([](QSettings &store) { store.setValue("a", "/new"); }))
        : target == BothEnv ? setRegistryValue(Registry::userRoot,
                                               QLatin1String(Registry::userEnvironmentKey), "OV_ROOT", "/new")
                            : setEnvironmentVariable("OV_ROOT", "/new").machineError;
    QVERIFY2(describeStoreError(error).contains(reason.isEmpty() ? QStringLiteral("no error") : reason),
             qPrintable(describeStoreError(error)));
    QCOMPARE(Sandbox::readFile(file).contains(target >= Profile ? "=9\n" : "/new"), reason.isEmpty());
    QVERIFY(!QFile::exists(leftover) && !QFile::exists(alice + "/.config"));
    // A held lock is no reason to land per-user.
    QVERIFY(!QFile::exists(path(BothEnv, 1)) || target == BothEnv);
    if (around == Attributes)
        QCOMPARE(attributes(), before);
    if (around == OwnerOnly)
        QCOMPARE(attributes().left(8), QByteArray("0 0 644\n"));
}

QTEST_MAIN(tst_storeFaults)
#include "tst_storeFaults.moc"
