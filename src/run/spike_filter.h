#pragma once

#include "link/frame_decoder.h"

// The monitor's spike filter and its rule for readings above the oven's range,
// as a small pure unit: the reference it judges by is the run's last accepted
// reading, which the caller keeps (it carries over from one run to the next).
struct SpikeFilter
{
    // A reading further than this from the reference is a spike.
    static constexpr double kBand = 10;
    // The filter acts once the run clock has passed this many seconds.
    static constexpr double kQuietSeconds = 2;
    // After this many readings in a row were replaced, the next is taken: a
    // jump that lasts is the oven's own, and the filter must never lock.
    static constexpr int kMaxReplacedInRow = 3;
    // Readings above the oven's range are a fault: told, never the reference.
    static constexpr double kMaxReading = frame::kMaxReading;

    struct Verdict
    {
        // The reading to show, store and draw.
        double value = 0;
        // Tell "Communication Error!": the first reading above the range of a
        // series of them.
        bool tellAboveLimit = false;
    };

    // Judges one reading at run clock `ticks` against `reference`, which it
    // moves on when the reading becomes the new reference.
    [[nodiscard]] Verdict take(double &reference, double reading, double ticks);
    // A new run: nothing replaced, nothing told.
    void restart() { *this = {}; }

    int replacedInRow = 0;
    bool aboveLimitTold = false;
};
