#include "NoteLabel.h"

#include <QAbstractTextDocumentLayout>
#include <QEvent>
#include <QPainter>
#include <QStyleOption>
#include <QTextFrame>

#include <cmath>

NoteLabel::NoteLabel(QWidget *parent)
    : QLabel(parent)
{
    m_document.setUndoRedoEnabled(false);
    m_document.setDocumentMargin(0);
    // The notes hold no links; without interaction QLabel never lays its own copy of the text out
    // to follow the mouse.
    setTextInteractionFlags(Qt::NoTextInteraction);
}

NoteLabel::~NoteLabel() = default;

void NoteLabel::forget() const
{
    m_sizes.clear();
    m_laidOutAt = -2;
    m_sizeHint = QSize();
    m_minimumSizeHint = QSize();
}

void NoteLabel::sync() const
{
    QTextOption option = m_document.defaultTextOption();
    const QTextOption::WrapMode wrap = wordWrap() ? QTextOption::WordWrap : QTextOption::ManualWrap;
    const bool optionChanged = option.alignment() != alignment() || option.wrapMode() != wrap;
    const QString current = text();
    if (m_populated && current == m_source && !optionChanged)
        return;
    forget();
    if (optionChanged) {
        option.setAlignment(alignment());
        option.setWrapMode(wrap);
        m_document.setDefaultTextOption(option);
    }
    if (!m_populated || current != m_source) {
        m_source = current;
        m_populated = true;
        const bool rich =
            textFormat() == Qt::RichText || (textFormat() == Qt::AutoText && Qt::mightBeRichText(current));
        m_document.setDefaultFont(font());
        if (rich)
            m_document.setHtml(current);
        else
            m_document.setPlainText(current);
    }
}

QSizeF NoteLabel::documentSize(qreal textWidth) const
{
    sync();
    const auto known = m_sizes.find(textWidth);
    return known != m_sizes.end() ? known->second : layOut(textWidth);
}

QSizeF NoteLabel::layOut(qreal textWidth) const
{
    sync();
    if (m_laidOutAt != textWidth) {
        m_document.setTextWidth(textWidth);
        m_laidOutAt = textWidth;
        // Wide as the longest line rather than as the width offered.
        m_sizes[textWidth] = QSizeF(m_document.idealWidth(), m_document.size().height());
    }
    return m_sizes[textWidth];
}

QSize NoteLabel::extra() const
{
    // As QLabel reserves it: twice the margin, and with a frame but no indent set, the width of an
    // 'x' beside left- or right-aligned text.
    int across = 2 * margin();
    int down = across;
    int indentation = indent();
    if (indentation < 0 && frameWidth())
        indentation = fontMetrics().horizontalAdvance(QLatin1Char('x')) - 2 * margin();
    if (indentation > 0) {
        if (alignment() & (Qt::AlignLeft | Qt::AlignRight))
            across += indentation;
        if (alignment() & (Qt::AlignTop | Qt::AlignBottom))
            down += indentation;
    }
    const QMargins contents = contentsMargins();
    return QSize(across + contents.left() + contents.right(), down + contents.top() + contents.bottom());
}

qreal NoteLabel::textWidthFor(int width) const
{
    if (!wordWrap())
        return -1;
    if (minimumWidth() > 0)
        width = qMax(width, minimumWidth());
    return qMax(width - extra().width(), 0);
}

int NoteLabel::heightForWidth(int width) const
{
    const QSizeF size = documentSize(textWidthFor(width));
    return qMax(int(std::ceil(size.height())) + extra().height(), minimumHeight());
}

QSize NoteLabel::sizeHint() const
{
    sync();
    if (m_sizeHint.isValid())
        return m_sizeHint;
    // As QLabel sizes wrapped plain text of several lines: 80 average characters wide, or the
    // text's own width when narrower. (Its golden-ratio search for rich text took four layouts.)
    const qreal across =
        wordWrap() ? QFontMetrics(m_document.defaultFont()).averageCharWidth() * 80 : qreal(-1);
    const QSizeF size = documentSize(across);
    const QSize text(int(std::ceil(size.width())), int(std::ceil(size.height())));
    m_sizeHint = (text + extra()).expandedTo(minimumSize());
    return m_sizeHint;
}

QSize NoteLabel::minimumSizeHint() const
{
    sync();
    if (m_minimumSizeHint.isValid())
        return m_minimumSizeHint;
    const QSize hint = sizeHint();
    // One line of each paragraph high, and as wide as the longest word.
    const int height = qMin(heightForWidth(QWIDGETSIZE_MAX), hint.height());
    const QSizeF narrowest = documentSize(textWidthFor(0));
    const int width = wordWrap() ? int(std::ceil(narrowest.width())) + extra().width() : hint.width();
    m_minimumSizeHint = QSize(width, height).expandedTo(minimumSize());
    return m_minimumSizeHint;
}

void NoteLabel::changeEvent(QEvent *event)
{
    switch (event->type()) {
    case QEvent::FontChange:
    case QEvent::ApplicationFontChange:
        m_populated = false;
        forget();
        break;
    case QEvent::StyleChange:
    case QEvent::ContentsRectChange:
        m_sizeHint = QSize();
        m_minimumSizeHint = QSize();
        break;
    default:
        break;
    }
    QLabel::changeEvent(event);
}

void NoteLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    drawFrame(&painter);
    const qreal textWidth = textWidthFor(width());
    const QSizeF size = layOut(textWidth);

    // Placed where QLabel places its document: past half the indent, centred vertically.
    QRect area = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    int indentation = indent();
    if (indentation < 0 && frameWidth())
        indentation = fontMetrics().horizontalAdvance(QLatin1Char('x')) / 2 - margin();
    if (indentation > 0) {
        if (alignment() & Qt::AlignLeft)
            area.setLeft(area.left() + indentation);
        if (alignment() & Qt::AlignRight)
            area.setRight(area.right() - indentation);
        if (alignment() & Qt::AlignTop)
            area.setTop(area.top() + indentation);
        if (alignment() & Qt::AlignBottom)
            area.setBottom(area.bottom() - indentation);
    }
    qreal top = area.top();
    if (alignment() & Qt::AlignVCenter)
        top += qMax((area.height() - size.height()) / 2, qreal(0));
    else if (alignment() & Qt::AlignBottom)
        top += qMax(area.height() - size.height(), qreal(0));

    QStyleOption option;
    option.initFrom(this);
    QAbstractTextDocumentLayout::PaintContext context;
    context.palette = option.palette;
    if (foregroundRole() != QPalette::Text && isEnabled())
        context.palette.setColor(QPalette::Text, context.palette.color(foregroundRole()));
    painter.translate(area.left(), top);
    context.clip = QRectF(0, 0, area.width(), area.bottom() - top + 1);
    painter.setClipRect(context.clip);
    m_document.documentLayout()->draw(&painter, context);
}
