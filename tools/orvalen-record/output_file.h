#pragma once

#include <QByteArray>
#include <QString>

namespace cli {

// Writes a whole output file or nothing: into a temporary file beside it,
// renamed over it at the end. An existing path that is not a regular file (a
// folder, a pipe, a device) is refused. False, said on standard error, when
// the file cannot be written.
[[nodiscard]] bool writeOutputFile(const QString &path, const QByteArray &bytes);

} // namespace cli
