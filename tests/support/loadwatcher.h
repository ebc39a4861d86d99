#pragma once

#include <QObject>

class QWidget;

// Lets a test wait for a dialog's load instead of for a time. The main dialog loads on its first
// timer event, so the watcher takes that event, hands it to the dialog itself and notes when the
// dialog is done with it, message boxes the load opened included. Create it before the event loop
// runs, that is right after the dialog.
class LoadWatcher : public QObject
{
    Q_OBJECT

public:
    explicit LoadWatcher(QWidget *dialog);
    bool loaded() const { return m_loaded; }

    // Shows the dialog and processes events until its load has run; false if it never did.
    static bool showLoaded(QWidget &dialog);

Q_SIGNALS:
    void finished();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool m_loaded = false;
};
