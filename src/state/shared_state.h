#pragma once

#include "loose_value.h"

#include <QByteArray>

#include <array>
#include <cstdint>

// The one record of state that every command works on. Members, kinds and
// initial values are those the operators' commands agree on; nothing resets
// the record as a whole after it is created.
struct SharedState
{
    static constexpr int kSampleCount = 511; // indices 0..510
    static constexpr int kStageCount = 5; // indices 0..4, 1..3 used

    LooseValue runFlag; // 0 or 1; set to 0 by start-up
    LooseValue loopIndex; // the counter several commands share
    std::int16_t frameByte = 0;
    std::array<std::uint8_t, 1> txBuffer{0};
    QByteArray rxBuffer;
    double prevTemp = 0;
    std::int16_t lastDrawnTemp = 0;
    double curTemp = 0;
    LooseValue runTicks; // the run clock, 0..501
    std::array<LooseValue, 6> recordStamp;
    std::array<LooseValue, kSampleCount> samples;
    LooseValue fileSampleCount;
    std::array<LooseValue, kStageCount> stageTemp;
    std::array<LooseValue, kStageCount> stageTime;
    std::array<LooseValue, 6> runStamp;
    std::int16_t timer3Fired = 0;

    [[nodiscard]] static bool isSampleIndex(double k) { return k >= 0 && k <= kSampleCount - 1; }
};
