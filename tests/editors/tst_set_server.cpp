#include "preferences.h"
#include "sandbox.h"
#include "set_root.h"
#include "set_server.h"

#include <functional>
#include <memory>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace {

const QString group = QLatin1String(Preferences::recentServerGroup);
const QString refusal = QStringLiteral("This is not a valid path to a server (see Tooltip)");

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
void doubleClickEntry(QListWidget *list, int row)
{
    const QPoint centre = list->visualItemRect(list->item(row)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, centre);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, centre);
}

// Opens one editor, as the main dialog does for the server or the reserve server, and accepts the path.
void acceptServer(const QString &path)
{
    set_server editor;
    editor.setPathRules(PathRules(PathRules::Windows));
    const int code = runModal(editor, [&] {
        QTest::keyClicks(editor.server, path);
        QTest::mouseClick(editor.buttonOk, Qt::LeftButton);
    });
    QCOMPARE(code, int(QDialog::Accepted));
}

const int windows = PathRules::Windows;
const int posix = PathRules::Posix;

} // namespace

class tst_set_server : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void check_data();
    void check();
    void refusalStaysAfterCorrection();
    void refusalThenCancelKeepsList();
    void doubleClick_data();
    void doubleClick();
    void sharedWithReserveServer();

private:
    std::unique_ptr<Sandbox> m_sandbox;
};

void tst_set_server::init()
{
    m_sandbox = std::make_unique<Sandbox>();
}

void tst_set_server::cleanup()
{
    const QWidgetList tops = QApplication::topLevelWidgets();
    for (const QWidget *widget : tops)
        QVERIFY2(!widget->isVisible(), qPrintable(widget->objectName()));
    m_sandbox.reset();
}

// An accepted path is returned and stored on top; a refused one leaves the dialog open with
// the message, and Cancel then closes it without touching the list.
void tst_set_server::check_data()
{
    QTest::addColumn<int>("convention");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("result");
    QTest::newRow("unc with directory")
        << windows << "\\\\fileserver\\trox\\systems" << true << "\\\\fileserver\\trox\\systems";
    QTest::newRow("unc by address") << windows << "\\\\192.168.10.20\\trox" << true
                                    << "\\\\192.168.10.20\\trox";
    QTest::newRow("drive") << windows << "c:\\mysystem" << true << "c:\\mysystem";
    QTest::newRow("drive with forward slash") << windows << "c:/mysystem" << true << "c:\\mysystem";
    QTest::newRow("unc trailing backslash kept")
        << windows << "\\\\fileserver\\trox\\" << true << "\\\\fileserver\\trox\\";
    QTest::newRow("any character before the colon") << windows << "1:" << true << "1:";
    QTest::newRow("two backslashes only") << windows << "\\\\" << true << "\\\\";
    QTest::newRow("unc with forward slashes")
        << windows << "//fileserver/trox" << false << "//fileserver/trox";
    QTest::newRow("no leading backslashes") << windows << "fileserver\\trox" << false << "fileserver\\trox";
    QTest::newRow("single character") << windows << "c" << false << "c";
    QTest::newRow("empty") << windows << "" << false << "";
    QTest::newRow("posix absolute") << posix << "/srv/trox" << true << "/srv/trox";
    QTest::newRow("posix backslash inside") << posix << "/srv\\trox\\" << true << "/srv/trox/";
    QTest::newRow("posix backslash first") << posix << "\\srv\\trox" << false << "\\srv\\trox";
    QTest::newRow("posix relative") << posix << "srv/trox" << false << "srv/trox";
}

void tst_set_server::check()
{
    QFETCH(int, convention);
    QFETCH(QString, typed);
    QFETCH(bool, accepted);
    QFETCH(QString, result);
    {
        set_server editor;
        editor.setPathRules(PathRules(PathRules::Convention(convention)));
        const int code = runModal(editor, [&] {
            QTest::keyClicks(editor.server, typed);
            QTest::mouseClick(editor.buttonOk, Qt::LeftButton);
            if (accepted)
                return;
            QVERIFY(editor.isVisible());
            QCOMPARE(editor.validvalue->text(), refusal);
            QTest::mouseClick(editor.buttonCancel, Qt::LeftButton);
        });
        QCOMPARE(code, int(accepted ? QDialog::Accepted : QDialog::Rejected));
        QCOMPARE(editor.server->text(), result);
    }
    QCOMPARE(stored(), accepted ? QStringList{QLatin1String("0=") + result} : QStringList());
}

