#pragma once

#include <QDialog>

class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QVBoxLayout;

// Form of the workstation number editor: a number field with a Browse button beside it.
class set_workstationBase : public QDialog
{
    Q_OBJECT

public:
    explicit set_workstationBase(QWidget *parent = nullptr, Qt::WindowFlags flags = {});
    ~set_workstationBase() override;

    QLabel *textLabel1;
    QLineEdit *workstation;
    QPushButton *browse;
    QPushButton *buttonOk;
    QPushButton *buttonCancel;

protected:
    QVBoxLayout *set_workstationBaseLayout;
    QHBoxLayout *layout2;
    QHBoxLayout *layout3;

protected Q_SLOTS:
    virtual void languageChange();
};
