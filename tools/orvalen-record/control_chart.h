#pragma once

// Individuals charts over a series of runs: where a statistic settles, how
// much it moves from one run to the next, and the runs that signal a change.
// Pure arithmetic; every figure that cannot be computed is empty. Values
// within a billionth of their size of each other count as equal.

#include "record_stats.h"

#include <optional>
#include <vector>

namespace controlchart {

struct Figures
{
    int n = 0;
    std::optional<double> mean, sd, min, max; // sd: sample standard deviation (n - 1)
    std::optional<double> center, sigma, ucl, lcl; // sigma: mean moving range / 1.128
    std::optional<double> cpk, ppk; // only against limits, and only with a spread above 0
};

// values in run order. limits: the window's range for the statistic, if any.
[[nodiscard]] Figures figuresOf(const std::vector<double> &values,
                                const std::optional<recordstats::Range> &limits);

struct Flags
{
    bool beyondLimits = false; // above ucl or below lcl
    bool runOf8 = false; // the 8th or later value in a row on one side of the center
};

// One entry per value.
[[nodiscard]] std::vector<Flags> signalsOf(const std::vector<double> &values, const Figures &figures);

} // namespace controlchart
