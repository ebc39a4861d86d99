#pragma once

#include "pathrules.h"
#include "set_serverBase.h"

class QListWidgetItem;

// Server path editor, used for the server and the reserve server alike: refuses a path that
// starts like neither a drive nor a network path; the caller reads the result from `server`.
class set_server : public set_serverBase
{
    Q_OBJECT
public:
    explicit set_server(QWidget *parent = nullptr, Qt::WindowFlags flags = {});
    ~set_server() override;

    // The rules for the path check and the separators; the platform's own unless set otherwise.
    void setPathRules(const PathRules &rules);
    bool invalidServerPath(const QString &text) const;
    void accept() override;

public Q_SLOTS:
    void previousSelected(QListWidgetItem *item);

private:
    PathRules m_rules;
};
