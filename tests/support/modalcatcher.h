#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QVector>

#include <functional>

class QWidget;

// Answers the modal dialogs a test's code path opens, as a person would: every few milliseconds it
// looks at QApplication::activeModalWidget() and, the first time it sees a widget other than the
// ones it was told to leave alone, records it and hands it to the responder (by default: message
// boxes are accepted).
class ModalCatcher : public QObject
{
    Q_OBJECT

public:
    struct Seen
    {
        QString className;
        QString title;
        QString text;
        int icon = 0;
    };
    using Responder = std::function<bool(QWidget *modal)>; // true when it handled the widget

    explicit ModalCatcher(QObject *parent = nullptr);
    // Widgets the catcher must not answer (typically the dialog under test).
    void ignore(QWidget *widget) { m_ignored.append(widget); }
    void setResponder(Responder responder) { m_responder = std::move(responder); }

    QVector<Seen> seen;

private:
    void poll();
    void respond(QWidget *modal);
    QTimer m_timer;
    QVector<QWidget *> m_ignored;
    Responder m_responder;
    QPointer<QWidget> m_last;
};
