#include "editortesting.h"
#include "sandbox.h"
#include "set_root.h"
#include "set_server.h"

#include <memory>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

namespace {

const QString group = QLatin1String(Preferences::recentServerGroup);
const QString refusal = QStringLiteral("This is not a valid path to a server (see Tooltip)");

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
    void refusedThenClosed_data();
    void refusedThenClosed();
    void doubleClick_data();
    void doubleClick();
    void sharedWithReserveServer();
    void helpExamplesAccepted();

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
    QCOMPARE(storedPreferences(group), accepted ? QStringList{QLatin1String("0=") + result} : QStringList());
}

// The message stays once shown, even after a corrected path is accepted; Escape after a refusal
// still writes the list back compacted.
void tst_set_server::refusedThenClosed_data()
{
    QTest::addColumn<QStringList>("seeded");
    QTest::addColumn<QString>("refused");
    QTest::addColumn<QString>("corrected");
    QTest::addColumn<QStringList>("saved");
    QTest::newRow("corrected, Return")
        << QStringList{"0=\\\\fileserver\\trox"} << "//fileserver/trox"
        << "\\\\fileserver\\trox\\" << QStringList{"0=\\\\fileserver\\trox\\", "1=\\\\fileserver\\trox"};
    QTest::newRow("Escape") << QStringList{"0=\\\\one\\trox", "1=\\\\ONE\\TROX", "2=c:\\mysystem"} << "trox"
                            << QString()
                            << QStringList{"0=\\\\one\\trox", "1=c:\\mysystem", "2=c:\\mysystem"};
}

void tst_set_server::refusedThenClosed()
{
    QFETCH(QStringList, seeded);
    QFETCH(QString, refused);
    QFETCH(QString, corrected);
    QFETCH(QStringList, saved);
    seedPreferences(group, seeded);
    {
        set_server editor;
        editor.setPathRules(PathRules(PathRules::Windows));
        const int code = runModal(editor, [&] {
            QTest::keyClicks(editor.server, refused);
            QTest::mouseClick(editor.buttonOk, Qt::LeftButton);
            QCOMPARE(editor.validvalue->text(), refusal);
            QCOMPARE(editor.validvalue->palette().color(QPalette::WindowText), QColor(255, 0, 0));
            if (corrected.isNull()) {
                QTest::keyClick(editor.server, Qt::Key_Escape);
                return;
            }
            editor.server->selectAll();
            QTest::keyClicks(editor.server, corrected);
            QTest::keyClick(editor.server, Qt::Key_Return);
        });
        QCOMPARE(code, int(corrected.isNull() ? QDialog::Rejected : QDialog::Accepted));
        QCOMPARE(editor.validvalue->text(), refusal);
        QCOMPARE(editor.server->text(), corrected.isNull() ? refused : corrected);
    }
    QCOMPARE(storedPreferences(group), saved);
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
    seedPreferences(group, {"0=\\\\one\\trox", "1=\\\\two\\trox", "2=trox"});
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
    QCOMPARE(storedPreferences(group), saved);
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

// Every example path of the editor's own help, as this platform shows it, passes its check.
void tst_set_server::helpExamplesAccepted()
{
    set_server editor;
    const QRegularExpression path(QStringLiteral(R"((?:^|\s)([^\s<>]*[/\\][^\s<>]*))"));
    int examples = 0;
    for (const QRegularExpressionMatch &match : path.globalMatch(editor.toolTip())) {
        QVERIFY2(!editor.invalidServerPath(match.captured(1)), qPrintable(match.captured(1)));
        ++examples;
    }
    QCOMPARE(examples, 3);
}

QTEST_MAIN(tst_set_server)
#include "tst_set_server.moc"
