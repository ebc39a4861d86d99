#include "NoteLabel.h"

#include <QAbstractTextDocumentLayout>
#include <QPainter>
#include <QStyleOption>
#include <QTextBlock>
#include <QTextFrame>

#include <cmath>

namespace {

int ceiling(qreal value)
{
    return int(std::ceil(value));
}

// QTextDocument's integer square root, so that the natural size comes out to the pixel as QLabel's.
int integerRoot(qreal value)
{
    return int(std::sqrt(double(uint(value))));
}

} // namespace

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

bool NoteLabel::sync() const
{
    QTextOption option = m_document.defaultTextOption();
    const QTextOption::WrapMode wrap = wordWrap() ? QTextOption::WordWrap : QTextOption::ManualWrap;
    const bool optionChanged = option.alignment() != alignment() || option.wrapMode() != wrap;
    const QString current = text();
    const bool textChanged =
        current != m_source || textFormat() != m_format || font() != m_document.defaultFont();
    if (!textChanged && !optionChanged)
        return m_rich;
    m_layouts.clear();
    m_laidOutAt = -2;
    m_naturalSize = QSizeF();
    if (optionChanged) {
        option.setAlignment(alignment());
        option.setWrapMode(wrap);
        m_document.setDefaultTextOption(option);
    }
    if (textChanged) {
        m_source = current;
        m_format = textFormat();
        m_rich = m_format == Qt::RichText || (m_format == Qt::AutoText && Qt::mightBeRichText(current));
        m_document.setDefaultFont(font());
        m_document.setHtml(m_rich ? current : QString());
        // A line fits where its advances and the ink its last glyph puts beyond them fit. Lines
        // carry no record of that ink, so the most any character of the text puts there in its
        // own font stands in for it.
        m_overhang = 0;
        for (QTextBlock block = m_document.begin(); block.isValid(); block = block.next()) {
            for (auto piece = block.begin(); !piece.atEnd(); ++piece) {
                const QTextFragment fragment = piece.fragment();
                const QFontMetricsF metrics(fragment.charFormat().font().resolve(font()));
                for (const QChar character : fragment.text())
                    m_overhang = qMax(m_overhang, -metrics.rightBearing(character));
            }
        }
    }
    return m_rich;
}

NoteLabel::Layout NoteLabel::layoutAt(qreal textWidth) const
{
    sync();
    const auto known = m_layouts.find(textWidth);
    if (known != m_layouts.end())
        return known->second;
    // Lines are filled greedily, so a width between a wider layout's longest line, with room for
    // its last glyph's ink, and that layout's own width breaks every line at the same place: same
    // height, no new shaping. Tables are left out, as their columns follow the width.
    if (textWidth >= 0 && m_document.rootFrame()->childFrames().isEmpty()) {
        const auto wider = m_layouts.lower_bound(textWidth);
        if (wider != m_layouts.end() && wider->second.idealWidth + m_overhang <= textWidth)
            return {QSizeF(textWidth, wider->second.size.height()), wider->second.idealWidth};
    }
    return layOut(textWidth);
}

NoteLabel::Layout NoteLabel::layOut(qreal textWidth) const
{
    sync();
    if (m_laidOutAt != textWidth) {
        m_document.setTextWidth(textWidth);
        m_laidOutAt = textWidth;
        m_layouts[textWidth] = {m_document.size(), m_document.idealWidth()};
    }
    return m_layouts[textWidth];
}

QSizeF NoteLabel::naturalSize() const
{
    sync();
    if (m_naturalSize.isValid())
        return m_naturalSize;
    if (!wordWrap()) {
        m_naturalSize = layoutAt(-1).size;
        return m_naturalSize;
    }
    // A box near the golden ratio, at most 80 'x' wide, ending at the width of its longest line.
    const int widest = QFontMetrics(m_document.defaultFont()).horizontalAdvance(QLatin1Char('x')) * 80;
    Layout tried = layoutAt(widest);
    if (tried.size.width() != 0) {
        int across = integerRoot(5 * tried.size.height() * tried.size.width() / 3);
        tried = layoutAt(qMin(across, widest));
        if (across * 3 < 5 * tried.size.height()) {
            across = integerRoot(2 * tried.size.height() * tried.size.width());
            tried = layoutAt(qMin(across, widest));
        }
    }
    m_naturalSize = layoutAt(tried.idealWidth).size;
    return m_naturalSize;
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
    if (!sync())
        return QLabel::heightForWidth(width);
    const Layout layout = layoutAt(textWidthFor(width));
    return qMax(ceiling(layout.size.height()) + extra().height(), minimumHeight());
}

QSize NoteLabel::sizeHint() const
{
    ensurePolished();
    if (!sync())
        return QLabel::sizeHint();
    // With a minimum width, QLabel's hint is the text wrapped at that width.
    const QSizeF text =
        wordWrap() && minimumWidth() > 0 ? layoutAt(textWidthFor(minimumWidth())).size : naturalSize();
    return (QSize(ceiling(text.width()), ceiling(text.height())) + extra()).expandedTo(minimumSize());
}

QSize NoteLabel::minimumSizeHint() const
{
    ensurePolished();
    if (!sync())
        return QLabel::minimumSizeHint();
    // As wide as the longest word, and one line of each paragraph high.
    const int width =
        wordWrap() ? ceiling(layoutAt(textWidthFor(0)).size.width()) + extra().width() : sizeHint().width();
    const int height = qMin(heightForWidth(QWIDGETSIZE_MAX), sizeHint().height());
    return QSize(width, height).expandedTo(minimumSize());
}

void NoteLabel::paintEvent(QPaintEvent *event)
{
    if (!sync()) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    drawFrame(&painter);
    const qreal textWidth = textWidthFor(width());
    const Layout layout = layOut(textWidth);

    // Where QLabel places its document: half the indent in from the aligned edge, centred
    // vertically. The text keeps the width its height was worked out for, so it is never cut off.
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
    qreal left = area.left();
    if (textWidth >= 0 && textWidth < area.width()) {
        if (alignment() & Qt::AlignRight)
            left += area.width() - textWidth;
        else if (alignment() & Qt::AlignHCenter)
            left += (area.width() - textWidth) / 2;
    }
    qreal top = area.top();
    if (alignment() & Qt::AlignVCenter)
        top += qMax((area.height() - layout.size.height()) / 2, qreal(0));
    else if (alignment() & Qt::AlignBottom)
        top += qMax(area.height() - layout.size.height(), qreal(0));

    QStyleOption option;
    option.initFrom(this);
    QAbstractTextDocumentLayout::PaintContext context;
    context.palette = option.palette;
    if (foregroundRole() != QPalette::Text && isEnabled())
        context.palette.setColor(QPalette::Text, context.palette.color(foregroundRole()));
    painter.translate(left, top);
    context.clip = QRectF(area.left() - left, 0, area.width(), area.bottom() - top + 1);
    painter.setClipRect(context.clip);
    m_document.documentLayout()->draw(&painter, context);
}
