#include "../store/storetesting.h"
#include "loadwatcher.h"
#include "machinestore.h"
#include "modalcatcher.h"
#include "preferences.h"
#include "sandbox.h"
#include "trox_inst_envDialog.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStringDecoder>
#include <QTest>

// Hostile values loaded from the process environment and typed into the editors: whatever Ok writes
// reads back exactly (environment files through systemd's own generator, the registry through
// Windows' own calls), or the operator is warned; no value adds a variable, a key or a section.
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

// A profile value as a program reads it: Windows' reader drops the blanks around it.
QString readBack(const QString &value)
{
    return Sandbox::linuxMachine() ? value : value.trimmed();
}

// Sections and keys of a profile file, "section/key" -> value, in order. Windows writes Unicode
// after a byte order mark, other text in its ANSI code page, and ends lines with CR LF.
QList<QPair<QString, QString>> profileEntries(const QByteArray &contents)
{
    QString text = QString::fromUtf8(contents);
    if (contents.startsWith("\xff\xfe"))
        text = QStringDecoder(QStringConverter::Utf16LE)(contents);
    else if (!Sandbox::linuxMachine())
        text = QString::fromLocal8Bit(contents);
    QList<QPair<QString, QString>> entries;
    QString section;
    for (QString line : text.split(QLatin1Char('\n'))) {
        if (!Sandbox::linuxMachine() && line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (line.startsWith(QLatin1Char('['))) {
            section = line;
            entries.append({section, QString()});
        } else if (line.contains(QLatin1Char('='))) {
            entries.append({section + line.left(line.indexOf(QLatin1Char('='))),
                            readBack(line.mid(line.indexOf(QLatin1Char('=')) + 1))});
        }
    }
    return entries;
}

} // namespace

class tst_hostileInputs : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void hostileValue_data();
    void hostileValue();
};

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
    if (Sandbox::linuxMachine() && !generatorAvailable())
        QSKIP("systemd's environment generator is not installed");
    Sandbox sandbox;
    if (!typed) {
        // Loaded: every variable starts with the value; stand-alone makes Ok write the root as the
        // server root, and the workstation goes into the profiles.
        for (const char *name : Sandbox::variables())
            qputenv(name, value);
        qputenv("OV_SERVER_ROOT", "/srv/main");
    } else {
        Sandbox::setVariables({"OV_ROOT=/opt/trox", "OV_SYSTEM=plant", "OV_SERVER_ROOT=/srv/main"});
    }
    trox_inst_envDialog dialog;
    QVERIFY(LoadWatcher::showLoaded(dialog));

    if (!typed) {
        QCOMPARE(dialog.root->text(), qEnvironmentVariable("OV_ROOT"));
        QCOMPARE(dialog.workstation->text(), qEnvironmentVariable("OV_WORKSTATION"));
        dialog.standalone->setChecked(true);
    } else {
        // Each editor gets the value typed into its line edit and Ok; one that refuses it is cancelled.
        const QString text = QString::fromUtf8(value);
        ModalCatcher catcher;
        catcher.ignore(&dialog);
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
        for (QPushButton *set : {dialog.setRoot, dialog.setSystem, dialog.setServer, dialog.setReserveServer,
                                 dialog.setWorkstation})
            QTest::mouseClick(set, Qt::LeftButton);
        QCOMPARE(dialog.system->text(), text.left(32767)); // the chooser takes any text a line edit holds
    }

    // Ok writes what the labels show, or the warning names what it could not write.
    const QString workstation = dialog.workstation->text();
    const QMap<QString, QString> shown{
        {"OV_ROOT", dialog.root->text()},
        {"OV_SYSTEM", dialog.system->text()},
        {"OV_SERVER_ROOT", typed ? dialog.server->text() : dialog.root->text()},
        {"OV_RESERVE_SERVER_ROOT", dialog.reserveserver->text()},
        {"OV_WORKSTATION", workstation}};
    QMap<QString, QString> baseline;
    for (const char *name : Sandbox::variables())
        baseline.insert(QLatin1String(name), qEnvironmentVariable(name));
    ModalCatcher catcher;
    catcher.ignore(&dialog);
    QTest::mouseClick(dialog.ok, Qt::LeftButton);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    const QString warning = catcher.seen.size() == 2 ? catcher.seen.first().text : QString();

    const auto written = machineLoginValues(sandbox);
    for (auto it = written.cbegin(); it != written.cend(); ++it)
        QVERIFY2(shown.contains(QString::fromLatin1(it.key())), it.key().constData());
    for (auto it = shown.cbegin(); it != shown.cend(); ++it) {
        if (it.value() == baseline.value(it.key()))
            continue;
        const QByteArray got = written.value(it.key().toLatin1(), "<unset>");
        QVERIFY2(got == it.value().toUtf8() || (got == "<unset>" && warning.contains(it.key())),
                 qPrintable(it.key() + ": " + QString::fromUtf8(got.left(80))));
    }
    // Nothing but the one key in its one section.
    const QString profiles[][2] = {{"xsv.ini", "[Network]"}, {"taskbase.ini", "[System]"}};
    for (const auto &[name, section] : profiles) {
        const auto entries = profileEntries(Sandbox::readFile(profilePath(name)));
        if (workstation.isEmpty() || warning.contains(name))
            QVERIFY(entries.isEmpty());
        else
            QCOMPARE(entries,
                     decltype(entries)({{section, {}}, {section + "Workstation", readBack(workstation)}}));
    }
    if (typed)
        QCOMPARE(openPreferences()->value("lastKnownServer/server").toString(),
                 shown.value("OV_SERVER_ROOT"));
}

QTEST_MAIN(tst_hostileInputs)
#include "tst_hostileInputs.moc"
