// orvalen-record runs: the journaled runs of a folder, newest first, with
// how each ended.
#include "cli.h"
#include "judged_runs.h"
#include "run_files.h"

#include <QFileInfo>

#include <algorithm>

namespace cli {

namespace {

struct Listed
{
    JudgedRun run;
    std::optional<runfiles::Stamp> start;
    const char *ended = "unknown";
};

// A journal carries its start in its name and, once Stop or Stop
// Communicate has rewritten it, the stop time in its stamp lines. A journal
// whose stamp is still its start was never stopped: the program ended or
// died during the run (or the run is still going, or it was stopped in the
// very second it started: the file cannot tell these apart).
Listed listed(JudgedRun run)
{
    Listed l{std::move(run), {}, "unknown"};
    if (const std::optional<runfiles::Stamp> named = runfiles::journalStamp(l.run.name)) {
        l.start = named;
        if (l.run.stamp)
            l.ended = *l.run.stamp == *named ? "cut off" : "stopped";
    } else {
        // Not a journal: its stamp may be its start or its stop; the file cannot tell.
        l.start = l.run.stamp;
    }
    return l;
}

QString dateText(const std::optional<runfiles::Stamp> &s)
{
    return s ? s->date.toString(Qt::ISODate) + u' ' + s->time.toString(Qt::ISODate) : QStringLiteral("-");
}

QByteArray tableOf(const std::vector<Listed> &all, const QString &windowName)
{
    QList<QStringList> rows{{QStringLiteral("started"), QStringLiteral("seconds"), QStringLiteral("peak_c"),
                             QStringLiteral("pwi (%1)").arg(windowName), QStringLiteral("in window"),
                             QStringLiteral("ended"), QStringLiteral("file")}};
    for (const Listed &l : all)
        rows << QStringList{dateText(l.start),
                            cell(l.run.seconds),
                            cell(l.run.stats.peakC),
                            cell(l.run.judgement.pwi),
                            l.run.judgement.inWindow ? QStringLiteral("yes") : QStringLiteral("no"),
                            QString::fromLatin1(l.ended),
                            l.run.name};
    return alignedTable(rows, {1, 2, 3});
}

QByteArray jsonOf(const std::vector<Listed> &all, const QString &windowName)
{
    QByteArray out = all.empty() ? "[" : "[\n";
    for (std::size_t i = 0; i < all.size(); ++i) {
        const Listed &l = all[i];
        out += "  {\"file\": " + jsonString(l.run.path) + ", \"started\": "
               + (l.start ? jsonString(l.start->text()) : QByteArray("null")) + ", \"seconds\": "
               + jsonNumber(l.run.seconds) + ", \"peak_c\": " + jsonNumber(l.run.stats.peakC)
               + ", \"window\": " + jsonString(windowName) + ", \"pwi\": " + jsonNumber(l.run.judgement.pwi)
               + ", \"in_window\": " + (l.run.judgement.inWindow ? "true" : "false") + ", \"ended\": \""
               + l.ended + "\"}" + (i + 1 < all.size() ? ",\n" : "\n");
    }
    return out + "]\n";
}

} // namespace

int runs(const QStringList &args)
{
    const Args a(args, {QStringLiteral("--window"), QStringLiteral("--slope-window")},
                 {QStringLiteral("--json")});
    if (!a.problem.isEmpty())
        return usage(a.problem);
    if (a.files.size() > 1)
        return usage(QStringLiteral("runs takes one folder"));
    int status = 0;
    const std::optional<Judging> judging = judgingOf(a, status);
    if (!judging)
        return status;
    QString folder;
    if (!a.files.isEmpty()) {
        folder = a.files[0];
        if (!QFileInfo(folder).isDir()) {
            say(QStringLiteral("orvalen-record: %1 is not a folder.").arg(folder));
            return 2;
        }
    } else if (const std::optional<QString> f = runsFolder()) {
        folder = *f;
    } else {
        return 2;
    }

    QStringList unreadable;
    const QStringList files = runfiles::recordFiles({folder}, unreadable);
    bool failed = !unreadable.isEmpty();
    for (const QString &u : unreadable)
        say(QStringLiteral("orvalen-record: the folder %1 cannot be read.").arg(u));
    std::vector<JudgedRun> judged = judgeRuns(files, *judging, failed);
    std::vector<Listed> all;
    all.reserve(judged.size());
    for (JudgedRun &j : judged)
        all.push_back(listed(std::move(j)));
    // Newest first; runs of one second by their names' numbers, the later
    // first; runs whose start is unknown last.
    std::sort(all.begin(), all.end(), [](const Listed &x, const Listed &y) {
        if (x.start.has_value() != y.start.has_value())
            return x.start.has_value();
        if (x.start && x.start->key() != y.start->key())
            return x.start->key() > y.start->key();
        return runfiles::nameLess(y.run.name, x.run.name);
    });
    const bool asJson = a.flags.contains(QStringLiteral("--json"));
    const QByteArray out = asJson ? jsonOf(all, judging->window.name)
                                  : (all.empty() ? QByteArray() : tableOf(all, judging->window.name));
    if (!writeOut(QString(), out))
        return 2;
    return failed ? 2 : 0;
}

} // namespace cli