void tst_set_server::refusalStaysAfterCorrection()
{
    seed({"0=\\\\fileserver\\trox"});
    {
        set_server editor;
        editor.setPathRules(PathRules(PathRules::Windows));
        const int code = runModal(editor, [&] {
            QTest::keyClicks(editor.server, QStringLiteral("//fileserver/trox"));
            QTest::mouseClick(editor.buttonOk, Qt::LeftButton);
            QCOMPARE(editor.validvalue->text(), refusal);
            QCOMPARE(editor.validvalue->palette().color(QPalette::WindowText), QColor(255, 0, 0));
            editor.server->selectAll();
            QTest::keyClicks(editor.server, QStringLiteral("\\\\fileserver\\trox\\"));
            QTest::keyClick(editor.server, Qt::Key_Return);
        });
        QCOMPARE(code, int(QDialog::Accepted));
        QCOMPARE(editor.validvalue->text(), refusal);
        QCOMPARE(editor.server->text(), QStringLiteral("\\\\fileserver\\trox\\"));
    }
    QCOMPARE(stored(), (QStringList{"0=\\\\fileserver\\trox\\", "1=\\\\fileserver\\trox"}));
}

void tst_set_server::refusalThenCancelKeepsList()
{
    const QStringList seeded{"0=\\\\one\\trox", "1=\\\\ONE\\TROX", "2=c:\\mysystem"};
    seed(seeded);
    {
        set_server editor;
        editor.setPathRules(PathRules(PathRules::Windows));
        const int code = runModal(editor, [&] {
            QTest::keyClicks(editor.server, QStringLiteral("trox"));
            QTest::mouseClick(editor.buttonOk, Qt::LeftButton);
            QCOMPARE(editor.validvalue->text(), refusal);
            QTest::keyClick(editor.server, Qt::Key_Escape);
        });
        QCOMPARE(code, int(QDialog::Rejected));
        QCOMPARE(entries(editor.previous), (QStringList{"\\\\one\\trox", "c:\\mysystem"}));
    }
    QCOMPARE(stored(), (QStringList{"0=\\\\one\\trox", "1=c:\\mysystem", "2=c:\\mysystem"}));
}

// An entry placed in the store by other means still has to pass the check.
void tst_set_server::doubleClick_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QStringList>("saved");
    QTest::newRow("valid entry") << 1 << true << QStringList{"0=\\\\two\\trox", "1=\\\\one\\trox", "2=trox"};
    QTest::newRow("invalid entry") << 2 << false
                                   << QStringList{"0=\\\\one\\trox", "1=\\\\two\\trox", "2=trox"};
}

void tst_set_server::doubleClick()
{
    QFETCH(int, row);
    QFETCH(bool, accepted);
    QFETCH(QStringList, saved);
    seed({"0=\\\\one\\trox", "1=\\\\two\\trox", "2=trox"});
    {
        set_server editor;
        editor.setPathRules(PathRules(PathRules::Windows));
        QString text;
        const int code = runModal(editor, [&] {
            doubleClickEntry(editor.previous, row);
            text = editor.server->text();
            if (accepted)
                return;
            QCOMPARE(editor.validvalue->text(), refusal);
            QTest::mouseClick(editor.buttonCancel, Qt::LeftButton);
        });
        QCOMPARE(code, int(accepted ? QDialog::Accepted : QDialog::Rejected));
        QCOMPARE(text, editor.previous->item(accepted ? 0 : row)->text());
    }
    QCOMPARE(stored(), saved);
}

void tst_set_server::sharedWithReserveServer()
{
    acceptServer(QStringLiteral("\\\\one\\trox"));
    acceptServer(QStringLiteral("\\\\two\\trox"));
    set_server next;
    QCOMPARE(entries(next.previous), (QStringList{"\\\\two\\trox", "\\\\one\\trox"}));
    QVERIFY(next.server->text().isEmpty());
    set_root root;
    QCOMPARE(root.previous->count(), 0);
}

QTEST_MAIN(tst_set_server)
#include "tst_set_server.moc"
