#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

// What a new login computes from environment.d files, read as systemd's user environment generator
// reads them: every *.conf file of the user's own folder and of the machine's folders, a name in an
// earlier folder masking the same name in later ones, all of them in the order of their names, each
// assignment's references expanded against the values so far and otherwise against the environment
// the login starts from.
namespace LoginEnvironment {

struct Variable
{
    QByteArray name;
    QByteArray value;
    bool perUser = false; // the assignment that wins lies in the user's own folder
    // The value rests on a variable the caller could not vouch for: one that `trusted` refused, or
    // one looked up outside the files (directly or through another variable's value).
    bool untrusted = false;
};

// The variables the tool owns: the only ones it writes, announces or keeps /etc/environment in step with.
inline constexpr const char *toolVariables[] = {
    "OV_ROOT", "OV_SYSTEM", "OV_SERVER_ROOT", "OV_RESERVE_SERVER_ROOT", "OV_WORKSTATION", "OV_DEVELOPER"};
bool isToolVariable(const QByteArray &name);

// Every variable the files give a value, in the order each is first assigned. `outside` answers a
// reference to a variable no file assigns: the environment the login starts from.
// `trusted` names the variables whose file values may be built on; everything is trusted when unset.
// A file the safe reader refuses, or with a NUL byte, gives nothing; a value that is not UTF-8 makes
// the generator fail, and then nothing at all is given.
QList<Variable> compute(const std::function<std::optional<QByteArray>(const QByteArray &)> &outside,
                        const std::function<bool(const QByteArray &)> &trusted = {},
                        bool withUserFolder = true);

// compute() against this process's environment; where the machine's paths are the real ones and
// systemd's generator is installed, its own output, the generator being run bounded in time and
// output. Each variable's flags still come from the tool's own reading.
QList<Variable> login();

} // namespace LoginEnvironment
