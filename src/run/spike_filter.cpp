#include "spike_filter.h"

#include <cmath>

SpikeFilter::Verdict SpikeFilter::take(double &reference, double reading, double ticks)
{
    Verdict v{reading, false};
    if (ticks > kQuietSeconds && std::fabs(reference - reading) > kBand
        && replacedInRow < kMaxReplacedInRow) {
        v.value = reference;
        ++replacedInRow;
    } else {
        replacedInRow = 0;
    }
    if (v.value <= kMaxReading)
        reference = v.value;
    if (reading <= kMaxReading)
        aboveLimitTold = false; // a series above the range has ended
    if (v.value > kMaxReading && !aboveLimitTold) {
        aboveLimitTold = true; // told once a series
        v.tellAboveLimit = true;
    }
    return v;
}
