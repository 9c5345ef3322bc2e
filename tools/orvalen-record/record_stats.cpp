#include "record_stats.h"

#include "state/loose_value.h"

#include <cmath>

namespace recordstats {

namespace {

Window makeWindow(const char *name,
                  double liquidus,
                  Range soak,
                  Range soakTime,
                  Range tal,
                  Range peak,
                  Range rise,
                  Range fall)
{
    Window w;
    w.name = QString::fromLatin1(name);
    w.liquidus = liquidus;
    w.soakRange = soak;
    w.limits[std::size_t(Stat::PeakC)] = peak;
    w.limits[std::size_t(Stat::TalS)] = tal;
    w.limits[std::size_t(Stat::SoakS)] = soakTime;
    w.limits[std::size_t(Stat::MaxRise)] = rise;
    w.limits[std::size_t(Stat::MaxFall)] = fall;
    return w;
}

std::optional<Stat> statNamed(QStringView key)
{
    for (Stat s : kStats)
        if (key == QLatin1StringView(statName(s)))
            return s;
    return std::nullopt;
}

} // namespace

const char *statName(Stat stat)
{
    switch (stat) {
    case Stat::PeakC: return "peak_c";
    case Stat::TalS: return "tal_s";
    case Stat::SoakS: return "soak_s";
    case Stat::MaxRise: return "max_rise_c_per_s";
    case Stat::MaxFall: return "max_fall_c_per_s";
    }
    return "";
}

QStringList builtinWindowNames() { return {QStringLiteral("sac305"), QStringLiteral("sn63pb37")}; }

std::optional<Window> builtinWindow(const QString &name)
{
    if (name == u"sac305")
        return makeWindow("sac305", 217, {150, 200}, {60, 120}, {45, 90}, {235, 250}, {1, 3}, {1, 4});
    if (name == u"sn63pb37")
        return makeWindow("sn63pb37", 183, {100, 150}, {60, 120}, {60, 90}, {205, 225}, {1, 3}, {1, 4});
    return std::nullopt;
}

std::optional<Window> parseWindow(QStringView text, const QString &name, WindowError &error)
{
    Window w;
    w.name = name;
    std::array<int, kStats.size()> limitLine{};
    QStringList seen;
    const QList<QStringView> lines = text.split(u'\n');
    auto fail = [&](int line, const QString &reason) {
        error = WindowError{line, reason};
        return std::nullopt;
    };
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const int lineNumber = int(i) + 1;
        QStringView line = lines[i];
        if (const qsizetype hash = line.indexOf(u'#'); hash >= 0)
            line = line.left(hash);
        line = line.trimmed();
        if (line.isEmpty())
            continue;
        const qsizetype eq = line.indexOf(u'=');
        if (eq < 0)
            return fail(lineNumber, QStringLiteral("expected \"key = value\""));
        const QString key = line.left(eq).trimmed().toString();
        std::vector<double> numbers;
        for (QStringView word : line.mid(eq + 1).split(u' ', Qt::SkipEmptyParts)) {
            for (QStringView part : word.split(u'\t', Qt::SkipEmptyParts)) {
                const std::optional<double> n = strictNumber(part);
                if (!n)
                    return fail(lineNumber, QStringLiteral("\"%1\" is no number").arg(part));
                numbers.push_back(*n);
            }
        }
        if (seen.contains(key))
            return fail(lineNumber, QStringLiteral("%1 is given twice").arg(key));
        seen << key;
        const std::optional<Stat> stat = statNamed(key);
        const std::size_t want = key == u"liquidus" ? 1 : 2;
        if (!stat && key != u"liquidus" && key != u"soak_range")
            return fail(lineNumber,
                        QStringLiteral("unknown key \"%1\"; the keys are liquidus, soak_range, "
                                       "peak_c, tal_s, soak_s, max_rise_c_per_s, max_fall_c_per_s")
                                .arg(key));
        if (numbers.size() != want)
            return fail(lineNumber, want == 1
                                            ? QStringLiteral("%1 takes one number").arg(key)
                                            : QStringLiteral("%1 takes two numbers, low and high").arg(key));
        if (key == u"liquidus") {
            w.liquidus = numbers[0];
            continue;
        }
        const Range range{numbers[0], numbers[1]};
        if (key == u"soak_range") {
            if (range.low > range.high)
                return fail(lineNumber, QStringLiteral("soak_range: the low end is above the high end"));
            w.soakRange = range;
            continue;
        }
        if (!(range.low < range.high))
            return fail(lineNumber,
                        QStringLiteral("%1: the low limit must be below the high limit").arg(key));
        w.limits[std::size_t(*stat)] = range;
        limitLine[std::size_t(*stat)] = lineNumber;
    }
    if (w.limit(Stat::TalS) && !w.liquidus)
        return fail(limitLine[std::size_t(Stat::TalS)],
                    QStringLiteral("tal_s is limited but no liquidus is given"));
    if (w.limit(Stat::SoakS) && !w.soakRange)
        return fail(limitLine[std::size_t(Stat::SoakS)],
                    QStringLiteral("soak_s is limited but no soak_range is given"));
    bool any = false;
    for (const auto &l : w.limits)
        any = any || l.has_value();
    if (!any)
        return fail(int(lines.size()), QStringLiteral("the window limits no statistic"));
    return w;
}

