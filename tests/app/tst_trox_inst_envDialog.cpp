#include "editortesting.h"
#include "loadwatcher.h"
#include "pathrules.h"
#include "sandbox.h"
#include "trox_inst_envDialog.h"
#include "ValueLabel.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>

namespace {

QLabel *label(QWidget *dialog, const char *name)
{
    return dialog->findChild<QLabel *>(QLatin1String(name));
}

// The cell of a widget inside its group box's grid, or (-1,...) when it is not in a grid.
QVector<int> gridCell(QWidget *widget)
{
    QLayout *column = widget->parentWidget()->layout();
    auto *grid =
        column && column->count() ? qobject_cast<QGridLayout *>(column->itemAt(0)->layout()) : nullptr;
    if (!grid)
        return {-1, -1, -1, -1};
    int row, col, rowSpan, colSpan;
    grid->getItemPosition(grid->indexOf(widget), &row, &col, &rowSpan, &colSpan);
    return {row, col, rowSpan, colSpan};
}

// "NAME=value" is inherited; "machine:NAME=value" and "user:NAME=value" are lines of the two files.
void setStoredAndInherited(const Sandbox &sandbox, const QStringList &assignments)
{
    QByteArray files[2];
    QStringList inherited;
    for (const QString &assignment : assignments) {
        const int file = assignment.startsWith(QLatin1String("machine:")) ? 0
                         : assignment.startsWith(QLatin1String("user:"))  ? 1
                                                                          : -1;
        if (file < 0)
            inherited.append(assignment);
        else
            files[file] += assignment.mid(assignment.indexOf(QLatin1Char(':')) + 1).toUtf8() + '\n';
    }
    Sandbox::setVariables(inherited);
    Sandbox::writeFile(machineEnvFile(sandbox), files[0]);
    Sandbox::writeFile(userEnvFile(sandbox.userConfig()), files[1]);
}

} // namespace

class tst_trox_inst_envDialog : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void structure_data();
    void structure();
    void setButtonsStayNarrow();
    void longValueStaysOnScreen();
    void namesSizeAndHelp();
    void spokenNames_data();
    void spokenNames();
    void keyboard_data();
    void keyboard();
    void fitsTheScreen();

    void load_data();
    void load();
    void pathWarningFollowsTheDirectory();
    void standAloneToggle();
    void cancelWritesNothing();

private:
    std::unique_ptr<Sandbox> m_sandbox;
};

void tst_trox_inst_envDialog::init()
{
    m_sandbox = std::make_unique<Sandbox>();
}

void tst_trox_inst_envDialog::cleanup()
{
    m_sandbox.reset();
    QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
}

void tst_trox_inst_envDialog::structure_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("parentName");
    QTest::addColumn<QVector<int>>("cell");
    const auto row = [](const char *name, const char *className, const char *parent,
                        QVector<int> cell = {-1}) {
        QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(className)
                            << QString::fromLatin1(parent) << cell;
    };
    row("groupBox4", "QGroupBox", "trox_inst_envDialogBase");
    row("system", "QLabel", "groupBox4", {1, 1, 1, 1});
    row("textLabel1_2", "QLabel", "groupBox4", {1, 0, 1, 1});
    row("setRoot", "QPushButton", "groupBox4", {0, 2, 1, 1});
    row("setSystem", "QPushButton", "groupBox4", {1, 2, 1, 1});
    row("root", "QLabel", "groupBox4", {0, 1, 1, 1});
    row("textLabel1", "QLabel", "groupBox4", {0, 0, 1, 1});
    row("warning", "QLabel", "groupBox4", {2, 1, 1, 1});
    row("textLabel1_4", "QLabel", "trox_inst_envDialogBase");
    row("groupBox5", "QGroupBox", "trox_inst_envDialogBase");
    row("standalone", "QCheckBox", "groupBox5", {1, 2, 1, 1});
    row("setServer", "QPushButton", "groupBox5", {0, 4, 1, 1});
    row("textLabel1_2_3", "QLabel", "groupBox5", {0, 0, 1, 1});
    row("server", "QLabel", "groupBox5", {0, 1, 1, 3});
    row("textLabel1_2_3_2", "QLabel", "groupBox5", {2, 0, 1, 1});
    row("reserveserver", "QLabel", "groupBox5", {2, 1, 1, 3});
    row("setReserveServer", "QPushButton", "groupBox5", {2, 4, 1, 1});
    row("groupBox6", "QGroupBox", "trox_inst_envDialogBase");
    row("textLabel1_2_2", "QLabel", "groupBox6");
    row("workstation", "QLabel", "groupBox6");
    row("setWorkstation", "QPushButton", "groupBox6");
    row("groupBox4_2", "QGroupBox", "trox_inst_envDialogBase");
    row("developer", "QCheckBox", "groupBox4_2");
    row("textLabel1_3", "QLabel", "groupBox4_2");
    row("ok", "QPushButton", "trox_inst_envDialogBase");
    row("cancel", "QPushButton", "trox_inst_envDialogBase");
}

