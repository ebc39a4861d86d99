#pragma once

#include <QDialog>

class QCheckBox;
class QGridLayout;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QVBoxLayout;

// The main settings dialog's form: the six values in four groups, their Set buttons, Ok and Cancel.
class trox_inst_envDialogBase : public QDialog
{
    Q_OBJECT

public:
    explicit trox_inst_envDialogBase(QWidget *parent = nullptr, const char *name = nullptr,
                                     bool modal = false, Qt::WindowFlags fl = {});
    ~trox_inst_envDialogBase() override;

    QGroupBox *groupBox4;
    QLabel *system;
    QLabel *textLabel1_2;
    QPushButton *setRoot;
    QPushButton *setSystem;
    QLabel *root;
    QLabel *textLabel1;
    QLabel *warning;
    QLabel *textLabel1_4;
    QGroupBox *groupBox5;
    QCheckBox *standalone;
    QPushButton *setServer;
    QLabel *textLabel1_2_3;
    QLabel *server;
    QLabel *textLabel1_2_3_2;
    QLabel *reserveserver;
    QPushButton *setReserveServer;
    QGroupBox *groupBox6;
    QLabel *textLabel1_2_2;
    QLabel *workstation;
    QPushButton *setWorkstation;
    QGroupBox *groupBox4_2;
    QCheckBox *developer;
    QLabel *textLabel1_3;
    QPushButton *ok;
    QPushButton *cancel;

protected:
    QVBoxLayout *trox_inst_envDialogBaseLayout;
    QGridLayout *groupBox4Layout;
    QGridLayout *groupBox5Layout;
    QHBoxLayout *groupBox6Layout;
    QVBoxLayout *groupBox4_2Layout;
    QHBoxLayout *layout4;
    QHBoxLayout *layout1;

protected Q_SLOTS:
    virtual void languageChange();
};
