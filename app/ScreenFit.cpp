#include "ScreenFit.h"

#include <QBoxLayout>
#include <QDialog>
#include <QEvent>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QWindow>

ScreenFit::ScreenFit(QDialog *form, QBoxLayout *column, int first)
    : QObject(form)
    , m_form(form)
    , m_column(column)
    , m_first(first)
{
    form->installEventFilter(this);
}

ScreenFit::~ScreenFit() = default;

bool ScreenFit::eventFilter(QObject *watched, QEvent *event)
{
    // Before the dialog's own show handling, which centres the window with the size it has then.
    if (watched == m_form && event->type() == QEvent::Show && !event->spontaneous()) {
        fit();
        if (QWindow *window = m_form->windowHandle())
            connect(window, &QWindow::screenChanged, this, &ScreenFit::fit, Qt::UniqueConnection);
    }
    // A desktop's theme may hand over its font or style once the window shows; the form grows then.
    const bool restyled = event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange;
    if (watched == m_form && restyled && m_form->isVisible())
        QMetaObject::invokeMethod(this, &ScreenFit::fit, Qt::QueuedConnection);
    return QObject::eventFilter(watched, event);
}

void ScreenFit::fit()
{
    const QScreen *screen = m_form->screen();
    if (!screen)
        return;
    const QRect available = screen->availableGeometry();
    // The window manager's frame is known only once the window is mapped; until then, a title bar.
    int frameHeight = m_form->frameGeometry().height() - m_form->height();
    if (frameHeight <= 0)
        frameHeight = m_form->style()->pixelMetric(QStyle::PM_TitleBarHeight) + 8;
    const int frameWidth = qMax(m_form->frameGeometry().width() - m_form->width(), 0);
    const int roomDown = available.height() - frameHeight;
    const int roomAcross = available.width() - frameWidth;

    const int width = qMin(m_form->width(), roomAcross);
    const auto neededHeight = [this, width] {
        // Brought up to date first: the minimum the layout gives the window follows from it.
        m_column->activate();
        return qMax(m_form->minimumSizeHint().height(),
                    m_form->hasHeightForWidth() ? m_form->heightForWidth(width) : 0);
    };
    int needed = neededHeight();
    if (needed > roomDown && !m_area) {
        scrollMiddle();
        needed = neededHeight();
    }
    m_form->resize(width, qMin(qMax(m_form->height(), needed), roomDown));
}

void ScreenFit::scrollMiddle()
{
    // Moving the rows into another widget takes them out of the form's Tab order, which would then run
    // from the rows above straight to Ok and Cancel; the order the form had is put back afterwards.
    QList<QWidget *> tabOrder;
    for (QWidget *widget = m_form->nextInFocusChain(); widget != m_form;
         widget = widget->nextInFocusChain()) {
        if (widget->focusPolicy() & Qt::TabFocus)
            tabOrder.append(widget);
    }
    auto *content = new QWidget;
    content->setObjectName(QStringLiteral("scrolledRows"));
    auto *rows = new QVBoxLayout(content);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(m_column->spacing());
    // Everything between the first moved row and the button row, in order, spacers included.
    while (m_column->count() > m_first + 1) {
        QLayoutItem *item = m_column->takeAt(m_first);
        if (QWidget *widget = item->widget()) {
            delete item;
            const bool hidden = widget->isHidden() && widget->testAttribute(Qt::WA_WState_ExplicitShowHide);
            rows->addWidget(widget);
            widget->setVisible(!hidden);
        } else {
            rows->addItem(item);
        }
    }
    m_area = new QScrollArea(m_form);
    m_area->setObjectName(QStringLiteral("scrollArea"));
    m_area->setFrameShape(QFrame::NoFrame);
    m_area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_area->setWidgetResizable(true);
    m_area->setWidget(content);
    // The rows keep the dialog's own background, as they had it before they moved.
    m_area->viewport()->setBackgroundRole(QPalette::Window);
    content->setBackgroundRole(QPalette::Window);
    m_column->insertWidget(m_first, m_area, 1);
    m_area->show();
    // The area follows the focus through its rows; a Tab stop of its own would be a nameless one.
    m_area->setFocusPolicy(Qt::NoFocus);
    for (qsizetype i = 1; i < tabOrder.size(); ++i)
        QWidget::setTabOrder(tabOrder[i - 1], tabOrder[i]);
}
