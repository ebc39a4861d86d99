#include "loadwatcher.h"
#include "modalcatcher.h"
#include "preferences.h"
#include "sandbox.h"
#include "storetesting.h"
#include "trox_inst_envDialog.h"

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

// Hostile values loaded from the process environment and typed into the editors: whatever Ok writes
// reads back exactly (environment files through systemd's own generator), or the operator is warned;
// no value adds a variable, a key or a section.
namespace {

QList<QByteArray> hostileValues()
{
    // Line breaks and control characters, quotes, expansions of shells, systemd and Windows, INI and
    // environment-file syntax, backslashes, broken and unusual UTF-8, blanks, workstation numbers, lengths.
    QList<QByteArray> values{"a\nOV_INJECTED=1", "a\rOV_INJECTED=1", "a\r\n[Evil]\r\nKey=1", "\n",
                             "trailing\n",       "tab\there",        "\x01\x02\x1b[31mred",  "del\x7f"};
    values += {"\"",    "'",       "\"quoted\"",    "'single'",   "\"unclosed", "$",    "$$",
               "$HOME", "${HOME}", "${OV_ROOT:-x}", "${OV_X:+y}", "`id`",       "$(id)"};
    values += {"%OV_ROOT%",     "%OV_NOT_SET%\\bin", "%%",       "%OV_ROOT",  "a=b",          "=",
               "OV_INJECTED=1", "#comment",          ";comment", "[Network]", "Workstation=9"};
    values += {"\\", "a\\", "\\\\server\\share\\", "x\\\\\\\""};
    values += {"\xff\xfe", "\xc3\x28 bad", "Gr\303\266\303\237e", "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e",
               "\xf0\x9f\x98\x80"};
    values += {"zero\xe2\x80\x8bwidth", "line\xe2\x80\xa8sep", "nel\xc2\x85", "non\357\267\220character"};
    values += {"\xef\xbf\xbf", "\xf4\x8f\xbf\xbe", "  leading", "trailing  ", " ", "<b>bold</b>"};
    values += {"7", " 7 ", "007", "9999", "-1"};
    values +=
        {QByteArray(32767, 'x'), QByteArray(32 * 1024, 'x'), QByteArray("\"$`\\%").repeated(32 * 1024 / 5)};
    return values;
}

// Sections and keys of a profile file, "section/key" -> value, in order.
QList<QPair<QByteArray, QByteArray>> profileEntries(const QByteArray &contents)
{
    QList<QPair<QByteArray, QByteArray>> entries;
    QByteArray section;
    for (const QByteArray &line : contents.split('\n')) {
        if (line.startsWith('[')) {
            section = line;
            entries.append({section, QByteArray()});
        } else if (line.contains('=')) {
            entries.append({section + line.left(line.indexOf('=')), line.mid(line.indexOf('=') + 1)});
        }
    }
    return entries;
}

} // namespace

class tst_hostileInputs : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void hostileValue_data();
    void hostileValue();

private:
    // Presses Ok and checks every file it may have written against the dialog's labels.
    void pressOkAndCheck(bool standalone);

    std::unique_ptr<Sandbox> m_sandbox;
    std::unique_ptr<trox_inst_envDialog> m_dialog;
};

void tst_hostileInputs::init()
{
    m_sandbox = std::make_unique<Sandbox>();
}

void tst_hostileInputs::cleanup()
{
    m_dialog.reset();
    m_sandbox.reset();
}

void tst_hostileInputs::hostileValue_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<bool>("typed");
    const QList<QByteArray> values = hostileValues();
    for (qsizetype i = 0; i < values.size(); ++i) {
        const QByteArray label = values.at(i).left(24).toPercentEncoding(" \"$%\\");
        QTest::addRow("loaded %d %s", int(i), label.constData()) << values.at(i) << false;
        QTest::addRow("typed %d %s", int(i), label.constData()) << values.at(i) << true;
    }
    qInfo("%d hostile values", int(values.size()));
}

