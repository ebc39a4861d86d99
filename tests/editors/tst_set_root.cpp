#include "preferences.h"
#include "sandbox.h"
#include "set_root.h"

#include <functional>
#include <memory>
#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace {

const QString group = QLatin1String(Preferences::recentRootGroup);

// Seeds the list from "key=value" pairs.
void seed(const QStringList &pairs)
{
    const auto store = openPreferences();
    store->beginGroup(group);
    for (const QString &pair : pairs) {
        const qsizetype equals = pair.indexOf(QLatin1Char('='));
        store->setValue(pair.left(equals), pair.mid(equals + 1));
    }
}

// The stored keys as "key=value", in key order.
QStringList stored()
{
    const auto store = openPreferences();
    store->beginGroup(group);
    QStringList pairs;
    for (int i = 0; i < 16; ++i) {
        const QString key = QString::number(i);
        if (store->contains(key))
            pairs << key + QLatin1Char('=') + store->value(key).toString();
    }
    return pairs;
}

QStringList entries(const QListWidget *list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts << list->item(i)->text();
    return texts;
}

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

// Runs the dialog modally and performs the steps inside its event loop. The steps must close
// it; one left open fails the test and is rejected, so a fault cannot hang the run.
int runModal(QDialog &dialog, const std::function<void()> &steps)
{
    QTimer::singleShot(0, &dialog, [&] {
        steps();
        if (dialog.isVisible()) {
            dialog.reject();
            QFAIL("the dialog was left open");
        }
    });
    return dialog.exec();
}

// A person's double-click: the first click makes the entry current, the second one opens it.
void doubleClick(QListWidget *list, int row)
{
    const QPoint centre = list->visualItemRect(list->item(row)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, centre);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, centre);
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
    void cancelCompacts_data();
    void cancelCompacts();
    void accept_data();
    void accept();
    void fullListGrowsToEleven();
    void keys_data();
    void keys();
    void doubleClickAccepts();
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
    const QWidgetList tops = QApplication::topLevelWidgets();
    for (const QWidget *widget : tops)
        QVERIFY2(!widget->isVisible(), qPrintable(widget->objectName()));
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
    QTest::newRow("key 10 not read") << (pairs + QStringList{"10=C:\\extra"}) << values;
    QTest::newRow("empty store") << QStringList() << QStringList();
}

void tst_set_root::load()
{
    QFETCH(QStringList, seeded);
    QFETCH(QStringList, shown);
    seed(seeded);
    set_root editor;
    QCOMPARE(entries(editor.previous), shown);
    QVERIFY(editor.path->text().isEmpty());
}

void tst_set_root::cancelCompacts_data()
{
    QTest::addColumn<QStringList>("seeded");
    QTest::addColumn<QStringList>("saved");
    QTest::newRow("duplicate overwritten by next value")
        << QStringList{"0=C:\\Sys", "1=c:\\sys", "2=D:\\Trox"}
        << QStringList{"0=C:\\Sys", "1=D:\\Trox", "2=D:\\Trox"};
    QTest::newRow("duplicate with nothing after")
        << QStringList{"0=C:\\Sys", "1=c:\\sys"} << QStringList{"0=C:\\Sys", "1=c:\\sys"};
    QTest::newRow("gap closed") << QStringList{"0=C:\\a", "3=C:\\b"}
                                << QStringList{"0=C:\\a", "1=C:\\b", "3=C:\\b"};
}

void tst_set_root::cancelCompacts()
{
    QFETCH(QStringList, seeded);
    QFETCH(QStringList, saved);
    seed(seeded);
    {
        set_root editor;
        const int result = runModal(editor, [&] {
            QTest::keyClicks(editor.path, QStringLiteral("E:\\typed"));
            QTest::mouseClick(editor.cancel, Qt::LeftButton);
        });
        QCOMPARE(result, int(QDialog::Rejected));
        QCOMPARE(stored(), seeded);
    }
    QCOMPARE(stored(), saved);
}

