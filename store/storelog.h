#pragma once

#include <QLoggingCategory>

// The store's debug log: what it could not write or announce, each line a whole sentence. Off unless
// TROX_INST_ENV_DEBUG is set to a non-empty value (or QT_LOGGING_RULES turns "trox.store.debug" on), so
// that a packaged build and the command-line tool say nothing beyond what they report themselves.
inline const QLoggingCategory &storeLog()
{
    static const QLoggingCategory category(
        "trox.store", qEnvironmentVariableIsEmpty("TROX_INST_ENV_DEBUG") ? QtInfoMsg : QtDebugMsg);
    return category;
}
