#pragma once

#include <QDialog>

class QHBoxLayout;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QVBoxLayout;

// Form of the root path editor: the path with a Browse button above the recent-values list.
class set_rootBase : public QDialog
{
    Q_OBJECT
public:
    explicit set_rootBase(QWidget *parent = nullptr, Qt::WindowFlags flags = {});
    ~set_rootBase() override;

    QLineEdit *path;
    QPushButton *browse;
    QLabel *textLabel1;
    QListWidget *previous;
    QPushButton *ok;
    QPushButton *cancel;

protected Q_SLOTS:
    virtual void languageChange();

protected:
    QVBoxLayout *set_rootBaseLayout;
    QHBoxLayout *layout2;
    QHBoxLayout *Layout1;
};
