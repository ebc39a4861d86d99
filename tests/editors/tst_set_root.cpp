#include "editortesting.h"
#include "sandbox.h"
#include "set_root.h"

#include <memory>
#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

namespace {

const QString group = QLatin1String(Preferences::recentRootGroup);

QStringList numbered(const QString &stem, int count)
{
    QStringList values;
    for (int i = 0; i < count; ++i)
        values << stem + QString::number(i);
    return values;
}

// The values as stored under keys counted from the first.
QStringList keyed(const QStringList &values, int first = 0)
{
    QStringList pairs;
    for (int i = 0; i < values.size(); ++i)
        pairs << QString::number(first + i) + QLatin1Char('=') + values.at(i);
    return pairs;
}

const int windows = PathRules::Windows;
const int posix = PathRules::Posix;

} // namespace

class tst_set_root : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void load_data();
    void load();
    void closeSavesList_data();
    void closeSavesList();
    void browse_data();
    void browse();

private:
    std::unique_ptr<Sandbox> m_sandbox;
};

void tst_set_root::init()
{
    m_sandbox = std::make_unique<Sandbox>();
}

void tst_set_root::cleanup()
{
    QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
    m_sandbox.reset();
}

void tst_set_root::load_data()
{
    QTest::addColumn<QStringList>("seeded");
    QTest::addColumn<QStringList>("shown");
    const QStringList values = numbered(QStringLiteral("C:\\s"), 10);
    const QStringList pairs = keyed(values);
    QStringList absent = pairs, empty = pairs;
    absent.removeAt(3);
    empty[3] = QStringLiteral("3=");
    QStringList gapShown = values;
    gapShown.removeAt(3);
    QTest::newRow("gap at 3, absent") << absent << gapShown;
    QTest::newRow("gap at 3, empty") << empty << gapShown;
    QTest::newRow("duplicate ignoring case")
        << QStringList{"0=C:\\Sys", "1=c:\\sys", "2=D:\\Trox"} << QStringList{"C:\\Sys", "D:\\Trox"};
    QTest::newRow("eleventh key not read back") << (pairs + QStringList{"10=C:\\extra"}) << values;
    QTest::newRow("empty store") << QStringList() << QStringList();
}

void tst_set_root::load()
{
    QFETCH(QStringList, seeded);
    QFETCH(QStringList, shown);
    seedPreferences(group, seeded);
    set_root editor;
    QCOMPARE(entries(editor.previous), shown);
    QVERIFY(editor.path->text().isEmpty());
}

// The list is written when the editor goes, after OK and Cancel alike, by button, shortcut or a
// double click on an entry, and at no other time.
void tst_set_root::closeSavesList_data()
{
    QTest::addColumn<int>("convention");
    QTest::addColumn<QStringList>("seeded");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("press"); // a step as perform() takes it
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("result");
    QTest::addColumn<QStringList>("saved");
    const auto row = [](const char *name, const QStringList &seeded, const char *typed, const char *press,
                        bool accepted, const char *result, const QStringList &saved,
                        int convention = windows) {
        QTest::newRow(name) << convention << seeded << QString::fromUtf8(typed) << QString::fromUtf8(press)
                            << accepted << QString::fromUtf8(result) << saved;
    };
    row("found entry keeps its spelling", {"0=D:\\Other", "1=C:\\Sys"}, "c:\\SYS", "ok", true, "c:\\SYS",
        {"0=C:\\Sys", "1=D:\\Other"});
    row("forward slashes, trailing separator", {"0=C:\\Sys"}, "D:/systems/", "ok", true, "D:\\systems",
        {"0=D:\\systems", "1=C:\\Sys"});
    row("lone separator accepted as empty", {"0=C:\\Sys"}, "\\", "ok", true, "", {"0=C:\\Sys"});
    row("posix backslashes", {"0=/opt/trox"}, "\\srv\\trox\\", "ok", true, "/srv/trox",
        {"0=/srv/trox", "1=/opt/trox"}, posix);
    QStringList grown = keyed(numbered(QStringLiteral("D:\\s"), 10), 1);
    grown.prepend(QStringLiteral("0=D:\\new"));
    row("full list grows to eleven keys", keyed(numbered(QStringLiteral("D:\\s"), 10)), "D:\\new", "ok", true,
        "D:\\new", grown);
    row("cancel: duplicate overwritten by next value", {"0=C:\\Sys", "1=c:\\sys", "2=D:\\Trox"}, "E:/typed",
        "cancel", false, "E:/typed", {"0=C:\\Sys", "1=D:\\Trox", "2=D:\\Trox"});
    row("cancel: gap closed", {"0=C:\\a", "3=C:\\b"}, "E:/typed", "cancel", false, "E:/typed",
        {"0=C:\\a", "1=C:\\b", "3=C:\\b"});
    for (const char *key : {"Alt+O", "Return"})
        row(key, {}, "D:/x/", key, true, "D:\\x", {"0=D:\\x"});
    for (const char *key : {"Alt+C", "Esc"})
        row(key, {}, "D:/x/", key, false, "D:/x/", {});
    row("double click takes the entry", {"0=C:\\a", "1=D:\\b", "2=E:\\c"}, "F:\\typed", "dclick 2", true,
        "E:\\c", {"0=E:\\c", "1=C:\\a", "2=D:\\b"});
}