void tst_trox_inst_envDialog::structure()
{
    QFETCH(QString, name);
    QFETCH(QString, className);
    QFETCH(QString, parentName);
    QFETCH(QVector<int>, cell);
    trox_inst_envDialog dialog;
    auto *widget = dialog.findChild<QWidget *>(name);
    QVERIFY(widget);
    QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), className);
    QCOMPARE(widget->parentWidget()->objectName(), parentName);
    if (cell.first() >= 0)
        QCOMPARE(gridCell(widget), cell);
}

void tst_trox_inst_envDialog::setButtonsStayNarrow()
{
    Sandbox::setVariables({"OV_ROOT=/r", "OV_SYSTEM=s"});
    trox_inst_envDialog dialog;
    dialog.resize(1400, 700);
    QVERIFY(loadsQuietly(dialog));
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    for (QPushButton *button : {dialog.setRoot, dialog.setSystem, dialog.setServer, dialog.setReserveServer,
                                dialog.setWorkstation}) {
        QVERIFY2(button->width() <= 45, qPrintable(button->objectName()));
        QCOMPARE(button->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    }
    // The value labels take the rest of the row; the caption labels keep their width.
    QVERIFY(dialog.root->width() > dialog.width() / 2);
    QCOMPARE(dialog.textLabel1->width(), dialog.textLabel1->sizeHint().width());
    dialog.reject();
}

// A value too long for the screen is shown shortened in the middle; Ok still compares the whole of it.
void tst_trox_inst_envDialog::longValueStaysOnScreen()
{
    const QString value = QLatin1Char('/') + QString(248, QLatin1Char('r')) + QLatin1String("/end");
    // Loaded, not typed in: a load after the window is exposed would replace a typed value.
    Sandbox::setVariables({QLatin1String("OV_ROOT=") + value, QStringLiteral("OV_SYSTEM=s")});
    trox_inst_envDialog dialog;
    QVERIFY(loadsQuietly(dialog));
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QVERIFY(dialog.frameGeometry().width() <= dialog.screen()->availableGeometry().width());
    QCOMPARE(dialog.root->text(), value);
    const QString shown = static_cast<ValueLabel *>(dialog.root)->shownText();
    QVERIFY(shown.startsWith(QLatin1String("/rr")) && shown.endsWith(QLatin1String("/end")));
    QVERIFY(shown.size() < value.size());
    dialog.reject();
}

void tst_trox_inst_envDialog::namesSizeAndHelp()
{
    trox_inst_envDialog unnamed;
    QCOMPARE(unnamed.objectName(), QStringLiteral("trox_inst_envDialogBase"));
    QVERIFY(unnamed.width() >= 531 && unnamed.height() >= 658);
    QVERIFY(unnamed.isSizeGripEnabled());
    trox_inst_envDialog named(nullptr, "mainSettings", true);
    QCOMPARE(named.objectName(), QStringLiteral("mainSettings"));
    QVERIFY(named.isModal());
    QCOMPARE(unnamed.windowTitle(), QStringLiteral("Set Active TROX System"));
    for (QWidget *widget : QList<QWidget *>{unnamed.root, unnamed.system, unnamed.server, unnamed.workstation,
                                            unnamed.standalone, unnamed.developer}) {
        QVERIFY2(!widget->toolTip().isEmpty(), qPrintable(widget->objectName()));
        QCOMPARE(widget->whatsThis(), widget->toolTip());
    }
    const QString tip = unnamed.reserveserver->toolTip();
    const QString whatsThis = unnamed.reserveserver->whatsThis();
    QVERIFY(!tip.contains(QLatin1String("\n\n")));
    QCOMPARE(QString(whatsThis).replace(QLatin1String("\n\n"), QLatin1String("\n")) + QLatin1Char('\n'), tip);
    // The reserve server's examples are not the server's.
    const QString example = PathRules::native().examplePaths(QStringLiteral("\\\\trox-master\\share\\path"));
    QVERIFY(unnamed.server->toolTip().contains(example));
    QVERIFY(!tip.contains(example));
}

// What a screen reader reads: each Set button says what it sets, each value its caption and value, and
// no name or description is markup.
void tst_trox_inst_envDialog::spokenNames_data()
{
    QTest::addColumn<QString>("widget");
    QTest::addColumn<QString>("name");
    QTest::newRow("setRoot") << "setRoot"
                             << "Set root path";
    QTest::newRow("setSystem") << "setSystem"
                               << "Set system";
    QTest::newRow("setServer") << "setServer"
                               << "Set system server";
    QTest::newRow("setReserveServer") << "setReserveServer"
                                      << "Set reserve server";
    QTest::newRow("setWorkstation") << "setWorkstation"
                                    << "Set workstation ID";
    QTest::newRow("root and its value") << "root"
                                        << "Root: /r";
    QTest::newRow("empty value: the caption") << "workstation"
                                              << "Workstation ID";
    QTest::newRow("note, as plain text") << "textLabel1_4"
                                         << "Important! (pain and hassle saving tip follows):";
}

void tst_trox_inst_envDialog::spokenNames()
{
    QFETCH(QString, widget);
    QFETCH(QString, name);
    Sandbox::setVariables({"OV_ROOT=/r", "OV_SYSTEM=s"});
    trox_inst_envDialog dialog;
    QVERIFY(loadsQuietly(dialog));
    QAccessibleInterface *spoken = QAccessible::queryAccessibleInterface(dialog.findChild<QWidget *>(widget));
    QVERIFY(spoken->text(QAccessible::Name).startsWith(name));
    QVERIFY(!spoken->text(QAccessible::Description).contains(QLatin1Char('<')));
    QCOMPARE(dialog.setRoot->text(), QStringLiteral("Set"));
    dialog.reject();
}

// Tab walks the values and their buttons in reading order; Enter presses the focused button and
// does nothing elsewhere, as there is no default button.
void tst_trox_inst_envDialog::keyboard_data()
{
    QTest::addColumn<int>("tabs");
    QTest::addColumn<QString>("focused");
    QTest::addColumn<QString>("enterOpens"); // the window Enter opens, "-" for none, "closed"
    QTest::newRow("start") << 0 << "root"
                           << "-";
    QTest::newRow("root's Set") << 1 << "setRoot"
                                << "Set root path for Orvane Control Systems";
    QTest::newRow("server's Set") << 5 << "setServer"
                                  << "Set path to system server";
    QTest::newRow("stand-alone box") << 6 << "standalone"
                                     << "-";
    QTest::newRow("developer box") << 11 << "developer"
                                   << "-";
    QTest::newRow("cancel") << 13 << "cancel"
                            << "closed";
}

void tst_trox_inst_envDialog::keyboard()
{
    QFETCH(int, tabs);
    QFETCH(QString, focused);
    QFETCH(QString, enterOpens);
    Sandbox::setVariables({"OV_ROOT=/r", "OV_SYSTEM=s", "OV_SERVER_ROOT=/srv"});
    trox_inst_envDialog dialog;
    ModalCatcher catcher;
    catcher.ignore(&dialog);
    catcher.setResponder([](QWidget *editor) { return qobject_cast<QDialog *>(editor)->close(); });
    QVERIFY(LoadWatcher::showLoaded(dialog));
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    for (int i = 0; i < tabs; ++i)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget()->objectName(), focused);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QStringList titles;
    for (const ModalCatcher::Seen &seen : std::as_const(catcher.seen))
        titles << seen.title;
    QCOMPARE(titles, enterOpens == QLatin1String("-") || enterOpens == QLatin1String("closed")
                         ? QStringList()
                         : QStringList{enterOpens});
    QCOMPARE(dialog.isVisible(), enterOpens != QLatin1String("closed"));
    QVERIFY(!dialog.developer->isChecked());
    dialog.reject();
}

