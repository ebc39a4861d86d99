#pragma once

#include <QDialog>

class QHBoxLayout;
class QLabel;
class QListWidget;
class QPushButton;
class QVBoxLayout;

// Form of the workstation browser: the system directory above the list of its workstations.
class browseWorkstationsBase : public QDialog
{
    Q_OBJECT

public:
    explicit browseWorkstationsBase(QWidget *parent = nullptr, Qt::WindowFlags flags = {});
    ~browseWorkstationsBase() override;

    QLabel *textLabel1;
    QLabel *showPath;
    QListWidget *workstations;
    QPushButton *buttonOk;
    QPushButton *buttonCancel;

protected:
    QVBoxLayout *browseWorkstationsBaseLayout;
    QHBoxLayout *Layout1;

protected Q_SLOTS:
    virtual void languageChange();
};
