// orvalen-record trend: control charts and capability of the statistics the
// window judges, over runs in the order of their stamps.
#include "cli.h"
#include "control_chart.h"
#include "judged_runs.h"
#include "run_files.h"
#include "trend_chart.h"

#include <QBuffer>

#include <algorithm>
#include <cmath>

namespace cli {

namespace {

using recordstats::Stat;

// A statistic the window judges, or the process window index itself.
struct Measure
{
    QString name;
    std::optional<Stat> stat; // empty: pwi
    std::optional<recordstats::Range> limits;
    std::vector<std::optional<double>> perRun;
    std::vector<double> values; // the runs that have one, in run order
    controlchart::Figures figures;
};

struct Signal
{
    const char *kind;
    QString stat;
};

std::vector<Measure> measuresOf(const std::vector<JudgedRun> &runs, const recordstats::Window &w)
{
    std::vector<Measure> out;
    for (Stat s : recordstats::kStats)
        if (w.limit(s))
            out.push_back({QString::fromLatin1(recordstats::statName(s)), s, w.limit(s), {}, {}, {}});
    out.push_back({QStringLiteral("pwi"), std::nullopt, std::nullopt, {}, {}, {}});
    for (Measure &m : out) {
        m.perRun.reserve(runs.size());
        for (const JudgedRun &r : runs) {
            std::optional<double> v = m.stat ? r.stats.value(*m.stat) : r.judgement.pwi;
            if (v && !std::isfinite(*v))
                v.reset();
            m.perRun.push_back(v);
            if (v)
                m.values.push_back(*v);
        }
        m.figures = controlchart::figuresOf(m.values, m.limits);
    }
    return out;
}

std::vector<std::vector<Signal>> signalsOf(const std::vector<JudgedRun> &runs,
                                           const std::vector<Measure> &measures)
{
    std::vector<std::vector<Signal>> out(runs.size());
    for (const Measure &m : measures) {
        const std::vector<controlchart::Flags> flags = controlchart::signalsOf(m.values, m.figures);
        std::size_t k = 0;
        for (std::size_t i = 0; i < runs.size(); ++i) {
            if (!m.perRun[i])
                continue;
            if (flags[k].beyondLimits)
                out[i].push_back({"beyond_limits", m.name});
            if (flags[k].runOf8)
                out[i].push_back({"run_of_8", m.name});
            ++k;
        }
    }
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const recordstats::Judgement &j = runs[i].judgement;
        if (!j.inWindow)
            out[i].push_back({"out_of_window", j.worst ? QString::fromLatin1(recordstats::statName(*j.worst))
                                                       : QStringLiteral("pwi")});
    }
    return out;
}

QString dateOf(const JudgedRun &r)
{
    return r.stamp->date.toString(Qt::ISODate) + u' ' + r.stamp->time.toString(Qt::ISODate);
}

QByteArray tableOf(const std::vector<JudgedRun> &runs,
                   const std::vector<Measure> &measures,
                   const std::vector<std::vector<Signal>> &flagged,
                   const QString &windowName)
{
    QByteArray out = QStringLiteral("%1 runs%2, window %3\n")
                             .arg(runs.size())
                             .arg(runs.empty() ? QString()
                                               : QStringLiteral(" from %1 to %2")
                                                         .arg(dateOf(runs.front()), dateOf(runs.back())),
                                  windowName)
                             .toUtf8();
    QList<QStringList> rows{{QStringLiteral("statistic"), QStringLiteral("n"), QStringLiteral("mean"),
                             QStringLiteral("sd"), QStringLiteral("lcl"), QStringLiteral("center"),
                             QStringLiteral("ucl"), QStringLiteral("cpk"), QStringLiteral("ppk")}};
    for (const Measure &m : measures) {
        const controlchart::Figures &f = m.figures;
        rows << QStringList{m.name,         QString::number(f.n), cell(f.mean), cell(f.sd), cell(f.lcl),
                            cell(f.center), cell(f.ucl),          cell(f.cpk),  cell(f.ppk)};
    }
    out += alignedTable(rows, {1, 2, 3, 4, 5, 6, 7, 8});
    QList<QStringList> signalled{{QStringLiteral("file"), QStringLiteral("date"), QStringLiteral("signals")}};
    for (std::size_t i = 0; i < runs.size(); ++i) {
        if (flagged[i].empty())
            continue;
        QStringList words;
        for (const Signal &s : flagged[i])
            words << QStringLiteral("%1 %2").arg(QLatin1String(s.kind), s.stat);
        signalled << QStringList{runs[i].path, dateOf(runs[i]), words.join(QStringLiteral(", "))};
    }
    out += signalled.size() == 1 ? QByteArray("\nNo run has a signal.\n")
                                 : "\n" + alignedTable(signalled, {});
    return out;
}

QByteArray jsonOf(const std::vector<JudgedRun> &runs,
                  const std::vector<Measure> &measures,
                  const std::vector<std::vector<Signal>> &flagged,
                  const QString &windowName)
{
    QByteArray out = "{\"window\": " + jsonString(windowName) + ",\n \"runs\": [";
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const JudgedRun &r = runs[i];
        QByteArray list;
        for (const Signal &s : flagged[i])
            list += QByteArray(list.isEmpty() ? "" : ", ") + "{\"signal\": \"" + s.kind
                    + "\", \"stat\": " + jsonString(s.stat) + '}';
        out += QByteArray(i ? ",\n" : "\n") + "  {\"file\": " + jsonString(r.path)
               + ", \"stamp\": " + jsonString(r.stamp->text()) + ", \"pwi\": " + jsonNumber(r.judgement.pwi)
               + ", \"in_window\": " + (r.judgement.inWindow ? "true" : "false") + ", \"signals\": [" + list
               + "]}";
    }
    out += runs.empty() ? "],\n \"stats\": {" : "\n ],\n \"stats\": {";
    for (std::size_t i = 0; i < measures.size(); ++i) {
        const controlchart::Figures &f = measures[i].figures;
        out += QByteArray(i ? ",\n" : "\n") + "  " + jsonString(measures[i].name)
               + ": {\"n\": " + QByteArray::number(f.n) + ", \"mean\": " + jsonNumber(f.mean) + ", \"sd\": "
               + jsonNumber(f.sd) + ", \"min\": " + jsonNumber(f.min) + ", \"max\": " + jsonNumber(f.max)
               + ", \"center\": " + jsonNumber(f.center) + ", \"sigma\": " + jsonNumber(f.sigma)
               + ", \"ucl\": " + jsonNumber(f.ucl) + ", \"lcl\": " + jsonNumber(f.lcl)
               + ", \"cpk\": " + jsonNumber(f.cpk) + ", \"ppk\": " + jsonNumber(f.ppk) + '}';
    }
    return out + "\n }\n}\n";
}

