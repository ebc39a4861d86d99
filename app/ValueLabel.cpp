#include "ValueLabel.h"

#include <QHelpEvent>
#include <QPainter>
#include <QScreen>
#include <QStyle>
#include <QToolTip>

ValueLabel::ValueLabel(QWidget *parent)
    : QLabel(parent)
{}

ValueLabel::~ValueLabel() = default;

QSize ValueLabel::sizeHint() const
{
    return bounded(QLabel::sizeHint());
}

QSize ValueLabel::minimumSizeHint() const
{
    return bounded(QLabel::minimumSizeHint());
}

QSize ValueLabel::bounded(QSize size) const
{
    const QScreen *where = screen();
    if (!where)
        return size;
    // Half the width leaves the captions, buttons and margins of any row room on the same screen.
    size.setWidth(qMin(size.width(), where->availableGeometry().width() / 2));
    return size;
}

QRect ValueLabel::textRect() const
{
    // Where QLabel itself places a one-line text: inside the frame, less the margin and the indent.
    QRect rect = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    const int shift = indent() < 0
                          ? (frameWidth() > 0 ? fontMetrics().horizontalAdvance(QLatin1Char('x')) / 2 : 0)
                          : indent();
    if (alignment() & Qt::AlignLeft)
        rect.setLeft(rect.left() + shift);
    else if (alignment() & Qt::AlignRight)
        rect.setRight(rect.right() - shift);
    return rect;
}

QString ValueLabel::shownText() const
{
    return fontMetrics().elidedText(text(), Qt::ElideMiddle, textRect().width());
}

bool ValueLabel::event(QEvent *event)
{
    if (event->type() == QEvent::ToolTip) {
        const QString shown = shownText();
        if (shown != text()) {
            const QString tip =
                QLatin1String("<p>") + text().toHtmlEscaped() + QLatin1String("</p>") + toolTip();
            QToolTip::showText(static_cast<QHelpEvent *>(event)->globalPos(), tip, this);
            return true;
        }
    }
    return QLabel::event(event);
}

void ValueLabel::paintEvent(QPaintEvent *event)
{
    const QString shown = shownText();
    if (shown == text()) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    drawFrame(&painter);
    const int flags = QStyle::visualAlignment(layoutDirection(), alignment()) | Qt::TextSingleLine;
    style()->drawItemText(&painter, textRect(), flags, palette(), isEnabled(), shown, foregroundRole());
}