void tst_set_root::accept_data()
{
    QTest::addColumn<int>("convention");
    QTest::addColumn<QStringList>("seeded");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("result");
    QTest::addColumn<QStringList>("saved");
    QTest::newRow("found entry keeps its spelling")
        << windows << QStringList{"0=D:\\Other", "1=C:\\Sys"} << "c:\\SYS"
        << "c:\\SYS" << QStringList{"0=C:\\Sys", "1=D:\\Other"};
    QTest::newRow("forward slashes, trailing separator")
        << windows << QStringList{"0=C:\\Sys"} << "D:/systems/"
        << "D:\\systems" << QStringList{"0=D:\\systems", "1=C:\\Sys"};
    QTest::newRow("drive root") << windows << QStringList() << "C:\\"
                                << "C:" << QStringList{"0=C:"};
    QTest::newRow("lone separator accepted as empty") << windows << QStringList{"0=C:\\Sys"} << "\\"
                                                      << "" << QStringList{"0=C:\\Sys"};
    QTest::newRow("posix backslashes") << posix << QStringList{"0=/opt/trox"} << "\\srv\\trox\\"
                                       << "/srv/trox" << QStringList{"0=/srv/trox", "1=/opt/trox"};
    QTest::newRow("posix trailing slashes")
        << posix << QStringList{"0=/srv/trox", "1=/opt/trox"} << "/opt/trox//"
        << "/opt/trox" << QStringList{"0=/opt/trox", "1=/srv/trox"};
}

void tst_set_root::accept()
{
    QFETCH(int, convention);
    QFETCH(QStringList, seeded);
    QFETCH(QString, typed);
    QFETCH(QString, result);
    QFETCH(QStringList, saved);
    seed(seeded);
    {
        set_root editor;
        editor.setPathRules(PathRules(PathRules::Convention(convention)));
        const int code = runModal(editor, [&] {
            QTest::keyClicks(editor.path, typed);
            QTest::mouseClick(editor.ok, Qt::LeftButton);
        });
        QCOMPARE(code, int(QDialog::Accepted));
        QCOMPARE(editor.path->text(), result);
    }
    QCOMPARE(stored(), saved);
}

void tst_set_root::fullListGrowsToEleven()
{
    const QStringList values = numbered(QStringLiteral("D:\\s"), 10);
    seed(keyed(values));
    {
        set_root editor;
        editor.setPathRules(PathRules(PathRules::Windows));
        runModal(editor, [&] {
            QTest::keyClicks(editor.path, QStringLiteral("D:\\new"));
            QTest::mouseClick(editor.ok, Qt::LeftButton);
        });
        QCOMPARE(editor.previous->count(), 11);
    }
    QCOMPARE(stored(), QStringList{"0=D:\\new"} + keyed(values, 1));

    set_root next;
    QCOMPARE(entries(next.previous), QStringList{"D:\\new"} + values.mid(0, 9));
}

void tst_set_root::keys_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("path");
    QTest::newRow("Alt+O") << int(Qt::Key_O) << int(Qt::AltModifier) << int(QDialog::Accepted) << "D:\\x";
    QTest::newRow("Return") << int(Qt::Key_Return) << int(Qt::NoModifier) << int(QDialog::Accepted)
                            << "D:\\x";
    QTest::newRow("Alt+C") << int(Qt::Key_C) << int(Qt::AltModifier) << int(QDialog::Rejected) << "D:/x/";
    QTest::newRow("Escape") << int(Qt::Key_Escape) << int(Qt::NoModifier) << int(QDialog::Rejected)
                            << "D:/x/";
}

void tst_set_root::keys()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(int, result);
    QFETCH(QString, path);
    set_root editor;
    editor.setPathRules(PathRules(PathRules::Windows));
    const int code = runModal(editor, [&] {
        QVERIFY(QTest::qWaitForWindowActive(&editor));
        QTest::keyClicks(editor.path, QStringLiteral("D:/x/"));
        QTest::keyClick(editor.path, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        // A shortcut clicks its button with a short animation.
        QTRY_VERIFY(!editor.isVisible());
    });
    QCOMPARE(code, result);
    QCOMPARE(editor.path->text(), path);
}

void tst_set_root::doubleClickAccepts()
{
    seed({"0=C:\\a", "1=D:\\b", "2=E:\\c"});
    {
        set_root editor;
        editor.setPathRules(PathRules(PathRules::Windows));
        const int code = runModal(editor, [&] {
            QTest::keyClicks(editor.path, QStringLiteral("F:\\typed"));
            doubleClick(editor.previous, 2);
        });
        QCOMPARE(code, int(QDialog::Accepted));
        QCOMPARE(editor.path->text(), QStringLiteral("E:\\c"));
        QCOMPARE(entries(editor.previous), (QStringList{"E:\\c", "C:\\a", "D:\\b"}));
    }
    QCOMPARE(stored(), (QStringList{"0=E:\\c", "1=C:\\a", "2=D:\\b"}));
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
