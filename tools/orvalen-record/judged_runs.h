#pragma once

// Records read and judged as analyze judges them, one summary a run, so that
// runs and trend hold a few numbers per run and never a run's samples.

#include "cli.h"
#include "record_stats.h"
#include "run_files.h"

#include <optional>
#include <vector>

namespace cli {

struct Judging
{
    recordstats::Window window;
    int slopeSeconds = 5;
};

// --window and --slope-window as analyze takes them. Empty with status set
// (usage or window error) when they are wrong.
[[nodiscard]] std::optional<Judging> judgingOf(const Args &a, int &status);

struct JudgedRun
{
    QString path;
    QString name; // the file name alone
    std::optional<runfiles::Stamp> stamp; // the record's six stamp lines
    std::optional<double> seconds; // the count line
    recordstats::Stats stats;
    recordstats::Judgement judgement;
};

// Reads and judges each file; one that cannot be read is named on standard
// error, left out, and sets failed.
[[nodiscard]] std::vector<JudgedRun>
judgeRuns(const QStringList &files, const Judging &judging, bool &failed);

// Rows of cells in columns as wide as their widest cell, the columns named
// right-aligned (numbers) and the others left-aligned.
[[nodiscard]] QByteArray alignedTable(const QList<QStringList> &rows, const QSet<qsizetype> &rightAligned);

// The runs folder, or says why there is none.
[[nodiscard]] std::optional<QString> runsFolder();

} // namespace cli
