#pragma once

#include <QObject>

class QBoxLayout;
class QDialog;
class QScrollArea;

// Keeps a form inside the screen it opens on. Where the form is taller than the screen's available
// area, the rows of its column from `first` up to the last row (the buttons) move into one scrolling
// area, so that the rows above and the buttons stay in view; where it fits, nothing changes.
class ScreenFit : public QObject
{
    Q_OBJECT

public:
    ScreenFit(QDialog *form, QBoxLayout *column, int first);
    ~ScreenFit() override;

    // The scrolling area, or null while the form fits as it is.
    QScrollArea *scrollArea() const { return m_area; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void fit();
    void scrollMiddle();

    QDialog *m_form;
    QBoxLayout *m_column;
    int m_first;
    QScrollArea *m_area = nullptr;
};
