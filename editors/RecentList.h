#pragma once

#include <QString>

class QListWidget;

// The recent-values list of a path editor: newest first, no empty entries and no two entries
// equal when letter case is ignored. One group of the preference store holds each list, entry i
// under the key "i"; there is no count entry.
namespace RecentList {

// Appends the values stored under keys "0" to "9" of the group, skipping empty values and
// case-insensitive repeats; a gap does not end the list.
void load(QListWidget *list, const QString &group);

// Writes entry i under key "i" for every entry; keys beyond the last entry are left alone.
void save(const QListWidget *list, const QString &group);

// Moves the entry equal to the text, ignoring case, to the top with its own spelling, or puts
// the text on top as a new entry. An empty text changes nothing.
void promote(QListWidget *list, const QString &text);

} // namespace RecentList
