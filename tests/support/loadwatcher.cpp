#include "loadwatcher.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTest>
#include <QWidget>

LoadWatcher::LoadWatcher(QWidget *dialog)
    : QObject(dialog)
{
    dialog->installEventFilter(this);
}

bool LoadWatcher::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::Timer)
        return false;
    watched->removeEventFilter(this);
    QCoreApplication::sendEvent(watched, event);
    m_loaded = true;
    Q_EMIT finished();
    return true;
}

bool LoadWatcher::showLoaded(QWidget &dialog)
{
    // Generous: only a load that never comes should fail, not a slow machine.
    const LoadWatcher *watcher = new LoadWatcher(&dialog);
    dialog.show();
    return QTest::qWaitFor([watcher] { return watcher->loaded(); }, 60000);
}
