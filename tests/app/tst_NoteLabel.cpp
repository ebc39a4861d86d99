#include "modalcatcher.h"
#include "NoteLabel.h"
#include "sandbox.h"
#include "trox_inst_envDialog.h"

#include <QImage>
#include <QTest>

namespace {

const QString note = QStringLiteral(
    "<p><b>Heads up! </b>(a note follows):</p>\n<p>These values take effect in programs started "
    "<i>after</i> the change; programs already running keep what they had.</p>\n\n<p>Close them and "
    "start them again.</p>");

// A stock QLabel set up as the form sets up its notes: the reference NoteLabel must agree with.
void dress(QLabel &label, const QString &text)
{
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
    void heightsMatchQLabel_data();
    void heightsMatchQLabel();
    void sizeHintsLeaveNoWordCut();
    void followsTextAndFontChanges();
    void drawsItsText();
    void formNotesShownWhole();
};

void tst_NoteLabel::heightsMatchQLabel_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("width");
    for (int width : {0, 60, 200, 333, 531, 1200, QWIDGETSIZE_MAX}) {
        QTest::addRow("rich %d", width) << note << width;
        QTest::addRow("plain %d", width)
            << QStringLiteral("plain words that wrap, no markup at all") << width;
    }
}

// Asked in any order and more than once, the answers are QLabel's own, never a stale cached one.
void tst_NoteLabel::heightsMatchQLabel()
{
    QFETCH(QString, text);
    QFETCH(int, width);
    QLabel reference;
    NoteLabel label;
    dress(reference, text);
    dress(label, text);
    const int expected = reference.heightForWidth(width);
    QCOMPARE(label.heightForWidth(width), expected);
    label.heightForWidth(width / 2 + 17);
    QCOMPARE(label.heightForWidth(width), expected);
    QCOMPARE(label.minimumSizeHint().width(), reference.minimumSizeHint().width());
}

void tst_NoteLabel::sizeHintsLeaveNoWordCut()
{
    NoteLabel label;
    dress(label, note);
    const QSize minimum = label.minimumSizeHint();
    const QSize hint = label.sizeHint();
    QVERIFY(minimum.width() > 0 && minimum.width() <= hint.width());
    QVERIFY(minimum.height() > 0 && minimum.height() <= hint.height());
    // At its hint the note needs no more height than the hint gives it.
    QVERIFY(label.heightForWidth(hint.width()) <= hint.height());
}

void tst_NoteLabel::followsTextAndFontChanges()
{
    NoteLabel label;
    dress(label, note);
    const int before = label.heightForWidth(300);
    const QSize hintBefore = label.sizeHint();

    label.setText(note + note);
    QVERIFY(label.heightForWidth(300) > before);
    QVERIFY(label.sizeHint() != hintBefore);

    label.setText(note);
    QCOMPARE(label.heightForWidth(300), before);
    QFont larger = label.font();
    larger.setPointSizeF(larger.pointSizeF() * 2);
    label.setFont(larger);
    QVERIFY(label.heightForWidth(300) > before);

    // Hints asked again after other widths were laid out come out as a fresh label's.
    label.sizeHint();
    label.heightForWidth(150);
    label.setContentsMargins(2, 2, 2, 2);
    NoteLabel fresh;
    dress(fresh, note);
    fresh.setFont(larger);
    fresh.setContentsMargins(2, 2, 2, 2);
    QCOMPARE(label.sizeHint(), fresh.sizeHint());
    QCOMPARE(label.minimumSizeHint(), fresh.minimumSizeHint());

    label.setWordWrap(false);
    QLabel reference;
    dress(reference, note);
    reference.setFont(larger);
    reference.setContentsMargins(2, 2, 2, 2);
    reference.setWordWrap(false);
    QCOMPARE(label.sizeHint(), reference.sizeHint());
}

void tst_NoteLabel::drawsItsText()
{
    NoteLabel label;
    dress(label, note);
    label.resize(300, label.heightForWidth(300));
    QVERIFY(inkIn(label) > 200);

    // A text changed after painting replaces what is drawn.
    label.setText(QString());
    QCOMPARE(inkIn(label), 0);
    label.setText(QStringLiteral("<b>x</b>"));
    const int one = inkIn(label);
    QVERIFY(one > 0 && one < 100);
}

// The dialog opens tall enough for both notes at the width it gives them, and keeps them whole
// when the operator makes it narrower.
void tst_NoteLabel::formNotesShownWhole()
{
    Sandbox sandbox;
    trox_inst_envDialog dialog;
    ModalCatcher catcher;
    catcher.ignore(&dialog);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    for (int width : {dialog.width(), dialog.minimumWidth()}) {
        dialog.resize(width, dialog.heightForWidth(width));
        QTest::qWait(1);
        for (QLabel *label : {dialog.textLabel1_4, dialog.textLabel1_3}) {
            QVERIFY2(label->height() >= label->heightForWidth(label->width()),
                     qPrintable(QStringLiteral("%1 at %2").arg(label->objectName()).arg(width)));
            QCOMPARE(label->metaObject()->className(), "QLabel");
        }
    }
    dialog.reject();
}

QTEST_MAIN(tst_NoteLabel)
#include "tst_NoteLabel.moc"
