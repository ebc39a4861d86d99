#pragma once

#include <QObject>

class QDialog;

// Ends a start-up probe once the window shows the dialog's final contents. Painting happens only
// on an exposed window, so a repaint asked for before the first expose draws nothing; instead the
// whole dialog is marked dirty when its contents are in, and the first paint after that closes it,
// queued so that the frame is flushed to the window first.
class FirstFrame : public QObject
{
    Q_OBJECT

public:
    explicit FirstFrame(QDialog *dialog);
    void contentsReady();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QDialog *m_dialog;
    bool m_ready = false;
};
