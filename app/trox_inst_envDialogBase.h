#pragma once
#include <QDialog>
class trox_inst_envDialogBase : public QDialog
{
    Q_OBJECT
public:
    explicit trox_inst_envDialogBase(QWidget *parent = nullptr);
    ~trox_inst_envDialogBase() override;
};