void tst_set_root::closeSavesList()
{
    QFETCH(int, convention);
    QFETCH(QStringList, seeded);
    QFETCH(QString, typed);
    QFETCH(QString, press);
    QFETCH(bool, accepted);
    QFETCH(QString, result);
    QFETCH(QStringList, saved);
    seedPreferences(group, seeded);
    {
        set_root editor;
        editor.setPathRules(PathRules(PathRules::Convention(convention)));
        const int code = runModal(editor, [&] {
            QVERIFY(QTest::qWaitForWindowActive(&editor));
            perform({"type " + typed, press}, editor.path, editor.previous, editor.ok, editor.cancel);
            // A shortcut clicks its button with a short animation.
            QTRY_VERIFY(!editor.isVisible());
        });
        QCOMPARE(code, int(accepted ? QDialog::Accepted : QDialog::Rejected));
        QCOMPARE(editor.path->text(), result);
        QCOMPARE(storedPreferences(group), seeded);
        if (accepted) {
            QStringList shown = saved;
            shown.replaceInStrings(QRegularExpression(QStringLiteral("^\\d+=")), QString());
            QCOMPARE(entries(editor.previous), shown);
        }
    }
    QCOMPARE(storedPreferences(group), saved);
    QCOMPARE(storedPreferences(QLatin1String(Preferences::recentServerGroup)), QStringList());
}

void tst_set_root::browse_data()
{
    QTest::addColumn<bool>("choose");
    QTest::newRow("directory chosen") << true;
    QTest::newRow("chooser cancelled") << false;
}

// The real chooser is answered as a person would, through its own line edit and buttons.
void tst_set_root::browse()
{
    QFETCH(bool, choose);
    // Qt's own chooser: the native one of Windows takes no events from the test and never closes.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    const QString directory = QDir(m_sandbox->root()).filePath(QStringLiteral("systems"));
    QVERIFY(QDir().mkpath(directory));
    const QString returned = QFileInfo(directory).canonicalFilePath();
    const QString typed = QStringLiteral("C:\\typed");

    set_root editor;
    editor.setPathRules(PathRules(PathRules::Windows));
    QString caption, shown;
    const int code = runModal(editor, [&] {
        QTimer::singleShot(0, &editor, [&] {
            auto *chooser = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            QVERIFY(chooser);
            caption = chooser->windowTitle();
            QVERIFY(chooser->testOption(QFileDialog::ShowDirsOnly));
            QCOMPARE(chooser->fileMode(), QFileDialog::Directory);
            auto *buttons = chooser->findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"));
            QVERIFY(buttons);
            if (!choose) {
                QTest::mouseClick(buttons->button(QDialogButtonBox::Cancel), Qt::LeftButton);
                return;
            }
            chooser->setDirectory(m_sandbox->root());
            auto *name = chooser->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            QVERIFY(name);
            QTest::keyClicks(name, QStringLiteral("systems"));
            QTest::mouseClick(buttons->button(QDialogButtonBox::Open), Qt::LeftButton);
        });
        QTest::keyClicks(editor.path, typed);
        QTest::mouseClick(editor.browse, Qt::LeftButton);
        shown = editor.path->text();
        QTest::mouseClick(editor.ok, Qt::LeftButton);
    });
    QCOMPARE(caption, QStringLiteral("Set System Root"));
    QCOMPARE(code, int(QDialog::Accepted));
    QCOMPARE(shown, choose ? returned : typed);
    QCOMPARE(editor.path->text(),
             choose ? QString(returned).replace(QLatin1Char('/'), QLatin1Char('\\')) : typed);
}

QTEST_MAIN(tst_set_root)
#include "tst_set_root.moc"
