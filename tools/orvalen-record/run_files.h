#pragma once

// Finding and ordering runs kept as record files: the journal's file names,
// the record's own stamp as a date and time, and folders of records.

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>

namespace runfiles {

// A date and time as the oven's clock gave it: local time, with no zone, so
// that a stamp inside a daylight-saving change still reads and orders.
struct Stamp
{
    QDate date;
    QTime time;
    [[nodiscard]] qint64 key() const
    {
        return date.toJulianDay() * 86400 + time.msecsSinceStartOfDay() / 1000;
    }
    [[nodiscard]] QString text() const; // 2024-05-09T14:03:27
    friend bool operator==(const Stamp &a, const Stamp &b) { return a.key() == b.key(); }
};

// The six stamp lines (year, month, day, hour, minute, second) as whole
// numbers of a real date and time; empty otherwise.
[[nodiscard]] std::optional<Stamp> stampOf(const QStringList &lines);

// The start stamp in a journal's name, YYYY-MM-DD_HH-MM-SS.dbf or
// YYYY-MM-DD_HH-MM-SS-N.dbf; empty for any other name.
[[nodiscard]] std::optional<Stamp> journalStamp(const QString &fileName);

// Orders file names with the numbers in them by value, and a name before the
// same name with more after it: run.dbf, run-2.dbf, run-10.dbf.
[[nodiscard]] bool nameLess(const QString &a, const QString &b);

// Each path that is a folder gives its *.dbf files (any case, not
// recursive); any other path is taken as it is. A folder that cannot be
// listed is added to unreadable.
[[nodiscard]] QStringList recordFiles(const QStringList &paths, QStringList &unreadable);

} // namespace runfiles
