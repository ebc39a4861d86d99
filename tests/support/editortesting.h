#pragma once

#include "loadwatcher.h"
#include "modalcatcher.h"
#include "preferences.h"

#include <QDialog>
#include <QDir>
#include <QFile>
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

// Writes the workstation list of a system directory, making the directories it needs.
inline bool writeWorkstationList(const QString &system, const QByteArray &contents)
{
    if (!QDir().mkpath(system + QStringLiteral("/config")))
        return false;
    QFile file(system + QStringLiteral("/config/workstations.xml"));
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size();
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
