#pragma once

#include "loadwatcher.h"
#include "modalcatcher.h"
#include "preferences.h"
#include "sandbox.h"

#include <QAbstractButton>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QKeySequence>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QSettings>
#include <QStringList>
#include <QTest>
#include <QTimer>

#include <functional>

// Helpers for driving the value editors as a person would.

// The texts of a list's entries, top first.
inline QStringList entries(const QListWidget *list)
{
    QStringList texts;
    for (int row = 0; row < list->count(); ++row)
        texts.append(list->item(row)->text());
    return texts;
}

// Writes "key=value" pairs into a group of the preference store.
inline void seedPreferences(const QString &group, const QStringList &pairs)
{
    const auto store = openPreferences();
    store->beginGroup(group);
    for (const QString &pair : pairs) {
        const qsizetype equals = pair.indexOf(QLatin1Char('='));
        store->setValue(pair.left(equals), pair.mid(equals + 1));
    }
}

// The keys "0" to "15" present in a group of the preference store, as "key=value" in key order.
inline QStringList storedPreferences(const QString &group)
{
    const auto store = openPreferences();
    store->beginGroup(group);
    QStringList pairs;
    for (int i = 0; i < 16; ++i) {
        const QString key = QString::number(i);
        if (store->contains(key))
            pairs.append(key + QLatin1Char('=') + store->value(key).toString());
    }
    return pairs;
}

// Runs the dialog modally and performs the steps inside its event loop. The steps must close
// it; one left open fails the test and is rejected, so a fault cannot hang the run.
inline int runModal(QDialog &dialog, const std::function<void()> &steps)
{
    QTimer::singleShot(0, &dialog, [&] {
        steps();
        if (dialog.isVisible()) {
            dialog.reject();
            QFAIL("the dialog was left open");
        }
    });
    return dialog.exec();
}

inline void clickEntry(QListWidget *list, int row)
{
    list->scrollToItem(list->item(row));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(row)).center());
}

// The first click makes the entry current, the second one opens it.
inline void doubleClickEntry(QListWidget *list, int row)
{
    clickEntry(list, row);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(row)).center());
}

// Performs an editor's steps as a person would: "type <text>", "retype <text>" (all selected first),
// "click <row>", "dclick <row>", "up" (in the list), "ok", "cancel", or a key sequence pressed in
// the text field ("Return", "Esc", "Alt+O").
inline void perform(const QStringList &steps, QLineEdit *edit, QListWidget *list, QAbstractButton *ok,
                    QAbstractButton *cancel)
{
    for (const QString &step : steps) {
        const QString verb = step.section(QLatin1Char(' '), 0, 0);
        const QString rest = step.section(QLatin1Char(' '), 1);
        if (verb == QLatin1String("retype"))
            QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
        if (verb == QLatin1String("type") || verb == QLatin1String("retype"))
            QTest::keyClicks(edit, rest);
        else if (verb == QLatin1String("click"))
            clickEntry(list, rest.toInt());
        else if (verb == QLatin1String("dclick"))
            doubleClickEntry(list, rest.toInt());
        else if (verb == QLatin1String("up"))
            QTest::keyClick(list, Qt::Key_Up);
        else if (verb == QLatin1String("ok") || verb == QLatin1String("cancel"))
            QTest::mouseClick(verb == QLatin1String("ok") ? ok : cancel, Qt::LeftButton);
        else
            QTest::keySequence(edit, QKeySequence(step));
    }
}

// Writes the workstation list of a system directory, making the directories it needs.
inline bool writeWorkstationList(const QString &system, const QByteArray &contents)
{
    return Sandbox::writeFile(system + QStringLiteral("/config/workstations.xml"), contents);
}

// Has the catcher hand every modal of type Editor to `act`; other modals get the default answer.
template <typename Editor> void answer(ModalCatcher &catcher, const std::function<void(Editor *)> &act)
{
    catcher.setResponder([act](QWidget *modal) {
        auto *editor = qobject_cast<Editor *>(modal);
        if (editor)
            act(editor);
        return editor != nullptr;
    });
}

// "title|text" of every message box the catcher has answered.
inline QStringList messageBoxes(const ModalCatcher &catcher)
{
    QStringList boxes;
    for (const ModalCatcher::Seen &seen : catcher.seen) {
        if (seen.className == QLatin1String(QMessageBox::staticMetaObject.className()))
            boxes.append(seen.title + QLatin1Char('|') + seen.text);
    }
    return boxes;
}

// Shows a dialog that loads on its first timer event and lets the load run; false when the load
// did not run or opened a message box (answered, so that it fails the test instead of blocking it).
inline bool loadsQuietly(QWidget &dialog)
{
    ModalCatcher catcher;
    catcher.ignore(&dialog);
    return LoadWatcher::showLoaded(dialog) && catcher.seen.isEmpty();
}
