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

// UTF-8 as systemd takes it: shortest forms only, no surrogates, no noncharacters.
bool isValidUtf8(const QByteArray &text);

// False when systemd's generator cannot read the file as its lines say, whatever is written into it:
// a NUL byte makes it skip the whole file, a value that is not valid UTF-8 makes it fail outright
// and the login lose every environment.d variable.
bool isLoginReadable(const QByteArray &contents);

// True when the text ends where a new assignment could start, having assigned no variable: lines
// put before others then change nothing the generator reads from them.
bool assignsNothing(const QByteArray &text);

// The line (without line break) that gives the variable exactly this value once expanded; a %NAME%
// reference expands to NAME's value where that is defined and stays literal where it is not.
QByteArray assignmentLine(const QByteArray &name, const QByteArray &value);

// Every assignment of the variable replaced by assignmentLine(), or that line appended; all other
// bytes kept; a comment or value continued at the end of the file is ended first. A null array when
// the line would have to be appended to a file that ends inside an open quote (the login would read
// it as part of that value), or when the file is not login-readable.
QByteArray setVariable(const QByteArray &contents, const QByteArray &name, const QByteArray &value);

// The value of a variable, or nothing when it is not set.
using Lookup = std::function<std::optional<QByteArray>(const QByteArray &name)>;
QByteArray expand(const QByteArray &text, const Lookup &lookup);

// An expanded value as the login ends up with it: the generator prints control characters as C
// escapes, which the user manager reads back as they are, so a tab arrives as the two characters "\t".
QByteArray loginValue(const QByteArray &expanded);

} // namespace EnvFile
