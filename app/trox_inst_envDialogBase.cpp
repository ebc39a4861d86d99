#include "trox_inst_envDialogBase.h"
trox_inst_envDialogBase::trox_inst_envDialogBase(QWidget *parent) : QDialog(parent) {}
trox_inst_envDialogBase::~trox_inst_envDialogBase() = default;
