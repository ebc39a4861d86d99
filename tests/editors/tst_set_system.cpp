#include "editortesting.h"
#include "set_system.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

// Lists systems from real directory trees and drives the chooser with the mouse and keyboard.
class tst_set_system : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup();
    void listing_data();
    void listing();
    void emptyRoot();
    void appendsWithoutTouchingTheRest();
    void interaction_data();
    void interaction();
};

void tst_set_system::cleanup()
{
    QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
}

void tst_set_system::listing_data()
{
    // Directories made below "<tmp>/parent/root"; a trailing "/config" makes a directory, "config!"
    // a plain file of that name.
    QTest::addColumn<QStringList>("paths");
    QTest::addColumn<QString>("rootSuffix");
    QTest::addColumn<QStringList>("expected");

    const auto row = [](const char *name, const QStringList &paths, const QStringList &expected,
                        const char *rootSuffix = "") {
        QTest::newRow(name) << paths << QString::fromUtf8(rootSuffix) << expected;
    };
    const QStringList abc{"b/config", "A/config", "c/config"};
    row("sorted ignoring case", abc, {"A", "b", "c"});
    // ASCII names take a quicker comparison than the others; mixed, the order stays one order. Names
    // that differ only in case are one directory where the file system ignores case (Windows).
    QTemporaryDir probe;
    if (QDir().mkpath(probe.path() + QStringLiteral("/a")) &&
        !QFileInfo::exists(probe.path() + QStringLiteral("/A")))
        row("ties, symbols and accents",
            {"b/config", "B/config", "_x/config", "Z/config", "\u00e9/config", "\u00c9/config", "a1/config"},
            {"_x", "a1", "B", "b", "Z", "\u00c9", "\u00e9"});
    else
        row("symbols and accents", {"b/config", "_x/config", "Z/config", "\u00e9/config", "a1/config"},
            {"_x", "a1", "b", "Z", "\u00e9"});
    row("root with trailing slash", abc, {"A", "b", "c"}, "/");
    row("root missing", abc, {}, "/missing");
    row("without config", {"plain", "sys/config"}, {"sys"});
    row("config is a file", {"file/config!", "sys/config"}, {"sys"});
    row("config deeper down", {"deep/x/config"}, {});
    row("hidden directory", {".hidden/config", "sys/config"}, {"sys"});
    row("root holds config", {"config", "sys/config"}, {".", "sys"});
    row("parent holds config", {"../config", "sys/config"}, {"..", "sys"});
    row("config under config", {"config/config"}, {".", "config"});
    row("no systems", {"a", "b/c"}, {});
}

void tst_set_system::listing()
{
    QFETCH(QStringList, paths);
    QFETCH(QString, rootSuffix);
    QFETCH(QStringList, expected);

    QTemporaryDir tree;
    const QString root = tree.path() + QStringLiteral("/parent/root");
    QVERIFY(QDir().mkpath(root));
    for (QString path : paths) {
        const bool file = path.endsWith(QLatin1Char('!'));
        path.chop(file ? 1 : 0);
        const QString full = root + QLatin1Char('/') + path;
        QVERIFY(file ? Sandbox::writeFile(full, QByteArray()) : QDir().mkpath(full));
    }

    set_system chooser;
    chooser.listSystems(root + rootSuffix);
    QCOMPARE(entries(chooser.available), expected);
}

void tst_set_system::emptyRoot()
{
    // The working directory holds a system, so listing it for an empty root would show.
    QTemporaryDir dir;
    QVERIFY(QDir().mkpath(dir.path() + QStringLiteral("/cwd/sys/config")));
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path() + QStringLiteral("/cwd")));

    set_system chooser;
    chooser.listSystems(QString());
    QDir::setCurrent(previous);
    QCOMPARE(chooser.available->count(), 0);
}

void tst_set_system::appendsWithoutTouchingTheRest()
{
    QTemporaryDir tree;
    QVERIFY(QDir().mkpath(tree.path() + QStringLiteral("/sys/config")));

    set_system chooser;
    chooser.available->addItem(QStringLiteral("earlier"));
    chooser.system->setText(QStringLiteral("typed"));
    chooser.listSystems(tree.path());
    chooser.listSystems(tree.path());

    QCOMPARE(entries(chooser.available), (QStringList{"earlier", "sys", "sys"}));
    QCOMPARE(chooser.available->currentItem(), nullptr);
    QVERIFY(chooser.available->selectedItems().isEmpty());
    QCOMPARE(chooser.system->text(), QStringLiteral("typed"));
}

void tst_set_system::interaction_data()
{
    // Steps as perform() takes them; the chooser lists the systems alpha, beta and gamma.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("name");

    const int accepted = QDialog::Accepted, rejected = QDialog::Rejected;
    QTest::newRow("click replaces typed text")
        << QStringList{"type typed", "click 2", "ok"} << accepted << "gamma";
    QTest::newRow("arrow keys follow") << QStringList{"click 2", "up", "ok"} << accepted << "beta";
    QTest::newRow("typing after click wins")
        << QStringList{"click 0", "retype other", "Return"} << accepted << "other";
    QTest::newRow("typed name not listed")
        << QStringList{"type not listed", "Return"} << accepted << "not listed";
    QTest::newRow("empty accept") << QStringList{"ok"} << accepted << "";
    QTest::newRow("double click accepts") << QStringList{"dclick 1"} << accepted << "beta";
    QTest::newRow("cancel after click") << QStringList{"click 0", "Esc"} << rejected << "alpha";
}

void tst_set_system::interaction()
{
    QFETCH(QStringList, steps);
    QFETCH(int, result);
    QFETCH(QString, name);

    QTemporaryDir tree;
    for (const char *system : {"gamma", "alpha", "beta"})
        QVERIFY(QDir().mkpath(tree.path() + QLatin1Char('/') + QLatin1String(system) + "/config"));
    set_system chooser;
    chooser.listSystems(tree.path());

    QListWidget *list = chooser.available;
    const int code =
        runModal(chooser, [&] { perform(steps, chooser.system, list, chooser.buttonOk, nullptr); });
    QCOMPARE(code, result);
    QCOMPARE(chooser.system->text(), name);
}

QTEST_MAIN(tst_set_system)
#include "tst_set_system.moc"
