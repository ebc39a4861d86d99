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

    // A save keeps every key of a file other writers (QSettings, a hand) made as QSettings reads it,
    // or changes nothing where the file holds a kind of value the tool never stores.
    void saveKeepsOtherKeys_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::newRow("lists, escapes, spellings") << QByteArray(
            "[General]\n0=/a, \"/c, d\"\nk=\"t\\tb\\n\\x1b\\x31\" \nq=\\\"\\\\\nr=@@at\nc=a=b;c\n"
            "[%General]\nk=v\n[a%20b]\nk%3Dy=1\nsub\\key=2\n[%U00E9]\n%U65E5=\xe6\x97\xa5\n");
        QTest::newRow("not text") << QByteArray("[x]\nk=@Variant(\\0\\0\\0\\x2\\0\\0\\0\\x5)\n");
    }

    void saveKeepsOtherKeys()
    {
        QFETCH(QByteArray, contents);
        Sandbox sandbox;
        QVERIFY(Sandbox::writeFile(openPreferences()->fileName(), contents));
        const auto keys = [] {
            QMap<QString, QVariant> all;
            const auto store = openPreferences();
            for (const QString &key : store->allKeys())
                all.insert(key, store->value(key));
            return all;
        };
        QMap<QString, QVariant> expected = keys();
        const bool saved =
            savePreferences([](QSettings &edit) { edit.setValue("lastKnownServer/server", "/s"); });
        QCOMPARE(saved, !contents.contains("@Variant"));
        if (saved)
            expected.insert("lastKnownServer/server", "/s");
        QCOMPARE(keys(), expected);
    }
};

QTEST_GUILESS_MAIN(tst_preferences)
#include "tst_preferences.moc"
