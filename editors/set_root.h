#pragma once

#include "pathrules.h"
#include "set_rootBase.h"

class QListWidgetItem;

// Root path editor: the operator types, browses for or picks from the recent roots the
// directory that holds all systems; the caller reads the normalised result from `path`.
class set_root : public set_rootBase
{
    Q_OBJECT
public:
    explicit set_root(QWidget *parent = nullptr, Qt::WindowFlags flags = {});
    ~set_root() override;

    // The rules that normalise the path on OK; the platform's own unless set otherwise.
    void setPathRules(const PathRules &rules);
    void accept() override;

public Q_SLOTS:
    void doBrowse();
    void previousSelected(QListWidgetItem *item);

private:
    PathRules m_rules;
};
