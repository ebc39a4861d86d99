#include "../platform.h"
#include "../machinestore.h"
#include "../pathrules.h"
#include "../preferences.h"
#include "atomicfile.h"
#include "machinepaths.h"
#include "safeopen.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSettings>

#include <atomic>
#include <cerrno>
#include <memory>
#include <optional>
#include <sys/auxv.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

PathRules PathRules::native()
{
    return PathRules(PathRules::Posix);
}

namespace {

// Where a system-scope QSettings keeps "organization/application" on Unix; naming it here saves
// parsing the file once more just to ask for its name.
QString preferenceFile()
{
    return MachinePaths::systemConfigDir() + QLatin1Char('/') + QLatin1String(Preferences::organization) +
           QLatin1Char('/') + QLatin1String(Preferences::application) + QLatin1String(".conf");
}

// Whether QSettings may open the preference file itself: nothing there yet, or a regular file
// reached without a link another user owns, in directories no other user owns (who could swap it
// for a FIFO afterwards). QSettings would follow any link and block on a FIFO.
bool safeToOpen(const QString &path)
{
    struct stat info;
    quint32 error = 0;
    const int fd = SafeOpen::openFile(path, true, info, error);
    if (fd >= 0)
        close(fd);
    return fd >= 0 || error == ENOENT;
}

// The directories down to `directory`, made and checked as AtomicFile::edit() makes them for a file
// in it, without writing any file.
bool makeOwnDirectory(const QString &directory)
{
    QByteArray resolved;
    quint32 error = SafeOpen::resolve(QFile::encodeName(directory), resolved);
    const int fd = error ? -1 : SafeOpen::openDirectory(resolved, true, true, error);
    if (fd >= 0)
        close(fd);
    return fd >= 0;
}

} // namespace

namespace {

bool ownSession = true;

// Besides the toolkit's: what the libraries under it (fonts, keyboard, input methods, GTK and GIO
// behind a desktop theme, GL and Vulkan drivers, iconv, locales) load or read from elsewhere, the
// desktop names that pick a theme plugin that reads the caller's configuration, and the loader's
// variables, which this process is past but programs it starts are not.
const QList<QByteArray> linuxVariables =
    QByteArrayLiteral("FONTCONFIG_FILE FONTCONFIG_PATH FONTCONFIG_SYSROOT XCOMPOSEFILE XCOMPOSECACHE "
                      "XLOCALEDIR XKB_CONFIG_ROOT XKB_CONFIG_EXTRA_PATH XCURSOR_PATH IBUS_ADDRESS_FILE "
                      "GTK_PATH GTK_MODULES GTK3_MODULES GTK_EXE_PREFIX GTK_DATA_PREFIX GTK_IM_MODULE "
                      "GTK_IM_MODULE_FILE GTK_THEME GTK_RC_FILES GTK2_RC_FILES GDK_PIXBUF_MODULE_FILE "
                      "GDK_PIXBUF_MODULEDIR GIO_MODULE_DIR GIO_EXTRA_MODULES GSETTINGS_BACKEND "
                      "GSETTINGS_SCHEMA_DIR XDG_CURRENT_DESKTOP DESKTOP_SESSION KDE_FULL_SESSION "
                      "KDE_SESSION_VERSION GNOME_DESKTOP_SESSION_ID KDEDIRS KDEHOME SNAP FLATPAK_ID "
                      "XDG_DATA_DIRS XDG_DATA_HOME LIBGL_DRIVERS_PATH __EGL_VENDOR_LIBRARY_DIRS "
                      "__EGL_VENDOR_LIBRARY_FILENAMES __GLX_VENDOR_LIBRARY_NAME MESA_LOADER_DRIVER_OVERRIDE "
                      "GBM_BACKENDS_PATH VK_ICD_FILENAMES VK_DRIVER_FILES VK_LAYER_PATH VK_ADD_LAYER_PATH "
                      "VK_INSTANCE_LAYERS GCONV_PATH LOCPATH NLSPATH LD_PRELOAD LD_LIBRARY_PATH LD_AUDIT")
        .split(' ');

// Whether a D-Bus address is a single socket of this account's, in a directory that only it or root
// can change: a bus another user runs (the one sudo or an inherited variable points at) is theirs.
bool ownBus(const QByteArray &address)
{
    if (!address.startsWith("unix:") || address.contains(';'))
        return false;
    QByteArray path;
    for (const QByteArray &pair : address.mid(5).split(',')) {
        if (pair.startsWith("path="))
            path = QByteArray::fromPercentEncoding(pair.mid(5));
    }
    const QByteArray directory = QFile::encodeName(QFileInfo(QFile::decodeName(path)).absolutePath());
    struct stat socket, parent;
    return !path.isEmpty() && lstat(path.constData(), &socket) == 0 && S_ISSOCK(socket.st_mode) &&
           socket.st_uid == geteuid() && lstat(directory.constData(), &parent) == 0 &&
           S_ISDIR(parent.st_mode) && (parent.st_uid == geteuid() || parent.st_uid == 0) &&
           (parent.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

} // namespace

bool distrustCaller()
{
    // AT_SECURE: started setuid, setgid or with file capabilities.
    if (getuid() != 0 && geteuid() != 0 && getauxval(AT_SECURE) == 0)
        return false;
    dropToolkitVariables(linuxVariables);
    // With no address, libdbus tries $XDG_RUNTIME_DIR/bus and then launches a bus of its own on the
    // X display (dbus-launch), which would outlive the dialog. An address of no known transport
    // fails at once instead, for the toolkit, its accessibility bridge and the announcement alike.
    QByteArray address = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (address.isEmpty() && !runtime.isEmpty())
        address = "unix:path=" + (runtime + "/bus").toPercentEncoding("/");
    ownSession = ownBus(address);
    qputenv("DBUS_SESSION_BUS_ADDRESS", ownSession ? address : QByteArrayLiteral("disabled:"));
    if (qEnvironmentVariableIsSet("AT_SPI_BUS_ADDRESS") && !ownBus(qgetenv("AT_SPI_BUS_ADDRESS")))
        qputenv("AT_SPI_BUS_ADDRESS", "disabled:");
    return true;
}

bool reachesOwnSession()
{
    return ownSession;
}

void preparePreferenceLocation()
{
    // Qt reads XDG_CONFIG_DIRS only in newer releases; setting the path each time keeps the
    // location right on all of them and follows TROX_INST_ENV_PREFIX. A file that may not be read
    // is treated as missing: the store then reads as empty (nothing can be created below /dev/null),
    // and a write is refused on its own.
    const QString directory = MachinePaths::systemConfigDir();
    QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope,
                       safeToOpen(preferenceFile()) ? directory : QStringLiteral("/dev/null"));
}

namespace {

// Every key and value of a settings file, as QSettings reads it back.
QMap<QString, QVariant> contentsOf(QSettings &settings)
{
    while (!settings.group().isEmpty()) // an edit may leave a group open
        settings.endGroup();
    QMap<QString, QVariant> contents;
    const QStringList keys = settings.allKeys();
    for (const QString &key : keys)
        contents.insert(key, settings.value(key));
    return contents;
}

} // namespace

namespace {

// A file of this process alone, in memory and in no directory, so that nothing of it outlives the
// process however that ends. QSettings reads it through its name in /proc.
class MemoryFile
{
public:
    explicit MemoryFile(const QByteArray &contents)
        : m_fd(memfd_create("trox_inst_env", MFD_CLOEXEC))
    {
        // QSettings keeps what it read of a name and reads it again only when the size or the time
        // changed; each file gets a time of its own, since a later one may reuse the number.
        static std::atomic<time_t> stamp = 0;
        const timespec times[2] = {{0, UTIME_OMIT}, {++stamp, 0}};
        // Without /proc, QSettings would take the file for an empty one.
        struct stat seen;
        if (m_fd >= 0 &&
            (write(m_fd, contents.constData(), size_t(contents.size())) != contents.size() ||
             futimens(m_fd, times) != 0 || stat(QFile::encodeName(path()).constData(), &seen) != 0 ||
             seen.st_size != contents.size())) {
            close(m_fd);
            m_fd = -1;
        }
    }
    ~MemoryFile()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    MemoryFile(const MemoryFile &) = delete;
    MemoryFile &operator=(const MemoryFile &) = delete;

