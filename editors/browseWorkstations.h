#pragma once

#include "browseWorkstationsBase.h"

// The workstation browser: lists a system's workstations and hands back the id of the chosen one.
class browseWorkstations : public browseWorkstationsBase
{
    Q_OBJECT

public:
    explicit browseWorkstations(QWidget *parent = nullptr, Qt::WindowFlags flags = {});
    ~browseWorkstations() override;

    void loadWorkstations(const QString &directory);
    void accept() override;

    QString workstationId;
};
