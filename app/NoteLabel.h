#pragma once

#include <QLabel>
#include <QTextDocument>

#include <map>

// A word-wrapped rich-text QLabel that lays its text out once per width. QLabel lays the whole
// document out again, shaping every word anew, on each size query and once more to restore its own
// width; for the dialog's two notes that was most of its start-up. Sizes are QLabel's own.
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
    void paintEvent(QPaintEvent *event) override;

private:
    struct Layout
    {
        QSizeF size;      // the document's size at that width
        qreal idealWidth; // its longest line
    };

    // The document laid out at textWidth (-1: unwrapped), from the cache when it has it.
    Layout layoutAt(qreal textWidth) const;
    // The same, with the document itself left laid out at textWidth, ready to draw.
    Layout layOut(qreal textWidth) const;
    // The text's size with no width imposed, chosen as QTextDocument::adjustSize() chooses it.
    QSizeF naturalSize() const;
    // The width the text gets inside a label of the given outer width.
    qreal textWidthFor(int width) const;
    // Room taken around the text: frame, contents margins, margin and indent.
    QSize extra() const;
    // Rebuilds the document when its text, format, font or options no longer match the label's.
    // False for text that is not HTML: QLabel's own sizes and painting serve it, as QLabel measures
    // plain text with font metrics, not with a document, and a document's line spacing differs
    // wherever the font has leading.
    bool sync() const;

    mutable QTextDocument m_document;
    mutable QString m_source;
    mutable Qt::TextFormat m_format = Qt::AutoText;
    mutable bool m_rich = false;
    mutable qreal m_overhang = 0; // the most ink a character of the text puts beyond its advance
    mutable qreal m_laidOutAt = -2;
    mutable std::map<qreal, Layout> m_layouts;
    mutable QSizeF m_naturalSize;
};
