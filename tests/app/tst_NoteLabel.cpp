#include "editortesting.h"
#include "NoteLabel.h"
#include "sandbox.h"
#include "trox_inst_envDialog.h"

#include <QImage>

namespace {

const QString note = QStringLiteral(
    "<p><b>Heads up! </b>(a note follows):</p>\n<p>These values take effect in programs started "
    "<i>after</i> the change; programs already running keep what they had.</p>\n\n<p>Close them and "
    "start them again.</p>");

// A stock QLabel set up as the form sets up its notes: the reference NoteLabel must agree with.
void dress(QLabel &label, const QString &text)
{
    QFont unshaped;
    unshaped.setStyleStrategy(QFont::PreferNoShaping);
    label.setFont(unshaped);
    label.setFrameShape(QFrame::Panel);
    label.setFrameShadow(QFrame::Sunken);
    label.setWordWrap(true);
    label.setText(text);
}

// Pixels noticeably darker than the label's background: the text that was drawn.
int inkIn(QWidget &widget)
{
    const QImage image = widget.grab().toImage();
    const QRect inside = widget.contentsRect();
    int ink = 0;
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x)
            ink += qGray(image.pixel(x, y)) < 128;
    return ink;
}

} // namespace

class tst_NoteLabel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void sizesMatchQLabel_data();
    void sizesMatchQLabel();
    void drawsItsText();
    void formNotesShownWhole();
};

using Change = std::function<void(QLabel &)>;

void tst_NoteLabel::sizesMatchQLabel_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<Change>("change"); // none: a label asked for the first time
    QTest::newRow("rich") << note << Change();
    // Plain text takes QLabel's other path, which measures it with font metrics alone.
    QTest::newRow("plain") << QStringLiteral("plain words that wrap, no markup at all") << Change();
    QTest::newRow("one rich line") << QStringLiteral("<p>Short, <b>bold</b> and alone</p>") << Change();
    // Italic letters reach past their advance, so a line as wide as the width given does not fit.
    QTest::newRow("overhanging ends")
        << QStringLiteral(
               "<p><i>staff of chief, cliff roof if off; beef leaf turf serf golf elf self</i></p>")
        << Change();

    const auto add = [](const char *name, Change change) {
        QTest::newRow(name) << note << change;
    };
    add("longer text", [](QLabel &label) { label.setText(note + note); });
    add("text back", [](QLabel &label) {
        label.setText(note + note);
        label.heightForWidth(300);
        label.setText(note);
    });
    add("larger font", [](QLabel &label) {
        QFont larger = label.font();
        larger.setPointSizeF(larger.pointSizeF() * 2);
        label.setFont(larger);
    });
    add("shaped", [](QLabel &label) { label.setFont(QFont()); });
    add("margin", [](QLabel &label) { label.setMargin(20); });
    add("indent", [](QLabel &label) { label.setIndent(40); });
    add("contents margins", [](QLabel &label) { label.setContentsMargins(2, 3, 4, 5); });
    add("no frame", [](QLabel &label) { label.setFrameShape(QFrame::NoFrame); });
    add("right aligned", [](QLabel &label) { label.setAlignment(Qt::AlignRight | Qt::AlignTop); });
    add("minimum width", [](QLabel &label) { label.setMinimumWidth(250); });
    add("unwrapped", [](QLabel &label) { label.setWordWrap(false); });
    // Shown as typed, tags and all.
    add("plain format", [](QLabel &label) { label.setTextFormat(Qt::PlainText); });
}

// Asked in any order and more than once, and after any change to its settings, the answers are
// those of a QLabel set up the same way, never a stale cached one. Layouts that align the note take
// its size hint as its height, so the hint matters as much as the height for a width.
void tst_NoteLabel::sizesMatchQLabel()
{
    QFETCH(QString, text);
    QFETCH(Change, change);
    NoteLabel label;
    QLabel reference;
    dress(label, text);
    dress(reference, text);
    if (change) {
        label.sizeHint();
        label.minimumSizeHint();
        label.heightForWidth(300);
        label.heightForWidth(150);
        change(label);
        change(reference);
    }
    for (int width : {0, 60, 150, 200, 300, 333, 531, 700, 1200, QWIDGETSIZE_MAX}) {
        const int expected = reference.heightForWidth(width);
        QCOMPARE(label.heightForWidth(width), expected);
        // Narrower after wider: the answer a wider layout implies must be the one QLabel finds.
        QCOMPARE(label.heightForWidth(width / 2 + 17), reference.heightForWidth(width / 2 + 17));
        QCOMPARE(label.heightForWidth(width), expected);
    }
    QCOMPARE(label.sizeHint(), reference.sizeHint());
    QCOMPARE(label.minimumSizeHint(), reference.minimumSizeHint());
}

void tst_NoteLabel::drawsItsText()
{
    NoteLabel label;
    dress(label, note);
    label.resize(300, label.heightForWidth(300));
    const int full = inkIn(label);
    QVERIFY(full > 0);

    // A text changed after painting replaces what is drawn.
    label.setText(QString());
    QCOMPARE(inkIn(label), 0);
    label.setText(QStringLiteral("<b>x</b>"));
    const int one = inkIn(label);
    QVERIFY(one > 0 && one < full / 20);

    // As typed when the format says so: the tags are drawn too. The thin strokes of Windows' small
    // dialog font leave few pixels below mid-grey, so the test is only that they outweigh a bold x.
    label.setTextFormat(Qt::PlainText);
    QVERIFY(inkIn(label) > one);
}

// The dialog shows both notes whole at the width it opens with, and at its narrowest when it is as
// tall as its layout asks for that width. The developer note sits in a layout aligned to the top, which gives
// it the height of its size hint.
void tst_NoteLabel::formNotesShownWhole()
{
    Sandbox sandbox;
    // Loaded without error boxes, which would close the dialog.
    Sandbox::setVariables({QStringLiteral("OV_ROOT=/r"), QStringLiteral("OV_SYSTEM=s")});
    for (const bool narrowest : {false, true}) {
        trox_inst_envDialog dialog;
        const int opening = dialog.width();
        if (narrowest) {
            const int width = dialog.minimumSizeHint().width();
            dialog.resize(width, qMax(dialog.height(), dialog.heightForWidth(width)));
        }
        QVERIFY(loadsQuietly(dialog));
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        if (narrowest)
            QVERIFY(dialog.width() < opening - 100);
        for (QLabel *label : {dialog.textLabel1_4, dialog.textLabel1_3}) {
            QVERIFY2(label->height() >= label->heightForWidth(label->width()),
                     qPrintable(QStringLiteral("%1 at %2").arg(label->objectName()).arg(dialog.width())));
            QCOMPARE(label->metaObject()->className(), "QLabel");
        }
        dialog.reject();
    }
}

QTEST_MAIN(tst_NoteLabel)
#include "tst_NoteLabel.moc"
