#include "FormLayout.h"

#include <QDialog>
#include <QPushButton>
#include <QSpacerItem>

namespace FormLayout {

QVBoxLayout *column(QDialog *form, const char *name)
{
    form->setSizeGripEnabled(true);
    auto *layout = new QVBoxLayout(form);
    layout->setObjectName(QLatin1String(name));
    layout->setContentsMargins(11, 11, 11, 11);
    layout->setSpacing(6);
    return layout;
}

QHBoxLayout *row(const char *name)
{
    auto *layout = new QHBoxLayout;
    layout->setObjectName(QLatin1String(name));
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    return layout;
}

std::tuple<QHBoxLayout *, QPushButton *, QPushButton *> addButtonRow(QDialog *form, QVBoxLayout *column,
                                                                     const char *rowName, const char *okName,
                                                                     const char *cancelName, int spacerWidth)
{
    QHBoxLayout *buttons = row(rowName);
    buttons->addItem(new QSpacerItem(spacerWidth, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    auto *ok = add<QPushButton>(form, buttons, okName);
    ok->setAutoDefault(true);
    ok->setDefault(true);
    auto *cancel = add<QPushButton>(form, buttons, cancelName);
    cancel->setAutoDefault(true);
    column->addLayout(buttons);

    QObject::connect(ok, &QPushButton::clicked, form, &QDialog::accept);
    QObject::connect(cancel, &QPushButton::clicked, form, &QDialog::reject);
    return {buttons, ok, cancel};
}

} // namespace FormLayout
