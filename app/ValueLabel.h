#pragma once

#include <QLabel>

// A one-line label for a value of any length. A value wider than the room it gets is drawn elided in
// the middle, so that both the start and the end of a path stay visible, and its tool tip then leads
// with the whole value. Its size hints never ask for more than half the screen's available width,
// so no value can push the dialog off the screen. text() stays the whole value.
//
// It takes the keyboard focus with Tab, so that a screen reader reaches the value; its accessible name is
// the caption of the label whose buddy it is, followed by the value.
//
// No Q_OBJECT: it adds no signals, slots or properties; to the form it stays a QLabel.
class ValueLabel : public QLabel
{
public:
    explicit ValueLabel(QWidget *parent = nullptr);
    ~ValueLabel() override;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // The text as drawn in the current width: the value itself, or the value elided in the middle.
    QString shownText() const;
    // The text of the label that names this one (the label whose buddy it is), without mnemonics.
    QString caption() const;

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    QSize bounded(QSize size) const;
    QRect textRect() const;
};