// With a 16 pt font the form is taller than the offscreen screen: the rows below the active system
// scroll, the note first, and Ok and Cancel stay inside the screen.
void tst_trox_inst_envDialog::fitsTheScreen()
{
    Sandbox::setVariables({"OV_ROOT=/r", "OV_SYSTEM=s"});
    const QFont before = QApplication::font();
    QFont large = before;
    large.setPointSize(16);
    QApplication::setFont(large);
    trox_inst_envDialog dialog;
    QApplication::setFont(before);
    QVERIFY(loadsQuietly(dialog));
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const QRect available = dialog.screen()->availableGeometry();
    QVERIFY(available.contains(dialog.frameGeometry()));
    for (QWidget *button : {static_cast<QWidget *>(dialog.ok), static_cast<QWidget *>(dialog.cancel)})
        QVERIFY(available.contains(QRect(button->mapToGlobal(QPoint(0, 0)), button->size())));
    auto *area = dialog.findChild<QScrollArea *>();
    QVERIFY(area && area->widget()->isAncestorOf(dialog.groupBox4_2));
    QCOMPARE(area->widget()->layout()->itemAt(0)->widget(), dialog.textLabel1_4);
    QVERIFY(!area->isAncestorOf(dialog.groupBox4) && !area->isAncestorOf(dialog.ok));
    dialog.reject();
}

