#pragma once

#include "set_systemBase.h"

class QListWidgetItem;

// The system chooser: lists the systems under a root and takes a picked or typed name.
class set_system : public set_systemBase
{
    Q_OBJECT

public:
    explicit set_system(QWidget *parent = nullptr, Qt::WindowFlags flags = {});
    ~set_system() override;

    void listSystems(const QString &root);

public Q_SLOTS:
    void availableSelected(QListWidgetItem *lbi);
};
