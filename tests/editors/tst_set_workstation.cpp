#include "browseWorkstations.h"
#include "set_workstation.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>

namespace {

QStringList listed(const QListWidget *list)
{
    QStringList texts;
    for (int row = 0; row < list->count(); ++row)
        texts.append(list->item(row)->text());
    return texts;
}

bool writeList(const QString &system, const QByteArray &contents)
{
    if (!QDir().mkpath(system + QStringLiteral("/config")))
        return false;
    QFile file(system + QStringLiteral("/config/workstations.xml"));
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size();
}

// Records every message box that opens while it lives and dismisses it with its OK button.
class BoxAnswerer : public QObject
{
public:
    BoxAnswerer()
    {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                seen.append(box->windowTitle() + QLatin1Char('|') + box->text());
                box->button(QMessageBox::Ok)->click();
            }
        });
        m_timer.start(10);
    }
    QStringList seen;

private:
    QTimer m_timer;
};

// Runs the editor as the main dialog does; an editor left open is rejected after a while so that a
// fault fails the test instead of hanging it.
int run(set_workstation &editor, const std::function<void()> &operate)
{
    QTimer::singleShot(0, &editor, operate);
    QTimer::singleShot(5000, &editor, &QDialog::reject);
    return editor.exec();
}

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

private:
    QTemporaryDir m_dir;
};

void tst_set_workstation::cleanup()
{
    QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
}

void tst_set_workstation::rangeCheck_data()
{
    // How the operator closes the editor after typing: "ok", "enter", "cancel" or "escape".
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("press");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<bool>("refused");

    QTest::newRow("lowest") << "1"
                            << "ok" << true << false;
    QTest::newRow("highest") << "999"
                             << "ok" << true << false;
    QTest::newRow("leading zeros") << "007"
                                   << "ok" << true << false;
    QTest::newRow("plus sign") << "+7"
                               << "ok" << true << false;
    QTest::newRow("surrounding blanks") << " 7 "
                                        << "ok" << true << false;
    QTest::newRow("enter on valid") << "42"
                                    << "enter" << true << false;
    QTest::newRow("zero") << "0"
                          << "ok" << false << true;
    QTest::newRow("too high") << "1000"
                              << "ok" << false << true;
    QTest::newRow("negative") << "-5"
                              << "ok" << false << true;
    QTest::newRow("digits then letters") << "12a"
                                         << "ok" << false << true;
    QTest::newRow("letters") << "abc"
                             << "ok" << false << true;
    QTest::newRow("empty") << ""
                           << "ok" << false << true;
    QTest::newRow("two signs") << "++7"
                               << "ok" << false << true;
    QTest::newRow("inner blank") << "1 2"
                                 << "ok" << false << true;
    QTest::newRow("hexadecimal") << "0x10"
                                 << "ok" << false << true;
    QTest::newRow("beyond int, wraps into range") << "4294967297"
                                                  << "ok" << false << true;
    QTest::newRow("enter on invalid") << "1000"
                                      << "enter" << false << true;
    QTest::newRow("cancel on invalid") << "abc"
                                       << "cancel" << false << false;
    QTest::newRow("escape on invalid") << "0"
                                       << "escape" << false << false;
}

void tst_set_workstation::rangeCheck()
{
    QFETCH(QString, typed);
    QFETCH(QString, press);
    QFETCH(bool, accepted);
    QFETCH(bool, refused);

    set_workstation editor;
    BoxAnswerer answerer;
    bool openAfterBox = false;
    QString textAfterBox;
    const int result = run(editor, [&] {
        QTest::keyClicks(editor.workstation, typed);
        if (press == QLatin1String("ok"))
            QTest::mouseClick(editor.buttonOk, Qt::LeftButton);
        else if (press == QLatin1String("enter"))
            QTest::keyClick(editor.workstation, Qt::Key_Return);
        else if (press == QLatin1String("cancel"))
            QTest::mouseClick(editor.buttonCancel, Qt::LeftButton);
        else
            QTest::keyClick(editor.workstation, Qt::Key_Escape);
        if (editor.isVisible()) {
            openAfterBox = true;
            textAfterBox = editor.workstation->text();
            editor.reject();
        }
    });

    QCOMPARE(result, int(accepted ? QDialog::Accepted : QDialog::Rejected));
    QCOMPARE(answerer.seen, refused ? QStringList{rangeMessage} : QStringList());
    QCOMPARE(openAfterBox, refused);
    QCOMPARE(refused ? textAfterBox : editor.workstation->text(), typed);
}

void tst_set_workstation::browserReadsTheSystemEachPress()
{
    const QString system = m_dir.path() + QStringLiteral("/again");
    QVERIFY(writeList(system, "<list><ws id=\"3\" name=\"Three\"/><ws id=\"1\" name=\"One\"/></list>"));

    set_workstation editor;
    editor.setSystemPath(system);
    QStringList paths;
    QList<QStringList> seen;
    run(editor, [&] {
        const auto look = [&](browseWorkstations &browser) {
            paths.append(browser.showPath->text());
            seen.append(listed(browser.workstations));
            browser.reject();
        };
        browseWith(editor, look);
        writeList(system, "<list><ws id=\"2\" name=\"Two\"/></list>");
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
        QVERIFY(writeList(dir.path(), document));
    set_workstation editor;
    editor.setSystemPath(dir.path());
    BoxAnswerer answerer;
    QString afterBrowse;
    const int result = run(editor, [&] {
        QTest::keyClicks(editor.workstation, QStringLiteral("900"));
        browseWith(editor, [&](browseWorkstations &browser) {
            QListWidget *list = browser.workstations;
            if (pick >= 0)
                QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                                  list->visualItemRect(list->item(pick)).center());
            QTest::mouseClick(browserOk ? browser.buttonOk : browser.buttonCancel, Qt::LeftButton);
        });
        afterBrowse = editor.workstation->text();
        QTest::mouseClick(editor.buttonOk, Qt::LeftButton);
        if (editor.isVisible())
            editor.reject();
    });
    QCOMPARE(afterBrowse, text);
    QCOMPARE(result, int(refused ? QDialog::Rejected : QDialog::Accepted));
    QCOMPARE(answerer.seen, refused ? QStringList{rangeMessage} : QStringList());
}

QTEST_MAIN(tst_set_workstation)
#include "tst_set_workstation.moc"
