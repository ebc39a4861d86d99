#pragma once
#include "trox_inst_envDialogBase.h"
class trox_inst_envDialog : public trox_inst_envDialogBase
{
    Q_OBJECT
public:
    explicit trox_inst_envDialog(QWidget *parent = nullptr);
    ~trox_inst_envDialog() override;
};
