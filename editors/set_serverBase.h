#pragma once

#include <QDialog>

class QHBoxLayout;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QVBoxLayout;

// Form of the server path editor: the server path, a red line for a refusal, the recent servers.
class set_serverBase : public QDialog
{
    Q_OBJECT
public:
    explicit set_serverBase(QWidget *parent = nullptr, Qt::WindowFlags flags = {});
    ~set_serverBase() override;

    QLabel *textLabel1;
    QLineEdit *server;
    QLabel *validvalue;
    QLabel *textLabel1_2;
    QListWidget *previous;
    QPushButton *buttonOk;
    QPushButton *buttonCancel;

protected Q_SLOTS:
    virtual void languageChange();

protected:
    QVBoxLayout *set_serverBaseLayout;
    QHBoxLayout *Layout1;
};
