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

// Reads workstation lists written by the test and picks lines as an operator would.
class tst_browseWorkstations : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup();
    void choose_data();
    void choose();
    void doubleClickDoesNotClose();
};

void tst_browseWorkstations::cleanup()
{
    QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
}

void tst_browseWorkstations::choose_data()
{
    // A null document means no file at all; pick -1 presses OK without choosing a line. A shape puts
    // what the browser cannot read in the list's place, which may neither stall it nor show anything.
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QString>("shape");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<int>("pick");
    QTest::addColumn<QString>("id");
    const auto row = [](const char *name, const QByteArray &document, const QStringList &lines = {},
                        int pick = -1, const QString &id = QString(), const QString &shape = QString()) {
        QTest::newRow(name) << document << shape << lines << pick << id;
    };
    const QByteArray one("<list><ws id=\"1\" name=\"One\"/></list>");
    row("missing file", QByteArray());
    row("empty file", "");
    row("no read permission", one, {}, -1, {}, "locked");
    if (Sandbox::linuxMachine()) {
        row("FIFO", one, {}, -1, {}, "fifo");
        row("device", one, {}, -1, {}, "device");
    }
    row("malformed after good entries",
        "<list><ws id=\"1\" name=\"One\"/><ws id=\"2\" name=\"Two\"/><ws id=\"3\"");
    row("no children", "<list/>");
    row("id and name", "<list><ws id=\"12\" name=\"Studio A\"/></list>", {"12 - Studio A"}, 0, "12");
    row("missing id", "<list><ws name=\"Nameless\"/></list>", {" - Nameless"}, 0);
    row("missing name", "<list><ws id=\"4\"/></list>", {"4 - "}, 0, "4");
    row("hyphen in id", "<list><ws id=\"12-B\" name=\"Back\"/></list>", {"12-B - Back"}, 0, "12");
    row("leading hyphen", "<list><ws id=\"-5\" name=\"Minus\"/></list>", {"-5 - Minus"}, 0, "5");
    row("comments, text and nested elements",
        "<?xml version=\"1.0\"?>\n<!-- site list -->\n<list>\n  text\n  <!-- first -->\n"
        "  <ws id=\"1\" name=\"One\"><ws id=\"9\" name=\"Nested\"/></ws>\n  <?note x?>\n"
        "  <![CDATA[<ws id=\"8\"/>]]>\n  <ws id=\"2\" name=\"Two\" room=\"B\"/>\n</list>\n",
        {"1 - One", "2 - Two"}, 1, "2");
    row("mixed tag names in order",
        "<sites><station id=\"30\" name=\"C\"/><ws id=\"10\" name=\"A\"/>"
        "<workstation id=\"20\" name=\"B\"/><ws id=\"10\" name=\"A\"/></sites>",
        {"30 - C", "10 - A", "20 - B", "10 - A"}, 2, "20");
    row("namespaced document", "<t:list xmlns:t=\"urn:trox\"><t:ws id=\"7\" name=\"Seven\"/></t:list>",
        {"7 - Seven"}, 0, "7");
    row("nesting no list has", "<list><ws id=\"1\" name=\"One\">" + QByteArray("<a>").repeated(100000) +
                                   QByteArray("</a>").repeated(100000) + "</ws></list>");
    row("over the size limit",
        "<list><ws id=\"1\" name=\"One\"/><!--" + QByteArray(17 << 20, 'x') + "--></list>");

    QByteArray many("<list>");
    QStringList manyLines;
    for (int id = 1; many.size() < (1 << 20); ++id) {
        many += "<ws id=\"" + QByteArray::number(id) + "\" name=\"Desk " + QByteArray::number(id) + "\"/>";
        manyLines.append(QStringLiteral("%1 - Desk %1").arg(id));
    }
    row("1 MiB", many + "</list>", manyLines, 4999, "5000");
}

void tst_browseWorkstations::choose()
{
    QFETCH(QByteArray, document);
    QFETCH(QString, shape);
    QFETCH(QStringList, lines);
    QFETCH(int, pick);
    QFETCH(QString, id);

    QTemporaryDir dir;
    const QString system = dir.path() + QStringLiteral("/SYS");
    QVERIFY(QDir().mkpath(system));
    if (!document.isNull())
        QVERIFY(writeWorkstationList(system, document));
    QFile file(system + QStringLiteral("/config/workstations.xml"));
    if (shape == QLatin1String("locked")) {
        QVERIFY(file.setPermissions(QFileDevice::WriteOwner));
        if (file.open(QIODevice::ReadOnly))
            QSKIP("permissions do not keep this user from reading the file");
    } else if (!shape.isEmpty()) {
        QVERIFY(file.remove());
        QVERIFY(Sandbox::makeSpecialFile(file.fileName(), shape));
    }

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

void tst_browseWorkstations::doubleClickDoesNotClose()
{
    QTemporaryDir dir;
    const QString system = dir.path() + QStringLiteral("/double");
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