    bool isValid() const { return m_fd >= 0; }
    QString path() const { return QStringLiteral("/proc/self/fd/%1").arg(m_fd); }

private:
    int m_fd;
};

// QSettings over a MemoryFile, never written back: its replacement of a file would follow the name
// in /proc to the memory file's made-up name in /. Requiring an atomic write makes it give up at the
// lock, which cannot be made in /proc.
std::unique_ptr<QSettings> overMemory(const MemoryFile &file)
{
    auto settings = std::make_unique<QSettings>(file.path(), QSettings::IniFormat);
    settings->setAtomicSyncRequired(true);
    return settings;
}

// A key or section name as QSettings' INI format spells it.
QString iniKey(const QString &key)
{
    QString spelled;
    for (const QChar c : key) {
        const ushort u = c.unicode();
        if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '_' ||
            u == '-' || u == '.')
            spelled += c;
        else if (u == '/')
            spelled += QLatin1Char('\\');
        else
            spelled += (u <= 0xff ? QStringLiteral("%%1").arg(u, 2, 16, QLatin1Char('0'))
                                  : QStringLiteral("%U%1").arg(u, 4, 16, QLatin1Char('0')))
                           .toUpper();
    }
    return spelled;
}

// A text value as QSettings writes it, in quotes only where a separator or an outer blank needs
// them. A hex digit after a numeric escape is escaped too, since the reader takes every digit that
// follows.
QString iniText(const QString &value)
{
    static const char named[] = "0......abtnvfr";
    QString text;
    bool afterNumber = false;
    for (const QChar c : value.startsWith(QLatin1Char('@')) ? QLatin1Char('@') + value : value) {
        const ushort u = c.unicode();
        const bool hexDigit = (u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F');
        const bool hasName = u < sizeof(named) - 1 && named[u] != '.';
        if (afterNumber && hexDigit) {
            text += QStringLiteral("\\x%1").arg(u, 0, 16);
            continue;
        }
        afterNumber = u == 0 || (u < 0x20 && !hasName) || u == 0x7f;
        if (u == '"' || u == '\\')
            text += QLatin1Char('\\') + c;
        else if (hasName)
            text += QLatin1String("\\") + QLatin1Char(named[u]);
        else if (u < 0x20 || u == 0x7f)
            text += QStringLiteral("\\x%1").arg(u, 0, 16);
        else
            text += c;
    }
    const bool quoted = text.contains(QLatin1Char(';')) || text.contains(QLatin1Char(',')) ||
                        text.contains(QLatin1Char('=')) || text.startsWith(QLatin1Char(' ')) ||
                        text.endsWith(QLatin1Char(' '));
    return quoted ? QLatin1Char('"') + text + QLatin1Char('"') : text;
}

// The keys in QSettings' INI format; nothing for a value that is neither text, the only kind the
// tool stores, nor a list of texts, which a file edited by hand can hold.
std::optional<QByteArray> iniFile(const QMap<QString, QVariant> &keys)
{
    QMap<QString, QStringList> sections;
    for (auto it = keys.cbegin(); it != keys.cend(); ++it) {
        const int type = it.value().typeId();
        if (type != QMetaType::QString && type != QMetaType::QStringList)
            return std::nullopt;
        QStringList items;
        for (const QString &item : it.value().toStringList())
            items << iniText(item);
        const qsizetype slash = it.key().indexOf(QLatin1Char('/'));
        const QString section = slash < 0 ? QString() : it.key().left(slash);
        sections[section] << iniKey(it.key().mid(slash + 1)) + QLatin1Char('=') +
                                 items.join(QLatin1String(", "));
    }
    QString text;
    for (auto it = sections.cbegin(); it != sections.cend(); ++it) {
        const QString name = it.key().isEmpty() ? QStringLiteral("General")
                             : it.key().compare(QLatin1String("General"), Qt::CaseInsensitive) == 0
                                 ? QLatin1Char('%') + it.key()
                                 : iniKey(it.key());
        text += (text.isEmpty() ? QString() : QStringLiteral("\n")) + QLatin1Char('[') + name +
                QStringLiteral("]\n") + it.value().join(QLatin1Char('\n')) + QLatin1Char('\n');
    }
    return text.isEmpty() ? QByteArray("", 0) : text.toUtf8();
}

} // namespace

bool savePreferences(const std::function<void(QSettings &)> &edit)
{
    const QString path = preferenceFile();
    // Machine-wide preferences never lie in a directory of another user, wherever an inherited
    // XDG_CONFIG_DIRS points.
    AtomicFile::Options options;
    options.directories = AtomicFile::Directories::Create;
    options.ownDirectories = true;
    // A QSettings writer (an older tool, a script) locks the file its own way; without that lock
    // each of the two could write back a copy read before the other's change. The directory is
    // checked first: in another user's, the lock could be a FIFO that QLockFile blocks on.
    const QString directory = QFileInfo(path).absolutePath();
    if (!makeOwnDirectory(directory))
        return false;
    const QString lock = path + QLatin1String(".lock");
    QLockFile settingsLock(lock);
    const QDeadlineTimer deadline(5000);
    while (!settingsLock.tryLock(100)) {
        // A writer killed between making the lock and writing its process number into it leaves
        // it empty, which QLockFile waits half a minute on; a live writer fills it at once.
        const QFileInfo info(lock);
        if (info.isFile() && info.size() == 0 &&
            info.lastModified().msecsTo(QDateTime::currentDateTimeUtc()) > 1000)
            QFile::remove(lock);
        if (deadline.hasExpired())
            return false;
    }
    // QSettings reads the file and makes the edit in memory; the file is written by the store's own
    // safe replacement, so a full disk or a killed process leaves the old file whole, and no scratch
    // copy anywhere.
    const AtomicFile::Result result =
        AtomicFile::edit(path, options, [&](const QByteArray &current) -> QByteArray {
            const MemoryFile stored(current);
            const MemoryFile empty(QByteArray{});
            if (!stored.isValid() || !empty.isValid())
                return QByteArray();
            const QMap<QString, QVariant> before = contentsOf(*overMemory(stored));
            // Over an empty file, which QSettings keeps in no cache, holding the edit it failed to write.
            QMap<QString, QVariant> intended;
            {
                const std::unique_ptr<QSettings> settings = overMemory(empty);
                for (auto it = before.cbegin(); it != before.cend(); ++it)
                    settings->setValue(it.key(), it.value());
                edit(*settings);
                intended = contentsOf(*settings);
            }
            // Trust the text only once QSettings reads it back whole.
            const std::optional<QByteArray> bytes = iniFile(intended);
            if (!bytes)
                return QByteArray();
            const MemoryFile written(*bytes);
            if (!written.isValid() || contentsOf(*overMemory(written)) != intended)
                return QByteArray();
            return *bytes;
        });
    return result.error == 0;
}
