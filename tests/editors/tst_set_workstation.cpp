#include "browseWorkstations.h"
#include "editortesting.h"
#include "set_workstation.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

enum Outcome { Accepted, Refused, ClosedSilently };

// Presses Browse and lets `operate` act on the browser it opens.
void browseWith(set_workstation &editor, const std::function<void(browseWorkstations &)> &operate)
{
    bool reached = false;
    QTimer::singleShot(0, &editor, [&] {
        auto *browser = qobject_cast<browseWorkstations *>(QApplication::activeModalWidget());
        if (!browser)
            return;
        reached = true;
        operate(*browser);
    });
    QTest::mouseClick(editor.browse, Qt::LeftButton);
    QVERIFY(reached);
}

const QString rangeMessage = QStringLiteral("Errm|The workstation number must be between 1 and 999");

} // namespace

// Drives the number editor and the browser it opens, on workstation lists written by the test.
class tst_set_workstation : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup();
    void rangeCheck_data();
    void rangeCheck();
    void browserReadsTheSystemEachPress();
    void browse_data();
    void browse();
};

void tst_set_workstation::cleanup()
{
    QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
}

void tst_set_workstation::rangeCheck_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("press"); // a step as perform() takes it
    QTest::addColumn<int>("outcome");

    const auto row = [](const char *name, const char *typed, Outcome outcome, const char *press = "ok") {
        QTest::newRow(name) << QString::fromUtf8(typed) << QString::fromUtf8(press) << int(outcome);
    };
    row("lowest", "1", Accepted);
    row("highest", "999", Accepted);
    row("leading zeros", "007", Accepted);
    row("plus sign", "+7", Accepted);
    row("surrounding blanks", " 7 ", Accepted);
    row("enter on valid", "42", Accepted, "Return");
    row("zero", "0", Refused);
    row("too high", "1000", Refused);
    row("negative", "-5", Refused);
    row("digits then letters", "12a", Refused);
    row("empty", "", Refused);
    row("two signs", "++7", Refused);
    row("inner blank", "1 2", Refused);
    row("hexadecimal", "0x10", Refused);
    row("beyond int, wraps into range", "4294967297", Refused);
    row("enter on invalid", "1000", Refused, "Return");
    row("cancel on invalid", "abc", ClosedSilently, "cancel");
    row("escape on invalid", "0", ClosedSilently, "Esc");
}

// The text is handed back exactly as typed; a refused one stays in the open editor.
void tst_set_workstation::rangeCheck()
{
    QFETCH(QString, typed);
    QFETCH(QString, press);
    QFETCH(int, outcome);

    set_workstation editor;
    ModalCatcher catcher;
    catcher.ignore(&editor);
    bool openAfterBox = false;
    const int result = runModal(editor, [&] {
        perform({"type " + typed, press}, editor.workstation, nullptr, editor.buttonOk, editor.buttonCancel);
        if (editor.isVisible()) {
            openAfterBox = true;
            editor.reject();
        }
    });

    QCOMPARE(result, int(outcome == Accepted ? QDialog::Accepted : QDialog::Rejected));
    QCOMPARE(messageBoxes(catcher), outcome == Refused ? QStringList{rangeMessage} : QStringList());
    QCOMPARE(openAfterBox, outcome == Refused);
    QCOMPARE(editor.workstation->text(), typed);
}

void tst_set_workstation::browserReadsTheSystemEachPress()
{
    QTemporaryDir dir;
    const QString system = dir.path() + QStringLiteral("/again");
    QVERIFY(writeWorkstationList(system,
                                 "<list><ws id=\"3\" name=\"Three\"/><ws id=\"1\" name=\"One\"/></list>"));

    set_workstation editor;
    editor.setSystemPath(system);
    QStringList paths;
    QList<QStringList> seen;
    runModal(editor, [&] {
        const auto look = [&](browseWorkstations &browser) {
            paths.append(browser.showPath->text());
            seen.append(entries(browser.workstations));
            browser.reject();
        };
        browseWith(editor, look);
        writeWorkstationList(system, "<list><ws id=\"2\" name=\"Two\"/></list>");
        browseWith(editor, look);
        editor.reject();
    });
    QCOMPARE(paths, (QStringList{system, system}));
    QCOMPARE(seen, (QList<QStringList>{{"3 - Three", "1 - One"}, {"2 - Two"}}));
}

void tst_set_workstation::browse_data()
{
    // After typing 900 the operator picks a row (-1: none) and presses OK or Cancel in the browser,
    // then OK in the editor. A null document means the system has no workstation list.
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<int>("pick");
    QTest::addColumn<bool>("browserOk");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("refused");

    const QByteArray two("<list><ws id=\"5\" name=\"Five\"/><ws id=\"12\" name=\"Studio A\"/></list>");
    QTest::newRow("picked id replaces text") << two << 1 << true << "12" << false;
    QTest::newRow("cancel keeps text") << two << 0 << false << "900" << false;
    QTest::newRow("accepted empty browser") << QByteArray() << -1 << true << "" << true;
}

void tst_set_workstation::browse()
{
    QFETCH(QByteArray, document);
    QFETCH(int, pick);
    QFETCH(bool, browserOk);
    QFETCH(QString, text);
    QFETCH(bool, refused);

    QTemporaryDir dir;
    if (!document.isNull())
        QVERIFY(writeWorkstationList(dir.path(), document));
    set_workstation editor;
    editor.setSystemPath(dir.path());
    ModalCatcher catcher;
    catcher.ignore(&editor);
    QString afterBrowse;
    const int result = runModal(editor, [&] {
        QTest::keyClicks(editor.workstation, QStringLiteral("900"));
        browseWith(editor, [&](browseWorkstations &browser) {
            if (pick >= 0)
                clickEntry(browser.workstations, pick);
            QTest::mouseClick(browserOk ? browser.buttonOk : browser.buttonCancel, Qt::LeftButton);
        });
        afterBrowse = editor.workstation->text();
        // A number handed back has the focus, so that Enter accepts it rather than browsing again.
        QCOMPARE(editor.focusWidget() == editor.workstation, browserOk);
        if (browserOk)
            QTest::keyClick(editor.focusWidget(), Qt::Key_Return);
        else
            QTest::mouseClick(editor.buttonOk, Qt::LeftButton);
        if (editor.isVisible())
            editor.reject();
    });
    QCOMPARE(afterBrowse, text);
    QCOMPARE(result, int(refused ? QDialog::Rejected : QDialog::Accepted));
    QCOMPARE(messageBoxes(catcher), refused ? QStringList{rangeMessage} : QStringList());
}

QTEST_MAIN(tst_set_workstation)
#include "tst_set_workstation.moc"
