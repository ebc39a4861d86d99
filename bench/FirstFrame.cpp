#include "FirstFrame.h"

#include <QDialog>
#include <QEvent>
#include <QWindow>

FirstFrame::FirstFrame(QDialog *dialog)
    : QObject(dialog)
    , m_dialog(dialog)
{
    dialog->installEventFilter(this);
}

void FirstFrame::contentsReady()
{
    m_ready = true;
    m_dialog->update();
}

bool FirstFrame::eventFilter(QObject *, QEvent *event)
{
    if (m_ready && event->type() == QEvent::Paint && m_dialog->windowHandle() &&
        m_dialog->windowHandle()->isExposed()) {
        m_dialog->removeEventFilter(this);
        QMetaObject::invokeMethod(m_dialog, &QDialog::reject, Qt::QueuedConnection);
    }
    return false;
}
