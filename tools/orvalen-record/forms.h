#pragma once

// How the tool writes values in its JSON and its tables.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace recordtool {

// A JSON number, or null for none and for what is no finite number.
[[nodiscard]] QByteArray jsonNumber(const std::optional<double> &v);
// A JSON string in UTF-8, every character kept (carried bytes as U+FFFD).
[[nodiscard]] QByteArray jsonString(const QString &text);
[[nodiscard]] QByteArray jsonStrings(const QStringList &texts, bool trimmed);
// A table cell: to two places, or "-" where the JSON says null; a value too
// large to round is written whole, as in the JSON.
[[nodiscard]] QString cell(const std::optional<double> &v);

} // namespace recordtool