// A missing root or system is reported, root first, and rejects the dialog once the load has run.
void tst_trox_inst_envDialog::load_data()
{
    QTest::addColumn<QStringList>("environment");
    QTest::addColumn<QString>("storedServer"); // last known server in the preference store, "-" for none
    QTest::addColumn<QStringList>("labels");   // root, system, server, reserveserver, workstation
    QTest::addColumn<bool>("standalone");
    QTest::addColumn<bool>("developer");
    QTest::addColumn<QStringList>("errors");
    const auto row = [](const QByteArray &name, const QStringList &environment, const char *storedServer,
                        const QStringList &labels, bool standalone = false, bool developer = false,
                        const QStringList &errors = {}) {
        QTest::newRow(name.constData()) << environment << QString::fromLatin1(storedServer) << labels
                                        << standalone << developer << errors;
    };
    const QStringList plant{"OV_ROOT=/opt/trox", "OV_SYSTEM=plant"};
    row("all set",
        plant + QStringList{"OV_SERVER_ROOT=/srv/trox", "OV_RESERVE_SERVER_ROOT=/srv/spare",
                            "OV_WORKSTATION=12", "OV_DEVELOPER=true"},
        "/mnt/ignored", {"/opt/trox", "plant", "/srv/trox", "/srv/spare", "12"}, false, true);
    row("stand-alone shows last server", plant + QStringList{"OV_SERVER_ROOT=/opt/trox"}, "/srv/last",
        {"/opt/trox", "plant", "/srv/last", "", ""}, true);
    row("stand-alone, no stored server", plant + QStringList{"OV_SERVER_ROOT=/opt/trox"}, "-",
        {"/opt/trox", "plant", "", "", ""}, true);
    row("case differs: not stand-alone", plant + QStringList{"OV_SERVER_ROOT=/opt/TROX"}, "/srv/last",
        {"/opt/trox", "plant", "/opt/TROX", "", ""});
    row("trailing separator: not stand-alone", plant + QStringList{"OV_SERVER_ROOT=/opt/trox/"}, "-",
        {"/opt/trox", "plant", "/opt/trox/", "", ""});
    row("server unset: not stand-alone", plant, "/srv/last", {"/opt/trox", "plant", "", "", ""});
    // Windows unsets a variable set to nothing.
    if (Sandbox::linuxMachine())
        row("empty root and server count as set and equal", {"OV_ROOT=", "OV_SYSTEM=", "OV_SERVER_ROOT="},
            "/srv/last", {"", "", "/srv/last", "", ""}, true);
    for (const char *developer : {"True", "1", "true "})
        row(QByteArray("developer ").append(developer),
            {"OV_ROOT=/r", "OV_SYSTEM=s", QLatin1String("OV_DEVELOPER=") + developer}, "-",
            {"/r", "s", "", "", ""});
    row("markup shown as text", {"OV_ROOT=<b>/r</b>", "OV_SYSTEM=s"}, "-", {"<b>/r</b>", "s", "", "", ""});
    if (Sandbox::linuxMachine())
        row("stored values over inherited ones",
            {"OV_ROOT=/stale", "OV_SYSTEM=plant", "OV_WORKSTATION=12", "machine:OV_ROOT=/opt/trox",
             "machine:OV_WORKSTATION=40", "user:OV_SERVER_ROOT=\"${OV_ROOT}\""},
            "-", {"/opt/trox", "plant", "", "", "40"}, true);
    const QString noRoot = QStringLiteral("The root path environment has not been set (OV_ROOT)");
    const QString noSystem = QStringLiteral("The system environment has not been set (OV_SYSTEM)");
    row("root missing", {"OV_SYSTEM=s", "OV_SERVER_ROOT=/srv"}, "-", {"", "s", "/srv", "", ""}, false, false,
        {noRoot});
    row("system missing", {"OV_ROOT=/r"}, "-", {"/r", "", "", "", ""}, false, false, {noSystem});
    row("both missing", {}, "-", {"", "", "", "", ""}, false, false, {noRoot, noSystem});
    if (Sandbox::linuxMachine())
        row("root only stored", {"machine:OV_ROOT=/r", "user:OV_SYSTEM="}, "-", {"/r", "", "", "", ""}, false,
            false, {noSystem});
}

