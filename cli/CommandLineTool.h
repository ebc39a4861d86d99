#pragma once

#include "SettingsApplier.h"

#include <QCoreApplication>
#include <QStringList>
#include <QTextStream>

// trox_inst_env_cli: shows the stored settings, or sets them with the editors' checks and Ok's rules,
// so that a workstation can be set up from a script or a fleet tool without the dialog.
class CommandLineTool
{
    Q_DECLARE_TR_FUNCTIONS(CommandLineTool)

public:
    // Exit codes: everything written, shown or already so; something not written; request refused.
    enum Exit { Written = 0, NotWritten = 1, InvalidInput = 2 };

    CommandLineTool();
    int run(const QStringList &arguments);

private:
    int show(bool json);
    int set(const QStringList &assignments, const QStringList &switches, bool dryRun, bool systemProfile);
    // Refuses the request; with `set --json` the refusal is also the JSON result.
    int invalid(const QString &message);

    QTextStream m_out;
    QTextStream m_err;
    bool m_json = false;
    bool m_dryRun = false;
};
