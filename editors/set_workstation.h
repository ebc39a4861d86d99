#pragma once

#include "set_workstationBase.h"

// The workstation number editor: a number from 1 to 999, typed or picked from the system's list.
class set_workstation : public set_workstationBase
{
    Q_OBJECT

public:
    explicit set_workstation(QWidget *parent = nullptr, Qt::WindowFlags flags = {});
    ~set_workstation() override;

    void setSystemPath(const QString &path);
    void accept() override;

    QString systemPath;

public Q_SLOTS:
    void doBrowseWorkstations();
};