void tst_trox_inst_envDialog::load()
{
    QFETCH(QStringList, environment);
    QFETCH(QString, storedServer);
    QFETCH(QStringList, labels);
    QFETCH(bool, standalone);
    QFETCH(bool, developer);
    QFETCH(QStringList, errors);
    setStoredAndInherited(*m_sandbox, environment);
    if (storedServer != QLatin1String("-"))
        openPreferences()->setValue(QStringLiteral("lastKnownServer/server"), storedServer);

    trox_inst_envDialog dialog;
    ModalCatcher catcher;
    catcher.ignore(&dialog);
    QVERIFY(LoadWatcher::showLoaded(dialog));
    QStringList expected;
    for (const QString &error : std::as_const(errors))
        expected << QLatin1String("TROX - Error|") + error;
    QCOMPARE(messageBoxes(catcher), expected);
    for (const ModalCatcher::Seen &box : std::as_const(catcher.seen))
        QCOMPARE(box.icon, int(QMessageBox::Critical));
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QCOMPARE(dialog.isVisible(), errors.isEmpty());
    // The load goes on after the boxes: what is set is still shown.
    const char *const names[] = {"root", "system", "server", "reserveserver", "workstation"};
    for (int i = 0; i < 5; ++i)
        QCOMPARE(label(&dialog, names[i])->text(), labels.at(i));
    if (!errors.isEmpty())
        return;
    QCOMPARE(dialog.standalone->isChecked(), standalone);
    QCOMPARE(dialog.developer->isChecked(), developer);
    for (QWidget *serverWidget :
         QList<QWidget *>{dialog.server, dialog.setServer, dialog.reserveserver, dialog.setReserveServer})
        QCOMPARE(serverWidget->isEnabled(), !standalone);
    // A change of language empties what was loaded, the path warning included.
    QVERIFY(QMetaObject::invokeMethod(&dialog, "languageChange"));
    for (const char *name : {"root", "system", "server", "reserveserver", "workstation", "warning"})
        QVERIFY2(label(&dialog, name)->text().isEmpty(), name);
    dialog.reject();
}

