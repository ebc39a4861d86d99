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

    // What a save keeps of a file other writers (QSettings, a hand) made: every key as QSettings
    // reads it, or nothing changed at all when the file holds a kind of value the tool never stores.
    void saveKeepsOtherKeys_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<bool>("saved");
        QTest::newRow("list") << QByteArray("[recentRoot]\n0=/a, /b\n1=\"/c, d\"\n") << true;
        QTest::newRow("escapes") << QByteArray("[x]\nk=\"tab\\there\\n\\x1b\\x31\" \nq=\\\"\\\\\n") << true;
        QTest::newRow("at sign, blanks, separators")
            << QByteArray("[x]\nk=@@at\nb=\"  lead\"\nc=a=b;c\ne=\n") << true;
        QTest::newRow("General sections") << QByteArray("[General]\ntop=1\n\n[%General]\nk=v\n") << true;
        QTest::newRow("spelled keys")
            << QByteArray("[a%20b]\nk%3Dy=1\nsub\\key=2\n[%U00E9t%U00E9]\n%U65E5=\xe6\x97\xa5\n") << true;
        QTest::newRow("not text") << QByteArray("[x]\nk=@Variant(\\0\\0\\0\\x2\\0\\0\\0\\x5)\n") << false;
    }

    void saveKeepsOtherKeys()
    {
        QFETCH(QByteArray, contents);
        QFETCH(bool, saved);
        Sandbox sandbox;
        const QString path = openPreferences()->fileName();
        QVERIFY(Sandbox::writeFile(path, contents));
        QMap<QString, QVariant> before;
        {
            const auto store = openPreferences();
            for (const QString &key : store->allKeys())
                before.insert(key, store->value(key));
        }
        QCOMPARE(
            savePreferences([](QSettings &store) { store.setValue("lastKnownServer/server", "/srv/new"); }),
            saved);
        if (!saved)
            QCOMPARE(Sandbox::readFile(path), contents);
        else
            before.insert("lastKnownServer/server", "/srv/new");
        const auto store = openPreferences();
        QCOMPARE(store->allKeys().size(), before.size());
        for (auto it = before.cbegin(); it != before.cend(); ++it)
            QCOMPARE(store->value(it.key()), it.value());
    }
};

QTEST_GUILESS_MAIN(tst_preferences)
#include "tst_preferences.moc"