bool writeChart(const QString &path,
                const std::vector<JudgedRun> &runs,
                const std::vector<Measure> &measures,
                const std::vector<std::vector<Signal>> &flagged,
                const QString &windowName,
                double scale)
{
    std::vector<trendchart::Panel> panels;
    for (const Measure &m : measures) {
        trendchart::Panel p{m.name, m.perRun, {}, m.figures, m.limits, {}};
        if (!m.stat)
            p.upperOnly = 100; // in the window below it
        for (const std::vector<Signal> &s : flagged)
            p.signalled.push_back(
                    std::any_of(s.begin(), s.end(), [&](const Signal &x) { return x.stat == m.name; }));
        panels.push_back(std::move(p));
    }
    QStringList dates;
    for (const JudgedRun &r : runs)
        dates << r.stamp->date.toString(Qt::ISODate);
    const QImage image = trendchart::draw(
            QStringLiteral("%1 runs, window %2").arg(runs.size()).arg(windowName), dates, panels, scale);
    QByteArray png;
    QBuffer buffer(&png);
    if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG")) {
        say(QStringLiteral("orvalen-record: the chart cannot be drawn (%1 by %2 pixels).")
                    .arg(image.width())
                    .arg(image.height()));
        return false;
    }
    return writeOut(path, png);
}

} // namespace

