#pragma once

#include <QLabel>
#include <QTextDocument>

#include <map>

// A word-wrapped rich-text QLabel that lays its text out once per width. QLabel lays the whole
// document out again, shaping every word anew, on each size query and once more to restore its own
// width; for the dialog's two notes that was most of its start-up.
//
// No Q_OBJECT: it adds no signals, slots or properties, and to the form and to whoever inspects it
// it stays a QLabel.
class NoteLabel : public QLabel
{
public:
    explicit NoteLabel(QWidget *parent = nullptr);
    ~NoteLabel() override;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    int heightForWidth(int width) const override;

protected:
    void changeEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    // The document laid out at textWidth (-1: unwrapped): its longest line and its height, from the
    // cache when it has them.
    QSizeF documentSize(qreal textWidth) const;
    // The same, with the document itself left laid out at textWidth.
    QSizeF layOut(qreal textWidth) const;
    // The width the text gets inside a label of the given outer width.
    qreal textWidthFor(int width) const;
    // Room taken around the text: frame, contents margins, margin and indent.
    QSize extra() const;
    // Rebuilds the document when the text changed since it was last laid out.
    void sync() const;
    void forget() const;

    mutable QTextDocument m_document;
    mutable QString m_source;
    mutable bool m_populated = false;
    mutable qreal m_laidOutAt = -2;
    mutable std::map<qreal, QSizeF> m_sizes;
    mutable QSize m_sizeHint;
    mutable QSize m_minimumSizeHint;
};
