#include "judged_runs.h"

#include "records/runs_folder.h"

#include <QFileInfo>

namespace cli {

std::optional<Judging> judgingOf(const Args &a, int &status)
{
    bool ok = true;
    const int slope = a.values.value(QStringLiteral("--slope-window"), QStringLiteral("5")).toInt(&ok);
    if (!ok || slope < 1) {
        status = usage(QStringLiteral("--slope-window takes a whole number of seconds, 1 or more"));
        return std::nullopt;
    }
    std::optional<recordstats::Window> window = loadWindow(
            a.values.value(QStringLiteral("--window"), QStringLiteral("sac305")));
    if (!window) {
        status = 2;
        return std::nullopt;
    }
    return Judging{std::move(*window), slope};
}

std::vector<JudgedRun> judgeRuns(const QStringList &files, const Judging &judging, bool &failed)
{
    std::vector<JudgedRun> out;
    out.reserve(std::size_t(files.size()));
    for (const QString &path : files) {
        RecordContent record;
        if (!load(path, record)) {
            failed = true;
            continue;
        }
        JudgedRun run;
        run.path = path;
        run.name = QFileInfo(path).fileName();
        run.stamp = runfiles::stampOf(record.stamp);
        run.seconds = record.countValue;
        run.stats = recordstats::computeStats(recordstats::sampleValues(record.samples), judging.window,
                                              judging.slopeSeconds);
        run.judgement = recordstats::judge(run.stats, judging.window);
        out.push_back(std::move(run));
    }
    return out;
}

QByteArray alignedTable(const QList<QStringList> &rows, const QSet<qsizetype> &rightAligned)
{
    std::vector<qsizetype> width;
    for (const QStringList &r : rows) {
        width.resize(std::max(width.size(), std::size_t(r.size())), 0);
        for (qsizetype c = 0; c < r.size(); ++c)
            width[std::size_t(c)] = std::max(width[std::size_t(c)], r[c].size());
    }
    QByteArray out;
    for (const QStringList &r : rows) {
        QString line;
        for (qsizetype c = 0; c < r.size(); ++c) {
            const auto w = int(width[std::size_t(c)]);
            line += rightAligned.contains(c) ? r[c].rightJustified(w) : r[c].leftJustified(w);
            line += QStringLiteral("  ");
        }
        out += line.trimmed().toUtf8() + '\n';
    }
    return out;
}

std::optional<QString> runsFolder()
{
    const QString folder = runs::folder();
    if (folder.isEmpty()) {
        say(QStringLiteral("orvalen-record: this system names no data folder, so there is no runs folder; "
                           "name a folder or files."));
        return std::nullopt;
    }
    if (!QFileInfo(folder).isDir()) {
        say(QStringLiteral("orvalen-record: no run has been journaled here yet: %1 does not exist.")
                    .arg(folder));
        return std::nullopt;
    }
    return folder;
}

} // namespace cli
