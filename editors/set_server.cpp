#include "set_server.h"

#include "EditorRules.h"
#include "preferences.h"
#include "RecentList.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>

set_server::set_server(QWidget *parent, Qt::WindowFlags flags)
    : set_serverBase(parent, flags)
    , m_rules(PathRules::native())
{
    connect(previous, &QListWidget::currentItemChanged, this, &set_server::previousSelected);
    connect(previous, &QListWidget::itemDoubleClicked, this, &set_server::accept);
    RecentList::load(previous, QLatin1String(Preferences::recentServerGroup));
}

set_server::~set_server()
{
    RecentList::save(previous, QLatin1String(Preferences::recentServerGroup));
}

void set_server::setPathRules(const PathRules &rules)
{
    m_rules = rules;
}

bool set_server::invalidServerPath(const QString &text) const
{
    return !EditorRules(m_rules).validServer(text);
}

// The check sees the text as typed, so a network path written with forward slashes is refused.
void set_server::accept()
{
    if (invalidServerPath(server->text())) {
        validvalue->setText(tr("This is not a valid path to a server (see Tooltip)"));
        return;
    }
    server->setText(EditorRules(m_rules).normalisedServer(server->text()));
    RecentList::promote(previous, server->text());
    set_serverBase::accept();
}

void set_server::previousSelected(QListWidgetItem *item)
{
    if (item)
        server->setText(item->text());
}