int trend(const QStringList &args)
{
    const Args a(args,
                 {QStringLiteral("--window"), QStringLiteral("--slope-window"), QStringLiteral("--last"),
                  QStringLiteral("--chart"), QStringLiteral("--scale")},
                 {QStringLiteral("--json")});
    if (!a.problem.isEmpty())
        return usage(a.problem);
    int status = 0;
    const std::optional<Judging> judging = judgingOf(a, status);
    if (!judging)
        return status;
    bool ok = true;
    const qlonglong last = a.values.value(QStringLiteral("--last"), QStringLiteral("0")).toLongLong(&ok);
    if (!ok || last < 0 || (a.values.contains(QStringLiteral("--last")) && last == 0))
        return usage(QStringLiteral("--last takes a whole number of runs, 1 or more"));
    const double scale = a.values.value(QStringLiteral("--scale"), QStringLiteral("1")).toDouble(&ok);
    // The chart is taller than the one-run chart: at 8 it is already 256 MB.
    if (!ok || !(scale >= 0.25 && scale <= 8))
        return usage(QStringLiteral("--scale takes a number from 0.25 to 8"));
    const QString chartPath = a.values.value(QStringLiteral("--chart"));
    if (a.values.contains(QStringLiteral("--chart")) && chartPath.isEmpty())
        return usage(QStringLiteral("--chart needs a file name"));

    QStringList inputs = a.files;
    if (inputs.isEmpty()) {
        const std::optional<QString> folder = runsFolder();
        if (!folder)
            return 2;
        inputs << *folder;
    }
    QStringList unreadable;
    const QStringList files = runfiles::recordFiles(inputs, unreadable);
    if (!chartPath.isEmpty() && overwritesInput(chartPath, files))
        return 2;
    bool failed = !unreadable.isEmpty();
    for (const QString &u : unreadable)
        say(QStringLiteral("orvalen-record: the folder %1 cannot be read.").arg(u));

    std::vector<JudgedRun> runs = judgeRuns(files, *judging, failed);
    const auto undated = std::stable_partition(runs.begin(), runs.end(),
                                               [](const JudgedRun &r) { return r.stamp.has_value(); });
    for (auto r = undated; r != runs.end(); ++r)
        say(QStringLiteral("orvalen-record: %1 is left out: its stamp (lines 1 to 6) is not a date and time.")
                    .arg(r->path));
    failed = failed || undated != runs.end();
    runs.erase(undated, runs.end());
    std::sort(runs.begin(), runs.end(), [](const JudgedRun &x, const JudgedRun &y) {
        if (x.stamp->key() != y.stamp->key())
            return x.stamp->key() < y.stamp->key();
        if (x.name != y.name)
            return runfiles::nameLess(x.name, y.name);
        return x.path < y.path;
    });
    if (last > 0 && qlonglong(runs.size()) > last)
        runs.erase(runs.begin(), runs.end() - std::ptrdiff_t(last));
    if (runs.empty())
        say(QStringLiteral("orvalen-record: no run to follow in %1.").arg(inputs.join(QStringLiteral(", "))));

    const std::vector<Measure> measures = measuresOf(runs, judging->window);
    const std::vector<std::vector<Signal>> flagged = signalsOf(runs, measures);
    const QString windowName = judging->window.name;
    const QByteArray out = a.flags.contains(QStringLiteral("--json"))
                                   ? jsonOf(runs, measures, flagged, windowName)
                                   : tableOf(runs, measures, flagged, windowName);
    if (!writeOut(QString(), out))
        return 2;
    if (!chartPath.isEmpty() && !writeChart(chartPath, runs, measures, flagged, windowName, scale))
        return 2;
    if (failed)
        return 2;
    return std::any_of(flagged.begin(), flagged.end(), [](const auto &s) { return !s.empty(); }) ? 1 : 0;
}

} // namespace cli
