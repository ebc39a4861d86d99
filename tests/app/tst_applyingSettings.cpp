#include "editortesting.h"
#include "machinestore.h"
#include "privatebus.h"
#include "sandbox.h"
#include "trox_inst_envDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>

#include <utility>

// Ok against a sandboxed machine: what is written where, what the operator is told.
namespace {

const QString restartNotice =
    QStringLiteral("<p><b>Important</b></p><p>You need to restart applications for this "
                   "change to take effect, including all TROX applications and Visual "
                   "Studio.</p>");

} // namespace

class tst_applyingSettings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void nothingChanged_data();
    void nothingChanged();
    void refusedWrites_data();
    void refusedWrites();
    void oneAnnouncementWithTheEffectiveValues();
    void unansweredAnnouncementKeepsTheDialogPainting();

private:
    // Starts the dialog on this environment ("NAME=value"), lets the load run.
    void start(const QStringList &environment);
    // Presses Ok, answering every box, and returns the boxes seen; every one of them must find the
    // dialog busy, so that Ok cannot be pressed twice.
    QVector<ModalCatcher::Seen> pressOk();

    std::unique_ptr<Sandbox> m_sandbox;
    std::unique_ptr<trox_inst_envDialog> m_dialog;
    QString m_root;
    QStringList m_idleAtBox;
};

void tst_applyingSettings::init()
{
    m_sandbox = std::make_unique<Sandbox>();
    m_root = m_sandbox->root() + QLatin1String("/systems");
    for (const char *system : {"/alpha/config/system", "/beta/config/system"})
        QVERIFY(QDir().mkpath(m_root + QLatin1String(system)));
}

void tst_applyingSettings::cleanup()
{
    m_dialog.reset();
    m_sandbox.reset();
    const QStringList idleAtBox = std::exchange(m_idleAtBox, {});
    QCOMPARE(idleAtBox, QStringList());
}

void tst_applyingSettings::start(const QStringList &environment)
{
    QStringList assignments = environment;
    assignments.replaceInStrings(QLatin1String("$ROOT"), m_root);
    Sandbox::setVariables(assignments);
    m_dialog = std::make_unique<trox_inst_envDialog>();
    QVERIFY(loadsQuietly(*m_dialog));
}

QVector<ModalCatcher::Seen> tst_applyingSettings::pressOk()
{
    ModalCatcher catcher;
    catcher.ignore(m_dialog.get());
    catcher.setResponder([this](QWidget *box) {
        if (m_dialog->ok->text() != QLatin1String("Wait..") || m_dialog->ok->isEnabled() ||
            m_dialog->cancel->isEnabled())
            m_idleAtBox.append(box->windowTitle());
        return false;
    });
    QTest::mouseClick(m_dialog->ok, Qt::LeftButton);
    if (m_dialog->result() != QDialog::Accepted || m_dialog->isVisible())
        qWarning("Ok did not close the dialog as accepted");
    return catcher.seen;
}

void tst_applyingSettings::nothingChanged_data()
{
    QTest::addColumn<bool>("standalone");
    QTest::newRow("with a server") << false;
    QTest::newRow("stand-alone") << true;
}

void tst_applyingSettings::nothingChanged()
{
    QFETCH(bool, standalone);
    openPreferences()->setValue(QStringLiteral("lastKnownServer/server"), QStringLiteral("/srv/remembered"));
    start({"OV_ROOT=$ROOT", "OV_SYSTEM=alpha",
           standalone ? QStringLiteral("OV_SERVER_ROOT=$ROOT") : QStringLiteral("OV_SERVER_ROOT=/srv/main"),
           "OV_WORKSTATION=12"});
    QCOMPARE(pressOk().size(), 0);
    QCOMPARE(m_dialog->result(), int(QDialog::Accepted));
    QCOMPARE(Sandbox::readFile(machineEnvFile(*m_sandbox)), QByteArray());
    QCOMPARE(m_sandbox->userValues(), QByteArray());
    Sandbox::logInAgain();
    for (const char *name : Sandbox::variables())
        QVERIFY2(Sandbox::linuxMachine() || !qEnvironmentVariableIsSet(name), name);
    // The profiles and the last server are written on every Ok all the same.
    const QByteArray network = Sandbox::newProfile("[Network]\nWorkstation=12\n");
    QCOMPARE(Sandbox::readFile(profilePath(QStringLiteral("xsv.ini"))), network);
    QCOMPARE(Sandbox::readFile(profilePath(QStringLiteral("taskbase.ini"))),
             Sandbox::newProfile("[System]\nWorkstation=12\n"));
    QCOMPARE(Sandbox::readFile(m_root + QLatin1String("/alpha/config/system/trox_system.ini")), network);
    QCOMPARE(openPreferences()->value(QStringLiteral("lastKnownServer/server")).toString(),
             standalone ? QStringLiteral("/srv/remembered") : QStringLiteral("/srv/main"));
}

void tst_applyingSettings::refusedWrites_data()
{
    QTest::addColumn<bool>("userRefused");
    QTest::newRow("machine-wide refused: lands per user") << false;
    QTest::newRow("both refused") << true;
}