Samples sampleValues(const QStringList &lines)
{
    Samples out;
    out.reserve(std::size_t(lines.size()));
    for (const QString &line : lines)
        out.push_back(strictNumber(line));
    return out;
}

std::optional<double> Stats::value(Stat s) const
{
    switch (s) {
    case Stat::PeakC: return peakC;
    case Stat::TalS: return talS;
    case Stat::SoakS: return soakS;
    case Stat::MaxRise: return maxRise;
    case Stat::MaxFall: return maxFall;
    }
    return std::nullopt;
}

Stats computeStats(const Samples &samples, const Window &window, int slopeSeconds)
{
    Stats st;
    double above = 0;
    for (std::size_t t = 0; t < samples.size(); ++t) {
        const std::optional<double> &v = samples[t];
        if (!v)
            continue;
        if (!st.peakC || *v > *st.peakC) {
            st.peakC = *v;
            st.peakS = double(t);
        }
        if (window.liquidus && *v >= *window.liquidus)
            above += 1;
    }
    if (!st.peakC)
        return st; // no value at all: nothing to say
    if (window.liquidus)
        st.talS = above;
    if (window.soakRange) {
        double soak = 0;
        for (std::size_t t = 0; t <= std::size_t(*st.peakS); ++t) {
            const std::optional<double> &v = samples[t];
            if (v && *v >= window.soakRange->low && *v <= window.soakRange->high)
                soak += 1;
        }
        st.soakS = soak;
    }
    const std::size_t span = std::size_t(std::max(1, slopeSeconds));
    for (std::size_t t = span; t < samples.size(); ++t) {
        if (!samples[t] || !samples[t - span])
            continue;
        const double slope = (*samples[t] - *samples[t - span]) / double(span);
        if (!std::isfinite(slope))
            continue;
        if (slope > 0 && (!st.maxRise || slope > *st.maxRise))
            st.maxRise = slope;
        if (slope < 0 && (!st.maxFall || -slope > *st.maxFall))
            st.maxFall = -slope;
    }
    return st;
}

double processWindowIndex(double value, const Range &range)
{
    const double mid = (range.low + range.high) / 2;
    const double half = (range.high - range.low) / 2;
    return 100 * std::fabs(value - mid) / half;
}

Judgement judge(const Stats &stats, const Window &window)
{
    Judgement j;
    bool missing = false;
    double largest = 0;
    for (Stat s : kStats) {
        const std::optional<Range> &range = window.limit(s);
        if (!range)
            continue;
        const std::optional<double> value = stats.value(s);
        if (!value) {
            if (!missing)
                j.worst = s;
            missing = true;
            continue;
        }
        const double pwi = processWindowIndex(*value, *range);
        j.pwiByStat[std::size_t(s)] = pwi;
        if (!missing && (!j.worst || pwi > largest)) {
            largest = pwi;
            j.worst = s;
        }
    }
    if (!missing && j.worst) {
        j.pwi = largest;
        j.inWindow = largest < 100;
    }
    return j;
}

} // namespace recordstats
