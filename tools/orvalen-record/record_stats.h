#pragma once

// The statistics of a recorded run and its judgement against a solder paste's
// process window: pure arithmetic on the samples, with no file or output.

#include <QString>
#include <QStringList>
#include <QStringView>

#include <array>
#include <optional>
#include <vector>

namespace recordstats {

// The statistics a window can limit, in the order they are reported.
enum class Stat { PeakC, TalS, SoakS, MaxRise, MaxFall };
inline constexpr std::array kStats{Stat::PeakC, Stat::TalS, Stat::SoakS, Stat::MaxRise, Stat::MaxFall};
[[nodiscard]] const char *statName(Stat stat);

struct Range
{
    double low = 0;
    double high = 0;
};

struct Window
{
    QString name; // the built-in name, or the path as given
    std::optional<double> liquidus;
    std::optional<Range> soakRange;
    std::array<std::optional<Range>, kStats.size()> limits; // by Stat
    [[nodiscard]] const std::optional<Range> &limit(Stat s) const { return limits[std::size_t(s)]; }
};

struct WindowError
{
    int line = 0; // 0 when no line is to blame
    QString reason;
};

[[nodiscard]] QStringList builtinWindowNames();
[[nodiscard]] std::optional<Window> builtinWindow(const QString &name);
// A window file's text: one "key = value" a line, blank lines and # comments.
// Returns the window, or sets error.
[[nodiscard]] std::optional<Window> parseWindow(QStringView text, const QString &name, WindowError &error);

// One value per second; a second without a value is empty.
using Samples = std::vector<std::optional<double>>;
// The strict numeric value of each line, blanks around the number allowed.
[[nodiscard]] Samples sampleValues(const QStringList &lines);

struct Stats
{
    std::optional<double> peakC;
    std::optional<double> peakS;
    std::optional<double> talS;
    std::optional<double> soakS;
    std::optional<double> maxRise;
    std::optional<double> maxFall;
    [[nodiscard]] std::optional<double> value(Stat s) const;
};

// slopeSeconds >= 1.
[[nodiscard]] Stats computeStats(const Samples &samples, const Window &window, int slopeSeconds);

// 100 x |value - mid| / half-width of the range.
[[nodiscard]] double processWindowIndex(double value, const Range &range);

struct Judgement
{
    std::array<std::optional<double>, kStats.size()> pwiByStat; // limited statistics only
    std::optional<double> pwi; // the largest; empty when a limited statistic has no value
    bool inWindow = false;
    std::optional<Stat> worst; // the first without a value, else the largest index
};
[[nodiscard]] Judgement judge(const Stats &stats, const Window &window);

} // namespace recordstats