void tst_applyingSettings::refusedWrites()
{
    QFETCH(bool, userRefused);
    const quint32 refused = m_sandbox->refuseMachineWrites();
    QVERIFY(refused != 0);
    if (userRefused)
        QVERIFY(m_sandbox->refuseUserWrites() != 0);
    start({"OV_ROOT=$ROOT", "OV_SYSTEM=alpha", "OV_SERVER_ROOT=/srv/main", "OV_WORKSTATION=4"});
    m_dialog->system->setText(QStringLiteral("beta"));
    m_dialog->workstation->setText(QStringLiteral("9"));
    const auto seen = pressOk();
    QCOMPARE(seen.size(), 2);
    QCOMPARE(seen.first().title, QStringLiteral("TROX - Error"));
    QCOMPARE(seen.first().icon, int(QMessageBox::Warning));
    const QString text = seen.first().text;
    QVERIFY2(text.contains(QLatin1String("OV_SYSTEM")) && text.contains(describeStoreError(refused)) &&
                 !text.contains(QLatin1String("xsv.ini")),
             qPrintable(text));
    QCOMPARE(seen.last().text, restartNotice);
    QCOMPARE(m_dialog->result(), int(QDialog::Accepted));
    if (userRefused)
        return;
    // The operator learns who got the values and that no one else did; for root that is a failure.
    QVERIFY(text.contains(QLatin1String("OV_SYSTEM, OV_WORKSTATION")) && text.contains(accountName()));
    QVERIFY(text.contains(runsPrivileged()
                              ? QLatin1String("reaches no other user")
                              : QLatin1String("Other users of this workstation do not get them")));
    QCOMPARE(m_sandbox->userValues(), QByteArray("OV_SYSTEM=\"beta\"\nOV_WORKSTATION=\"9\"\n"));
}

void tst_applyingSettings::oneAnnouncementWithTheEffectiveValues()
{
    if (!Sandbox::linuxMachine())
        QSKIP("Windows announces through a broadcast the Win32 suites prove");
    PrivateBus bus(m_sandbox->root() + QLatin1String("/bus"), QStringLiteral(STORE_HELPER));
    QVERIFY(!bus.address().isEmpty());
    QVERIFY(bus.startManager(QStringLiteral("systemd")));
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.address().toUtf8());
    // A per-user value from an earlier refused write still wins over the machine-wide one.
    QVERIFY(
        Sandbox::writeFile(userEnvFile(m_sandbox->userConfig()), "OV_RESERVE_SERVER_ROOT=\"/home/spare\"\n"));
    start({"OV_ROOT=$ROOT", "OV_SYSTEM=alpha", "OV_SERVER_ROOT=/srv/main",
           "OV_RESERVE_SERVER_ROOT=/srv/spare", "OV_WORKSTATION=4", "OV_DEVELOPER=false"});
    m_dialog->root->setText(m_root + QLatin1String("/"));
    m_dialog->system->setText(QStringLiteral("beta"));
    m_dialog->server->setText(QStringLiteral("%OV_ROOT%"));
    m_dialog->reserveserver->setText(QStringLiteral("/srv/other"));
    m_dialog->workstation->setText(QStringLiteral("5"));
    m_dialog->developer->setChecked(true);
    QCOMPARE(pressOk().size(), 1);

    const QByteArray root = m_root.toUtf8() + '/';
    QCOMPARE(Sandbox::readFile(bus.record()),
             "OV_ROOT=" + root + "\nOV_SYSTEM=beta\nOV_SERVER_ROOT=" + root +
                 "\nOV_RESERVE_SERVER_ROOT=/home/spare\nOV_WORKSTATION=5\nOV_DEVELOPER=true\n.\n");
    QCOMPARE(bus.probe(QStringLiteral("Value"), QStringLiteral("OV_SERVER_ROOT")), QString::fromUtf8(root));
    bus.probe(QStringLiteral("Quit"));
}

void tst_applyingSettings::unansweredAnnouncementKeepsTheDialogPainting()
{
    if (!Sandbox::linuxMachine())
        QSKIP("Windows announces through a broadcast the Win32 suites prove");
    PrivateBus bus(m_sandbox->root() + QLatin1String("/bus"), QStringLiteral(STORE_HELPER));
    QVERIFY(bus.startManager(QStringLiteral("silent")));
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.address().toUtf8());
    start({"OV_ROOT=$ROOT", "OV_SYSTEM=alpha", "OV_SERVER_ROOT=/srv/main", "OV_WORKSTATION=4"});
    m_dialog->developer->setChecked(true);

    // While the manager keeps Ok waiting, the dialog's event loop must still run: repaints and
    // timers are served, and the button says what is going on.
    int ticksWhileWaiting = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [&] {
        const QWidget *modal = QApplication::activeModalWidget();
        if (m_dialog->ok->text() == QLatin1String("Wait..") && !(modal && modal->inherits("QMessageBox")))
            ++ticksWhileWaiting;
    });
    ticker.start(100);
    // Returning at all shows that Ok gave up on the manager; how soon is a matter for the benchmarks.
    QCOMPARE(pressOk().size(), 1);
    QVERIFY2(ticksWhileWaiting >= 5, qPrintable(QString::number(ticksWhileWaiting)));
}

QTEST_MAIN(tst_applyingSettings)
#include "tst_applyingSettings.moc"