void tst_trox_inst_envDialog::pathWarningFollowsTheDirectory()
{
    const QString root = m_sandbox->root() + QLatin1String("/systems");
    const QString plant = root + QLatin1String("/plant");
    // A plain file of that name is not a system directory.
    QVERIFY(Sandbox::writeFile(plant, "x"));
    Sandbox::setVariables({QLatin1String("OV_ROOT=") + root, "OV_SYSTEM=plant"});
    trox_inst_envDialog dialog;
    QVERIFY(loadsQuietly(dialog));
    QCOMPARE(dialog.warning->text(), QStringLiteral("This path does not exist!"));
    QVERIFY(QFile::remove(plant) && QDir().mkpath(plant));
    dialog.checkPath();
    QCOMPARE(dialog.warning->text(), QString());
    dialog.reject();
}

void tst_trox_inst_envDialog::standAloneToggle()
{
    openPreferences()->setValue(QStringLiteral("lastKnownServer/server"), QStringLiteral("/srv/last"));
    Sandbox::setVariables({"OV_ROOT=/r", "OV_SYSTEM=s", "OV_SERVER_ROOT=/r"});
    trox_inst_envDialog dialog;
    QVERIFY(loadsQuietly(dialog));
    QVERIFY(dialog.standalone->isChecked());
    QTest::mouseClick(dialog.standalone, Qt::LeftButton, {}, QPoint(4, dialog.standalone->height() / 2));
    QVERIFY(!dialog.standalone->isChecked());
    QVERIFY(dialog.server->isEnabled() && dialog.setServer->isEnabled() &&
            dialog.reserveserver->isEnabled() && dialog.setReserveServer->isEnabled());
    QCOMPARE(dialog.server->text(), QStringLiteral("/srv/last"));
    dialog.standalone->setChecked(true);
    QVERIFY(!dialog.server->isEnabled() && !dialog.reserveserver->isEnabled());
    QCOMPARE(dialog.server->text(), QStringLiteral("/srv/last"));
    dialog.reject();
}

void tst_trox_inst_envDialog::cancelWritesNothing()
{
    Sandbox::setVariables({"OV_ROOT=/r", "OV_SYSTEM=s", "OV_SERVER_ROOT=/srv", "OV_WORKSTATION=3"});
    trox_inst_envDialog dialog;
    ModalCatcher catcher;
    catcher.ignore(&dialog);
    connect(new LoadWatcher(&dialog), &LoadWatcher::finished, &dialog, [&dialog] {
        dialog.developer->setChecked(true);
        QTest::mouseClick(dialog.cancel, Qt::LeftButton);
    });
    QCOMPARE(dialog.exec(), int(QDialog::Rejected));
    QVERIFY(catcher.seen.isEmpty());
    QCOMPARE(QDir(m_sandbox->root()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList({"home", "prefix"}));
    QVERIFY(QDir(m_sandbox->machine("/")).isEmpty());
    QVERIFY(QDir(m_sandbox->userConfig()).isEmpty());
}

QTEST_MAIN(tst_trox_inst_envDialog)
#include "tst_trox_inst_envDialog.moc"
