#pragma once

#include <QByteArray>

// Editing one key of an INI file the way WritePrivateProfileString does, touching nothing else.
namespace ProfileFile {

// The file with key=value in the first section of that name (both matched case-insensitively after
// trimming): the first matching key's value replaced, or the key added after the section's last
// non-blank line, or the section added at the end. Byte order mark and line endings are kept; new
// lines take the file's line ending (LF for a new file). Section, key and value are UTF-8; a file
// that starts with a UTF-16 byte order mark stays UTF-16. A null array when the file's encoding
// cannot take the text without mixing: broken UTF-16, or text beyond ASCII for a file that is not UTF-8.
QByteArray setKey(const QByteArray &contents, const QByteArray &section, const QByteArray &key,
                  const QByteArray &value);

// The trimmed value of the key that setKey() would replace; a null array when there is none.
QByteArray value(const QByteArray &contents, const QByteArray &section, const QByteArray &key);

} // namespace ProfileFile
