#include "control_chart.h"

#include <algorithm>
#include <cmath>

namespace controlchart {

namespace {

// The constant d2 for moving ranges of two: the expected range of two
// normal values in units of their standard deviation.
constexpr double kD2 = 1.128;

// Infinite or NaN figures (values near the limits of a double) count as not
// computed, so that none ever reaches an output.
std::optional<double> finite(double v) { return std::isfinite(v) ? std::optional<double>(v) : std::nullopt; }

std::optional<double> capability(const Figures &f,
                                 const std::optional<recordstats::Range> &limits,
                                 const std::optional<double> &spread)
{
    if (!limits || !f.mean || !spread || !(*spread > 0))
        return std::nullopt;
    return finite(std::min(limits->high - *f.mean, *f.mean - limits->low) / (3 * *spread));
}

// Values this close count as equal: the last bits of a division (a slope of
// 2.5 read as 2.4999999999999996) are no change between runs.
double tolerance(double size) { return 1e-9 * std::max(1.0, std::fabs(size)); }

} // namespace

Figures figuresOf(const std::vector<double> &values, const std::optional<recordstats::Range> &limits)
{
    Figures f;
    f.n = int(values.size());
    if (values.empty())
        return f;
    double sum = 0;
    for (double v : values)
        sum += v;
    const auto [lo, hi] = std::minmax_element(values.begin(), values.end());
    f.min = *lo;
    f.max = *hi;
    // Equal values have no spread at all, and their own value as mean rather
    // than the last bits of a sum.
    const bool equal = *hi - *lo <= tolerance(std::max(std::fabs(*lo), std::fabs(*hi)));
    f.mean = equal ? *lo / 2 + *hi / 2 : finite(sum / double(values.size()));
    f.center = f.mean;
    if (values.size() >= 2 && f.mean) {
        double squares = 0, ranges = 0;
        for (std::size_t i = 0; i < values.size(); ++i) {
            squares += (values[i] - *f.mean) * (values[i] - *f.mean);
            if (i > 0)
                ranges += std::fabs(values[i] - values[i - 1]);
        }
        f.sd = equal ? 0.0 : finite(std::sqrt(squares / double(values.size() - 1)));
        f.sigma = equal ? 0.0 : finite(ranges / double(values.size() - 1) / kD2);
        if (f.sigma) {
            f.ucl = finite(*f.center + 3 * *f.sigma);
            f.lcl = finite(*f.center - 3 * *f.sigma);
        }
    }
    f.cpk = capability(f, limits, f.sigma);
    f.ppk = capability(f, limits, f.sd);
    return f;
}

std::vector<Flags> signalsOf(const std::vector<double> &values, const Figures &figures)
{
    std::vector<Flags> out(values.size());
    int side = 0, length = 0;
    const double tol = tolerance(figures.center.value_or(0));
    for (std::size_t i = 0; i < values.size(); ++i) {
        const double v = values[i];
        out[i].beyondLimits = (figures.ucl && v > *figures.ucl + tol)
                              || (figures.lcl && v < *figures.lcl - tol);
        if (!figures.center)
            continue;
        // A value on the center line belongs to neither side and ends a run.
        const int s = v > *figures.center + tol ? 1 : v < *figures.center - tol ? -1 : 0;
        length = s != 0 && s == side ? length + 1 : (s != 0 ? 1 : 0);
        side = s;
        out[i].runOf8 = length >= 8;
    }
    return out;
}

} // namespace controlchart
