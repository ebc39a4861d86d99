#include "RecentList.h"

#include "preferences.h"

#include <QListWidget>
#include <QSignalBlocker>

namespace {

// Only this many keys are ever read, although a save after a new value may write one more.
constexpr int loadedKeys = 10;

QListWidgetItem *findIgnoringCase(const QListWidget *list, const QString &text)
{
    const QList<QListWidgetItem *> found = list->findItems(text, Qt::MatchFixedString);
    return found.isEmpty() ? nullptr : found.first();
}

} // namespace

namespace RecentList {

void load(QListWidget *list, const QString &group)
{
    const auto store = openPreferences();
    store->beginGroup(group);
    for (int i = 0; i < loadedKeys; ++i) {
        const QString value = store->value(QString::number(i), QString()).toString();
        if (value.isEmpty() || findIgnoringCase(list, value))
            continue;
        list->addItem(value);
    }
}

void save(const QListWidget *list, const QString &group)
{
    savePreferences([list, &group](QSettings &store) {
        store.beginGroup(group);
        for (int i = 0; i < list->count(); ++i)
            store.setValue(QString::number(i), list->item(i)->text());
    });
}

void promote(QListWidget *list, const QString &text)
{
    if (text.isEmpty())
        return;
    // Reordering moves the current item; the editor must not take that as the operator's choice.
    const QSignalBlocker blocker(list);
    if (QListWidgetItem *existing = findIgnoringCase(list, text))
        list->insertItem(0, list->takeItem(list->row(existing)));
    else
        list->insertItem(0, text);
}

} // namespace RecentList
