#pragma once

// What the subcommands of orvalen-record share, so that each reads records
// and windows, parses options and writes JSON the same way.

#include "forms.h"
#include "record_stats.h"

#include "records/record_format.h"

#include <QByteArray>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

namespace cli {

void say(const QString &text); // a line on standard error
int usage(const QString &problem); // says the problem and the usage; the usage error status
// Reads a record as Open does; tells why not on standard error.
bool load(const QString &path, RecordContent &record);
// Output must never land on one of the records being read.
bool overwritesInput(const QString &out, const QStringList &inputs);
// Writes a whole output or nothing (empty path: standard output); says why
// not on standard error.
bool writeOut(const QString &path, const QByteArray &bytes);
using recordtool::cell;
using recordtool::jsonNumber;
using recordtool::jsonString;
// A built-in window or a window file; tells why not on standard error.
[[nodiscard]] std::optional<recordstats::Window> loadWindow(const QString &spec);

// Options after the subcommand: names that take a value, flags, and the rest.
struct Args
{
    QStringList files;
    QMap<QString, QString> values;
    QSet<QString> flags;
    QString problem;

    Args(const QStringList &args, const QStringList &valued, const QStringList &flagNames)
    {
        for (qsizetype i = 0; i < args.size(); ++i) {
            const QString &a = args[i];
            if (valued.contains(a)) {
                if (i + 1 >= args.size()) {
                    problem = QStringLiteral("%1 needs a value").arg(a);
                    return;
                }
                values[a] = args[++i];
            } else if (flagNames.contains(a)) {
                flags << a;
            } else if (a.startsWith(u'-') && a.size() > 1) {
                problem = QStringLiteral("unknown option %1").arg(a);
                return;
            } else {
                files << a;
            }
        }
    }
};

// The subcommands kept in files of their own.
int runs(const QStringList &args);
int trend(const QStringList &args);

} // namespace cli
