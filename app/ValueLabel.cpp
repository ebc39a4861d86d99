#include "ValueLabel.h"

#include <QAccessibleWidget>
#include <QHelpEvent>
#include <QPainter>
#include <QRegularExpression>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QToolTip>

namespace {

// A value is read as its caption and the value: "Root: /opt/trox", or the caption alone when empty.
class AccessibleValue : public QAccessibleWidget
{
public:
    explicit AccessibleValue(ValueLabel *label)
        : QAccessibleWidget(label, QAccessible::StaticText)
    {}

    QString text(QAccessible::Text t) const override
    {
        if (t != QAccessible::Name || !widget()->accessibleName().isEmpty())
            return QAccessibleWidget::text(t);
        const auto *label = static_cast<const ValueLabel *>(widget());
        const QString value = label->text();
        return value.isEmpty() ? label->caption() : label->caption() + QLatin1String(": ") + value;
    }
};

QAccessibleInterface *accessibleValue(const QString &, QObject *object)
{
    auto *label = dynamic_cast<ValueLabel *>(object);
    return label ? new AccessibleValue(label) : nullptr;
}

} // namespace

ValueLabel::ValueLabel(QWidget *parent)
    : QLabel(parent)
{
    static const bool factoryInstalled = (QAccessible::installFactory(accessibleValue), true);
    Q_UNUSED(factoryInstalled);
    setFocusPolicy(Qt::TabFocus);
}

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

QString ValueLabel::caption() const
{
    if (!parentWidget())
        return QString();
    for (const QLabel *label : parentWidget()->findChildren<QLabel *>(Qt::FindDirectChildrenOnly)) {
        if (label->buddy() == this) {
            QString text = label->text();
            return text.remove(QRegularExpression(QStringLiteral("&(?!&)")));
        }
    }
    return QString();
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
    } else {
        QPainter painter(this);
        drawFrame(&painter);
        const int flags = QStyle::visualAlignment(layoutDirection(), alignment()) | Qt::TextSingleLine;
        style()->drawItemText(&painter, textRect(), flags, palette(), isEnabled(), shown, foregroundRole());
    }
    if (hasFocus()) {
        // A label draws no focus of its own; without this, Tab would seem to go nowhere.
        QPainter painter(this);
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = contentsRect();
        option.backgroundColor = palette().color(backgroundRole());
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
}
