#include "browseWorkstations.h"
#include "editortesting.h"
#include "sandbox.h"
#include "set_root.h"
#include "set_server.h"
#include "set_system.h"
#include "set_workstation.h"
#include "trox_inst_envDialog.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>

#include <utility>

// The five Set buttons of the main dialog, driven through the real editors as an operator would.
namespace {

void typeAndEnter(QLineEdit *edit, const QString &text)
{
    edit->clear();
    QTest::keyClicks(edit, text);
    QTest::keyClick(edit, Qt::Key_Return);
}

} // namespace

class tst_editingValues : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void rootAndSystemRecheckThePath();
    void workstationBrowserFollowsTheShownSystem();
    void serverAndReserveServerShareOneList();
    void cancelledEditorsChangeNothing();

private:
    void addSystem(const QString &name, const QByteArray &workstations = QByteArray());
    void start(const QString &system);

    std::unique_ptr<Sandbox> m_sandbox;
    std::unique_ptr<trox_inst_envDialog> m_dialog;
    std::unique_ptr<ModalCatcher> m_catcher;
    QString m_root;
};

void tst_editingValues::init()
{
    m_sandbox = std::make_unique<Sandbox>();
    // Spelt as the platform's operators spell it, as the dialog joins the system to it.
    m_root = QDir::toNativeSeparators(m_sandbox->root() + QLatin1String("/systems"));
    addSystem(QStringLiteral("alpha"),
              R"(<list><ws id="1" name="Alpha One"/><ws id="2" name="Alpha Two"/></list>)");
    addSystem(QStringLiteral("beta"),
              R"(<list><ws id="7" name="Beta Seven"/><ws id="8" name="Beta Eight"/></list>)");
}

void tst_editingValues::cleanup()
{
    m_dialog.reset();
    m_catcher.reset();
    m_sandbox.reset();
}

void tst_editingValues::addSystem(const QString &name, const QByteArray &workstations)
{
    QVERIFY(writeWorkstationList(m_root + QLatin1Char('/') + name, workstations));
}

void tst_editingValues::start(const QString &system)
{
    Sandbox::setVariables({QStringLiteral("OV_ROOT=") + m_root, QStringLiteral("OV_SYSTEM=") + system,
                           QStringLiteral("OV_SERVER_ROOT=/srv/main"), QStringLiteral("OV_WORKSTATION=1")});
    m_dialog = std::make_unique<trox_inst_envDialog>();
    QVERIFY(loadsQuietly(*m_dialog));
    m_catcher = std::make_unique<ModalCatcher>();
    m_catcher->ignore(m_dialog.get());
    QCOMPARE(m_dialog->root->text(), m_root);
}

void tst_editingValues::rootAndSystemRecheckThePath()
{
    start(QStringLiteral("missing"));
    QCOMPARE(m_dialog->warning->text(), QStringLiteral("This path does not exist!"));

    QStringList offered;
    answer<set_system>(*m_catcher, [&offered](set_system *chooser) {
        offered = entries(chooser->available);
        clickEntry(chooser->available, 1);
        QTest::keyClick(chooser->system, Qt::Key_Return);
    });
    QTest::mouseClick(m_dialog->setSystem, Qt::LeftButton);
    QCOMPARE(offered, QStringList({"alpha", "beta"}));
    QCOMPARE(m_dialog->system->text(), QStringLiteral("beta"));
    QCOMPARE(m_dialog->warning->text(), QString());

    // A root under which the shown system does not exist brings the warning back.
    const QString otherRoot = m_sandbox->root() + QLatin1String("/elsewhere");
    QVERIFY(QDir().mkpath(otherRoot));
    answer<set_root>(*m_catcher, [otherRoot](set_root *editor) {
        typeAndEnter(editor->path, otherRoot + QLatin1Char('/'));
    });
    QTest::mouseClick(m_dialog->setRoot, Qt::LeftButton);
    QCOMPARE(m_dialog->root->text(), QDir::toNativeSeparators(otherRoot));
    QCOMPARE(m_dialog->warning->text(), QStringLiteral("This path does not exist!"));

    // The chooser lists the systems of the root shown now, and an empty name is taken as it is.
    answer<set_system>(*m_catcher, [&offered](set_system *chooser) {
        offered = entries(chooser->available);
        QTest::mouseClick(chooser->buttonOk, Qt::LeftButton);
    });
    QTest::mouseClick(m_dialog->setSystem, Qt::LeftButton);
    QCOMPARE(offered, QStringList());
    QCOMPARE(m_dialog->system->text(), QString());
}

