#include "trox_inst_envDialog.h"
trox_inst_envDialog::trox_inst_envDialog(QWidget *parent) : trox_inst_envDialogBase(parent) {}
trox_inst_envDialog::~trox_inst_envDialog() = default;
