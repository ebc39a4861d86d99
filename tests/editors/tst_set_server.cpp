#include "editortesting.h"
#include "sandbox.h"
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

const int windows = PathRules::Windows;
const int posix = PathRules::Posix;

} // namespace

class tst_set_server : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void close_data();
    void close();
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
    QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
    m_sandbox.reset();
}

// Steps as perform() takes them. A refused path leaves the dialog open with the message, which stays once
// shown; the list is written back compacted when the editor goes, an accepted path on top. The rules
// themselves are proven in tst_pathrules: these rows are about what the editor checks and hands back,
// an entry placed in the store by other means included.
void tst_set_server::close_data()
{
    QTest::addColumn<int>("convention");
    QTest::addColumn<QStringList>("seeded");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("result");
    QTest::addColumn<bool>("refused");
    QTest::addColumn<QStringList>("saved");
    const auto row = [](const char *name, const QStringList &seeded, const QStringList &steps, bool accepted,
                        const QString &result, bool refused, const QStringList &saved,
                        int convention = windows) {
        QTest::newRow(name) << convention << seeded << steps << accepted << result << refused << saved;
    };
    // Cancel, pressed after a refusal, would reject an editor already accepted too.
    const auto typed = [&row](const char *name, int convention, const QString &text, bool accepted,
                              const QString &result) {
        row(name, {}, QStringList{"type " + text, "ok"} + (accepted ? QStringList() : QStringList{"cancel"}),
            accepted, result, !accepted, accepted ? QStringList{"0=" + result} : QStringList(), convention);
    };
    typed("drive with forward slash", windows, "c:/mysystem", true, "c:\\mysystem");
    typed("unc trailing backslash kept", windows, "\\\\fileserver\\trox\\", true, "\\\\fileserver\\trox\\");
    typed("unc with forward slashes", windows, "//fileserver/trox", false, "//fileserver/trox");
    typed("empty", windows, "", false, "");
    typed("posix backslash inside", posix, "/srv\\trox\\", true, "/srv/trox/");
    typed("posix backslash first", posix, "\\srv\\trox", false, "\\srv\\trox");

    row("refused, corrected, Return", {"0=\\\\fileserver\\trox"},
        {"type //fileserver/trox", "ok", "retype \\\\fileserver\\trox\\", "Return"}, true,
        "\\\\fileserver\\trox\\", true, {"0=\\\\fileserver\\trox\\", "1=\\\\fileserver\\trox"});
    row("refused, Escape", {"0=\\\\one\\trox", "1=\\\\ONE\\TROX", "2=c:\\mysystem"},
        {"type trox", "ok", "Esc"}, false, "trox", true,
        {"0=\\\\one\\trox", "1=c:\\mysystem", "2=c:\\mysystem"});
    const QStringList three{"0=\\\\one\\trox", "1=\\\\two\\trox", "2=trox"};
    row("valid entry double-clicked", three, {"dclick 1"}, true, "\\\\two\\trox", false,
        {"0=\\\\two\\trox", "1=\\\\one\\trox", "2=trox"});
    row("invalid entry double-clicked", three, {"dclick 2", "cancel"}, false, "trox", true, three);
}

void tst_set_server::close()
{
    QFETCH(int, convention);
    QFETCH(QStringList, seeded);
    QFETCH(QStringList, steps);
    QFETCH(bool, accepted);
    QFETCH(QString, result);
    QFETCH(bool, refused);
    QFETCH(QStringList, saved);
    seedPreferences(group, seeded);
    {
        set_server editor;
        editor.setPathRules(PathRules(PathRules::Convention(convention)));
        const int code = runModal(editor, [&] {
            perform(steps, editor.server, editor.previous, editor.buttonOk, editor.buttonCancel);
        });
        QCOMPARE(code, int(accepted ? QDialog::Accepted : QDialog::Rejected));
        QCOMPARE(editor.server->text(), result);
        QCOMPARE(editor.validvalue->text(), refused ? refusal : QString());
        if (refused)
            QCOMPARE(editor.validvalue->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    }
    QCOMPARE(storedPreferences(group), saved);
    // The server and the reserve server share this list; the root keeps its own.
    QCOMPARE(storedPreferences(QLatin1String(Preferences::recentRootGroup)), QStringList());
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