void tst_editingValues::workstationBrowserFollowsTheShownSystem()
{
    start(QStringLiteral("alpha"));
    answer<set_system>(*m_catcher,
                       [](set_system *chooser) { typeAndEnter(chooser->system, QStringLiteral("beta")); });
    QTest::mouseClick(m_dialog->setSystem, Qt::LeftButton);
    QCOMPARE(m_dialog->system->text(), QStringLiteral("beta"));

    QStringList listed;
    QString shownPath;
    bool browsed = false;
    m_catcher->setResponder([&](QWidget *modal) {
        // The number editor is met twice: first it is told to browse; back from the browser, it
        // accepts what the browser handed over (by Ok: Return would press Browse, which the click
        // gave the focus where the window is active).
        if (auto *editor = qobject_cast<set_workstation *>(modal)) {
            QTest::mouseClick(std::exchange(browsed, true) ? editor->buttonOk : editor->browse,
                              Qt::LeftButton);
            return true;
        }
        if (auto *browser = qobject_cast<browseWorkstations *>(modal)) {
            listed = entries(browser->workstations);
            shownPath = browser->showPath->text();
            clickEntry(browser->workstations, 1);
            QTest::mouseClick(browser->buttonOk, Qt::LeftButton);
            return true;
        }
        return false;
    });
    QTest::mouseClick(m_dialog->setWorkstation, Qt::LeftButton);
    QCOMPARE(listed, QStringList({"7 - Beta Seven", "8 - Beta Eight"}));
    QCOMPARE(shownPath, QDir::toNativeSeparators(m_root + QLatin1String("/beta")));
    QCOMPARE(m_dialog->workstation->text(), QStringLiteral("8"));
}

void tst_editingValues::serverAndReserveServerShareOneList()
{
    // Server paths the platform's rules accept: a share on Windows.
    const auto server = [](const char *name) -> QString {
        return QLatin1String(Sandbox::linuxMachine() ? "/srv/" : "\\\\srv\\") + QLatin1String(name);
    };
    start(QStringLiteral("alpha"));
    answer<set_server>(*m_catcher,
                       [&server](set_server *editor) { typeAndEnter(editor->server, server("new-master")); });
    QTest::mouseClick(m_dialog->setServer, Qt::LeftButton);
    QCOMPARE(m_dialog->server->text(), server("new-master"));

    QStringList offered;
    QString opened = QStringLiteral("not opened");
    answer<set_server>(*m_catcher, [&](set_server *editor) {
        offered = entries(editor->previous);
        opened = editor->server->text();
        typeAndEnter(editor->server, server("spare"));
    });
    QTest::mouseClick(m_dialog->setReserveServer, Qt::LeftButton);
    QCOMPARE(offered, QStringList{server("new-master")});
    QCOMPARE(opened, QString()); // the editor opens empty, not with the value shown
    QCOMPARE(m_dialog->reserveserver->text(), server("spare"));
    QCOMPARE(m_dialog->server->text(), server("new-master"));
}

// Escape changes no value, whatever was typed, yet the path is checked again after the root or system editor.
void tst_editingValues::cancelledEditorsChangeNothing()
{
    start(QStringLiteral("alpha"));
    QCOMPARE(m_dialog->warning->text(), QString());
    m_catcher->setResponder([](QWidget *modal) {
        for (QLineEdit *edit : modal->findChildren<QLineEdit *>())
            QTest::keyClicks(edit, QStringLiteral("55"));
        QTest::keyClick(modal, Qt::Key_Escape);
        return true;
    });
    QVERIFY(QDir(m_root + QLatin1String("/alpha")).removeRecursively());
    QTest::mouseClick(m_dialog->setRoot, Qt::LeftButton);
    QCOMPARE(m_dialog->warning->text(), QStringLiteral("This path does not exist!"));
    addSystem(QStringLiteral("alpha"));
    QTest::mouseClick(m_dialog->setSystem, Qt::LeftButton);
    QCOMPARE(m_dialog->warning->text(), QString());
    for (QPushButton *button : {m_dialog->setServer, m_dialog->setReserveServer, m_dialog->setWorkstation})
        QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(m_catcher->seen.size(), 5);
    QCOMPARE(m_dialog->root->text(), m_root);
    QCOMPARE(m_dialog->system->text(), QStringLiteral("alpha"));
    QCOMPARE(m_dialog->server->text(), QStringLiteral("/srv/main"));
    QCOMPARE(m_dialog->reserveserver->text(), QString());
    QCOMPARE(m_dialog->workstation->text(), QStringLiteral("1"));
}

QTEST_MAIN(tst_editingValues)
#include "tst_editingValues.moc"
