#pragma once

#include <QByteArray>
#include <QList>

#include <functional>
#include <optional>

// environment.d files read the way systemd's user environment generator reads them: NAME=value
// assignments with shell-like quoting, then ${NAME}, $NAME, ${NAME:-default} and ${NAME:+alternate}
// expanded, $$ standing for a literal dollar. Pure functions over the file's bytes.
namespace EnvFile {

struct Assignment
{
    QByteArray name;
    QByteArray value;      // unquoted, references not yet expanded
    bool hasValue = false; // the generator ignores "NAME=" and "NAME=\"\"": nothing after the '='
    qsizetype begin = 0;   // start of the line holding the name
    qsizetype end = 0;     // where the value ends, at its line break
    qsizetype next = 0;    // after that line break
};

QList<Assignment> parse(const QByteArray &contents);

bool isValidName(const QByteArray &name);

// The line (without line break) that gives the variable exactly this value once expanded; a %NAME%
// reference expands to NAME's value where that is defined and stays literal where it is not.
QByteArray assignmentLine(const QByteArray &name, const QByteArray &value);

// Every assignment of the variable replaced by assignmentLine(), or that line appended; all other
// bytes kept. A null array when the line would have to be appended to a file that ends inside an
// unfinished value (an open quote, a trailing backslash): the login would read it as part of that value.
QByteArray setVariable(const QByteArray &contents, const QByteArray &name, const QByteArray &value);

// The value of a variable, or nothing when it is not set.
using Lookup = std::function<std::optional<QByteArray>(const QByteArray &name)>;
QByteArray expand(const QByteArray &text, const Lookup &lookup);

} // namespace EnvFile
