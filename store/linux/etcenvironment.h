#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>

#include <optional>

// /etc/environment as PAM's pam_env reads it for ssh, login, su, cron and display managers, whatever
// the shell: one assignment a line, no expansion, quotes only stripped around the whole value, '#'
// ending the line wherever it stands, a trailing backslash joining the next line, and a line past
// its buffer ending the whole file. The tool keeps its own lines there, "export NAME=\"value\"" at
// the top: pam_env takes them, while systemd's generator (which reads the same file as
// environment.d's 99-environment.conf) skips them for their name, so that graphical logins and
// login shells keep the environment.d order, the per-user file winning.
namespace EtcEnvironment {

inline constexpr char path[] = "/etc/environment"; // under TROX_INST_ENV_PREFIX

struct Line
{
    QByteArray name;
    std::optional<QByteArray> value; // nothing: the line unsets the name
    bool managed = false;            // one of the tool's own lines
};

// Every assignment pam_env makes, in order.
QList<Line> read(const QByteArray &contents);

// The tool's line for the variable, or a null array when pam_env would read another value from any
// line giving it, or the generator would read the line as more than a name it skips.
QByteArray managedLine(const QByteArray &name, const QByteArray &value);

// The contents with every managed line of `names` removed and `lines` put first.
QByteArray setManaged(const QByteArray &contents, const QList<QByteArray> &names,
                      const QList<QByteArray> &lines);

} // namespace EtcEnvironment
