#include "EnterPresses.h"

#include <QAbstractButton>
#include <QKeyEvent>

EnterPresses::EnterPresses(QObject *parent)
    : QObject(parent)
{}

EnterPresses::~EnterPresses() = default;

void EnterPresses::watch(QAbstractButton *button)
{
    button->installEventFilter(this);
}

bool EnterPresses::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    const auto *key = static_cast<QKeyEvent *>(event);
    const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    // The keypad's Enter arrives with the keypad modifier; any other modifier means something else.
    if (!enter || (key->modifiers() & ~Qt::KeypadModifier))
        return QObject::eventFilter(watched, event);
    auto *button = static_cast<QAbstractButton *>(watched);
    if (button->isEnabled() && !key->isAutoRepeat())
        button->click();
    return true;
}
