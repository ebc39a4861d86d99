#pragma once

#include <QDialog>

class QHBoxLayout;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QVBoxLayout;

// Form of the system chooser: a name field above the list of systems found under the root.
class set_systemBase : public QDialog
{
    Q_OBJECT

public:
    explicit set_systemBase(QWidget *parent = nullptr, Qt::WindowFlags flags = {});
    ~set_systemBase() override;

    QLabel *textLabel1;
    QLineEdit *system;
    QLabel *textLabel1_2;
    QListWidget *available;
    QPushButton *buttonOk;
    QPushButton *buttonCancel;

protected:
    QVBoxLayout *set_systemBaseLayout;
    QHBoxLayout *Layout1;

protected Q_SLOTS:
    virtual void languageChange();
};
