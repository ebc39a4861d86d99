#pragma once

#include <QBoxLayout>
#include <QLatin1String>

#include <tuple>

class QDialog;
class QPushButton;

// Construction steps the forms share. Every object is named after the member that holds it.
namespace FormLayout {

// Turns on the dialog's size grip and gives it its top-level column: margin 11, spacing 6.
QVBoxLayout *column(QDialog *form, const char *name);

// A row for nesting in the column: margin 0, spacing 6.
QHBoxLayout *row(const char *name);

// Creates a child widget of the form and appends it to the layout.
template <typename Widget> Widget *add(QWidget *form, QBoxLayout *layout, const char *name)
{
    auto *widget = new Widget(form);
    widget->setObjectName(QLatin1String(name));
    layout->addWidget(widget);
    return widget;
}

// Appends the closing row to the column: an expanding spacer pushes OK, the default button, and
// Cancel to the right. OK accepts and Cancel rejects the form.
std::tuple<QHBoxLayout *, QPushButton *, QPushButton *> addButtonRow(QDialog *form, QVBoxLayout *column,
                                                                     const char *rowName, const char *okName,
                                                                     const char *cancelName,
                                                                     int spacerWidth = 20);

} // namespace FormLayout
