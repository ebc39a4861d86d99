#pragma once

#include <QObject>

class QAbstractButton;

// Makes Enter and Return press the button that has the focus, as Space does, on a form that has no
// default button: Enter anywhere else still does nothing.
class EnterPresses : public QObject
{
    Q_OBJECT

public:
    explicit EnterPresses(QObject *parent);
    ~EnterPresses() override;

    void watch(QAbstractButton *button);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};
