#include "browseWorkstations.h"
#include "editortesting.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

// Reads workstation lists written by the test and picks lines as an operator would.
class tst_browseWorkstations : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup();
    void choose_data();
    void choose();
    void unreadableFile_data();
    void unreadableFile();
    void doubleClickDoesNotClose();

private:
    QTemporaryDir m_dir;
};

void tst_browseWorkstations::cleanup()
{
    QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
}

void tst_browseWorkstations::choose_data()
{
    // A null document means no file at all; pick -1 presses OK without choosing a line.
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<int>("pick");
    QTest::addColumn<QString>("id");

    QTest::newRow("missing file") << QByteArray() << QStringList{} << -1 << QString();
    QTest::newRow("empty file") << QByteArray("") << QStringList{} << -1 << QString();
    QTest::newRow("malformed after good entries")
        << QByteArray("<list><ws id=\"1\" name=\"One\"/><ws id=\"2\" name=\"Two\"/><ws id=\"3\"")
        << QStringList{} << -1 << QString();
    QTest::newRow("no children") << QByteArray("<list/>") << QStringList{} << -1 << QString();
    QTest::newRow("id and name") << QByteArray("<list><ws id=\"12\" name=\"Studio A\"/></list>")
                                 << QStringList{"12 - Studio A"} << 0 << QStringLiteral("12");
    QTest::newRow("missing id") << QByteArray("<list><ws name=\"Nameless\"/></list>")
                                << QStringList{" - Nameless"} << 0 << QString();
    QTest::newRow("missing name") << QByteArray("<list><ws id=\"4\"/></list>") << QStringList{"4 - "} << 0
                                  << QStringLiteral("4");
    QTest::newRow("hyphen in id") << QByteArray("<list><ws id=\"12-B\" name=\"Back\"/></list>")
                                  << QStringList{"12-B - Back"} << 0 << QStringLiteral("12");
    QTest::newRow("leading hyphen") << QByteArray("<list><ws id=\"-5\" name=\"Minus\"/></list>")
                                    << QStringList{"-5 - Minus"} << 0 << QStringLiteral("5");
    QTest::newRow("comments, text and nested elements")
        << QByteArray("<?xml version=\"1.0\"?>\n<!-- site list -->\n<list>\n  text\n  <!-- first -->\n"
                      "  <ws id=\"1\" name=\"One\"><ws id=\"9\" name=\"Nested\"/></ws>\n  <?note x?>\n"
                      "  <![CDATA[<ws id=\"8\"/>]]>\n  <ws id=\"2\" name=\"Two\" room=\"B\"/>\n</list>\n")
        << QStringList{"1 - One", "2 - Two"} << 1 << QStringLiteral("2");
    QTest::newRow("mixed tag names in order")
        << QByteArray("<sites><station id=\"30\" name=\"C\"/><ws id=\"10\" name=\"A\"/>"
                      "<workstation id=\"20\" name=\"B\"/><ws id=\"10\" name=\"A\"/></sites>")
        << QStringList{"30 - C", "10 - A", "20 - B", "10 - A"} << 2 << QStringLiteral("20");
    QTest::newRow("namespaced document")
        << QByteArray("<t:list xmlns:t=\"urn:trox\"><t:ws id=\"7\" name=\"Seven\"/></t:list>")
        << QStringList{"7 - Seven"} << 0 << QStringLiteral("7");

    QTest::newRow("nesting no list has")
        << "<list><ws id=\"1\" name=\"One\">" + QByteArray("<a>").repeated(100000) +
               QByteArray("</a>").repeated(100000) + "</ws></list>"
        << QStringList{} << -1 << QString();
    QTest::newRow("over the size limit")
        << "<list><ws id=\"1\" name=\"One\"/><!--" + QByteArray(17 << 20, 'x') + "--></list>" << QStringList{}
        << -1 << QString();

    QByteArray many("<list>");
    QStringList manyLines;
    for (int id = 1; many.size() < (1 << 20); ++id) {
        many += "<ws id=\"" + QByteArray::number(id) + "\" name=\"Desk " + QByteArray::number(id) + "\"/>";
        manyLines.append(QStringLiteral("%1 - Desk %1").arg(id));
    }
    many += "</list>";
    QTest::newRow("1 MiB") << many << manyLines << 4999 << QStringLiteral("5000");
}

void tst_browseWorkstations::choose()
{
    QFETCH(QByteArray, document);
    QFETCH(QStringList, lines);
    QFETCH(int, pick);
    QFETCH(QString, id);

    QTemporaryDir dir;
    const QString system = dir.path() + QStringLiteral("/SYS");
    QVERIFY(QDir().mkpath(system));
    if (!document.isNull())
        QVERIFY(writeWorkstationList(system, document));

    browseWorkstations browser;
    browser.loadWorkstations(system);
    QCOMPARE(browser.showPath->text(), system);
    QCOMPARE(entries(browser.workstations), lines);
    QCOMPARE(browser.workstations->currentItem(), nullptr);

    const int result = runModal(browser, [&] {
        if (pick >= 0)
            clickEntry(browser.workstations, pick);
        QTest::mouseClick(browser.buttonOk, Qt::LeftButton);
    });
    QCOMPARE(result, int(QDialog::Accepted));
    QCOMPARE(browser.workstationId, id);
}

void tst_browseWorkstations::unreadableFile_data()
{
    QTest::addColumn<QString>("shape");
    QTest::newRow("no read permission") << "locked";
    QTest::newRow("FIFO") << "fifo";
    QTest::newRow("device") << "device";
}

// None of these may stall the dialog or show anything.
void tst_browseWorkstations::unreadableFile()
{
    QFETCH(QString, shape);
    const QString system = m_dir.path() + QLatin1Char('/') + shape;
    QVERIFY(writeWorkstationList(system, "<list><ws id=\"1\" name=\"One\"/></list>"));
    QFile file(system + QStringLiteral("/config/workstations.xml"));
    if (shape == QLatin1String("locked")) {
        QVERIFY(file.setPermissions(QFileDevice::WriteOwner));
        if (file.open(QIODevice::ReadOnly))
            QSKIP("permissions do not keep this user from reading the file");
    } else {
        QVERIFY(file.remove());
        const QByteArray name = QFile::encodeName(file.fileName());
        QVERIFY(shape == QLatin1String("fifo") ? mkfifo(name.constData(), 0644) == 0
                                               : QFile::link(QStringLiteral("/dev/zero"), file.fileName()));
    }

    browseWorkstations browser;
    browser.loadWorkstations(system);
    QCOMPARE(browser.showPath->text(), system);
    QCOMPARE(browser.workstations->count(), 0);
}

void tst_browseWorkstations::doubleClickDoesNotClose()
{
    const QString system = m_dir.path() + QStringLiteral("/double");
    QVERIFY(
        writeWorkstationList(system, "<list><ws id=\"1\" name=\"One\"/><ws id=\"2\" name=\"Two\"/></list>"));
    browseWorkstations browser;
    browser.loadWorkstations(system);

    bool stillOpen = false;
    const int result = runModal(browser, [&] {
        doubleClickEntry(browser.workstations, 1);
        stillOpen = browser.isVisible();
        QTest::keyClick(browser.workstations, Qt::Key_Return);
    });
    QVERIFY(stillOpen);
    QCOMPARE(result, int(QDialog::Accepted));
    QCOMPARE(browser.workstationId, QStringLiteral("2"));
}

QTEST_MAIN(tst_browseWorkstations)
#include "tst_browseWorkstations.moc"
