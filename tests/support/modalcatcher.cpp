#include "modalcatcher.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

ModalCatcher::ModalCatcher(QObject *parent)
    : QObject(parent)
{
    connect(&m_timer, &QTimer::timeout, this, &ModalCatcher::poll);
    m_timer.start(10);
}

void ModalCatcher::poll()
{
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal || m_ignored.contains(modal) || !modal->isVisible())
        return;
    if (modal == m_last)
        return;
    {
        Seen entry;
        entry.className = QString::fromLatin1(modal->metaObject()->className());
        entry.title = modal->windowTitle();
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            entry.text = box->text();
            entry.icon = box->icon();
        }
        seen.append(entry);
        m_last = modal;
    }
    // Answer from a fresh timer so that a dialog the answer opens can be answered in turn.
    QTimer::singleShot(0, modal, [this, modal] { respond(modal); });
}

void ModalCatcher::respond(QWidget *modal)
{
    if (m_responder && m_responder(modal))
        return;
    if (auto *box = qobject_cast<QMessageBox *>(modal)) {
        if (QAbstractButton *button = box->button(QMessageBox::Ok))
            button->click();
        else
            box->accept();
    }
}
