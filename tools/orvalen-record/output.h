#pragma once

// Files named on the command line: found and written by the bytes the system
// gave, and never anything replaced but a regular file.

#include <QByteArray>
#include <QString>

namespace recordtool {

// A command-line argument as text. On Unix a file name is bytes: those that
// are no text in the system's encoding are carried in it as the record
// reader carries them, so that the file is still found and written.
[[nodiscard]] QString argumentText(const char *arg);
// The name for people to read: carried bytes shown as U+FFFD.
[[nodiscard]] QString shownName(const QString &name);
// A name by which Qt reaches the existing file `name` for reading.
[[nodiscard]] QString readableName(const QString &name);
// Whether both names are one existing file.
[[nodiscard]] bool sameFile(const QString &a, const QString &b);

// Writes bytes to standard output (an empty name) or puts them in the place of
// the file `name` once they are all on the disk. An existing target that is
// not a regular file (a device, a pipe, a folder) is refused; an existing
// record keeps its mode, and its owner where the system allows. False with why
// when nothing was written.
[[nodiscard]] bool writeOutput(const QString &name, const QByteArray &bytes, QString &why);

} // namespace recordtool