void tst_hostileInputs::hostileValue()
{
    QFETCH(QByteArray, value);
    QFETCH(bool, typed);
    if (!generatorAvailable())
        QSKIP("systemd's environment generator is not installed");
    if (!typed) {
        // Loaded: every variable starts with the value; stand-alone makes Ok write the root as the
        // server root, and the workstation goes into the profiles.
        for (const char *name : Sandbox::variables())
            qputenv(name, value);
        qputenv("OV_SERVER_ROOT", "/srv/main");
    } else {
        Sandbox::setVariables({QStringLiteral("OV_ROOT=/opt/trox"), QStringLiteral("OV_SYSTEM=plant"),
                               QStringLiteral("OV_SERVER_ROOT=/srv/main")});
    }
    m_dialog = std::make_unique<trox_inst_envDialog>();
    QVERIFY(LoadWatcher::showLoaded(*m_dialog));

    if (!typed) {
        QCOMPARE(m_dialog->root->text(), qEnvironmentVariable("OV_ROOT"));
        QCOMPARE(m_dialog->workstation->text(), qEnvironmentVariable("OV_WORKSTATION"));
        m_dialog->standalone->setChecked(true);
    } else {
        // Each editor gets the value typed into its line edit and Ok; one that refuses it is cancelled.
        const QString text = QString::fromUtf8(value);
        ModalCatcher catcher;
        catcher.ignore(m_dialog.get());
        catcher.setResponder([&](QWidget *modal) {
            if (qobject_cast<QMessageBox *>(modal))
                return false;
            modal->findChild<QLineEdit *>()->setText(text);
            for (const char *button : {"ok", "buttonOk", "cancel", "buttonCancel"}) {
                if (auto *push = modal->findChild<QPushButton *>(QLatin1String(button));
                    push && modal->isVisible())
                    push->click();
            }
            return true;
        });
        for (QPushButton *set : {m_dialog->setRoot, m_dialog->setSystem, m_dialog->setServer,
                                 m_dialog->setReserveServer, m_dialog->setWorkstation})
            QTest::mouseClick(set, Qt::LeftButton);
        QCOMPARE(m_dialog->system->text(), text.left(32767)); // the chooser takes any text a line edit holds
    }
    pressOkAndCheck(!typed);
}

void tst_hostileInputs::pressOkAndCheck(bool standalone)
{
    const QMap<QString, QString> shown{
        {QStringLiteral("OV_ROOT"), m_dialog->root->text()},
        {QStringLiteral("OV_SYSTEM"), m_dialog->system->text()},
        {QStringLiteral("OV_SERVER_ROOT"), standalone ? m_dialog->root->text() : m_dialog->server->text()},
        {QStringLiteral("OV_RESERVE_SERVER_ROOT"), m_dialog->reserveserver->text()},
        {QStringLiteral("OV_WORKSTATION"), m_dialog->workstation->text()}};
    QMap<QString, QString> baseline;
    for (const char *name : Sandbox::variables())
        baseline.insert(QLatin1String(name), qEnvironmentVariable(name));
    const QString workstation = m_dialog->workstation->text();

    ModalCatcher catcher;
    catcher.ignore(m_dialog.get());
    QTest::mouseClick(m_dialog->ok, Qt::LeftButton);
    QCOMPARE(m_dialog->result(), int(QDialog::Accepted));
    const QString warning = catcher.seen.size() == 2 ? catcher.seen.first().text : QString();

    const auto written = loginReading(Sandbox::readFile(machineEnvFile(*m_sandbox)), m_sandbox->root());
    for (auto it = written.cbegin(); it != written.cend(); ++it)
        QVERIFY2(shown.contains(QString::fromLatin1(it.key())), it.key().constData());
    for (auto it = shown.cbegin(); it != shown.cend(); ++it) {
        if (it.value() == baseline.value(it.key()))
            continue;
        const QByteArray got = written.value(it.key().toLatin1(), "<unset>");
        QVERIFY2(got == it.value().toUtf8() || (got == "<unset>" && warning.contains(it.key())),
                 qPrintable(it.key() + QLatin1String(": ") + QString::fromUtf8(got.left(80))));
    }

    const struct
    {
        QString file;
        QByteArray section;
    } profiles[] = {{m_sandbox->machine("/etc/trox/xsv.ini"), "[Network]"},
                    {m_sandbox->machine("/etc/trox/taskbase.ini"), "[System]"}};
    for (const auto &profile : profiles) {
        const auto entries = profileEntries(Sandbox::readFile(profile.file));
        if (workstation.isEmpty() || warning.contains(QFileInfo(profile.file).fileName())) {
            QVERIFY(entries.isEmpty());
            continue;
        }
        const decltype(entries) expected{{profile.section, QByteArray()},
                                         {profile.section + "Workstation", workstation.toUtf8()}};
        QCOMPARE(entries, expected);
    }
    if (!standalone)
        QCOMPARE(openPreferences()->value(QStringLiteral("lastKnownServer/server")).toString(),
                 shown.value("OV_SERVER_ROOT"));
}

QTEST_MAIN(tst_hostileInputs)
#include "tst_hostileInputs.moc"
