#include "preferences.h"
#include "sandbox.h"

#include <QFileInfo>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>

// The preference store's writes, which bypass QSettings' own file handling.
class tst_preferences : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // QSettings keeps parsed files and re-reads one only when its size or millisecond time
    // changed, so a same-sized replacement must never carry the same (or an older) time.
    void replacementIsSeenByQSettings()
    {
        Sandbox sandbox;
        openPreferences()->setValue("lastKnownServer/server", "/srv/aaaa");
        const QString path = openPreferences()->fileName();
        // A file stamped in the future, as a clock step back or a copy from another machine leaves it.
        const timespec future[2] = {{0, UTIME_OMIT}, {time(nullptr) + 3600, 123000000}};
        QVERIFY(utimensat(AT_FDCWD, QFile::encodeName(path).constData(), future, 0) == 0);
        const QDateTime before = QFileInfo(path).lastModified();
        QCOMPARE(openPreferences()->value("lastKnownServer/server").toString(), QStringLiteral("/srv/aaaa"));

        QVERIFY(
            savePreferences([](QSettings &store) { store.setValue("lastKnownServer/server", "/srv/bbbb"); }));
        QVERIFY(QFileInfo(path).lastModified() > before);
        QCOMPARE(openPreferences()->value("lastKnownServer/server").toString(), QStringLiteral("/srv/bbbb"));
    }
};

QTEST_GUILESS_MAIN(tst_preferences)
#include "tst_preferences.moc"
