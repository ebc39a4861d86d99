#pragma once

#include <QByteArray>
#include <QList>

#include <functional>
#include <optional>

// What a new login computes from the tool's two environment.d files: the machine file, then the
// per-user file, each assignment's references expanded against the values so far and otherwise
// against the environment the login starts from.
namespace LoginEnvironment {

struct Variable
{
    QByteArray name;
    QByteArray value;
    bool perUser = false; // the per-user file's assignment is the one that wins
    // The value rests on a variable the caller could not vouch for: one that `trusted` refused, or
    // one looked up outside the files (directly or through another variable's value).
    bool untrusted = false;
};

// Every variable the files give a value, in the order each is first assigned. `outside` answers a
// reference to a variable neither file assigns: the environment the login starts from.
// `trusted` names the variables whose file values may be built on; everything is trusted when unset.
QList<Variable> compute(const std::function<std::optional<QByteArray>(const QByteArray &)> &outside,
                        const std::function<bool(const QByteArray &)> &trusted = {});

} // namespace LoginEnvironment
