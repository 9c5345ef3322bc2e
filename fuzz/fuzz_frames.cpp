// Any bytes into the frame decoder and its readings through the spike filter,
// then a clean ramp of frames. Every reading that comes out must be a frame
// that checks among the newest bytes, the ramp's readings must all come out
// from its third frame on, and the filter must never lock nor take a reading
// above the oven's range as its reference.
#include "link/frame.h"
#include "link/frame_decoder.h"
#include "run/spike_filter.h"

#include <array>
#include <cstdint>
#include <cstdlib>

namespace {

struct Feed
{
    frame::Decoder decoder;
    SpikeFilter filter;
    double reference = 0;
    double ticks = 0;
    std::array<std::uint8_t, 5> newest{}; // newest last
    int seen = 0;
    // The readings of the clean frames at the end, once they begin.
    bool clean = false;
    std::array<int, 64> readings{};
    std::size_t count = 0;

    // A reading is taken at most two bytes after its frame ended.
    [[nodiscard]] bool endsRecently(int reading) const
    {
        const auto hi = std::uint8_t(reading >> 8), lo = std::uint8_t(reading & 0xff);
        for (int end = 4; end >= 2 && end - 2 >= 5 - seen; --end)
            if (newest[std::size_t(end - 2)] == hi && newest[std::size_t(end - 1)] == lo
                && newest[std::size_t(end)] == frame::check(hi, lo))
                return true;
        return false;
    }

    void byte(std::uint8_t b)
    {
        newest = {newest[1], newest[2], newest[3], newest[4], b};
        ++seen;
        const frame::Decoder::Step step = decoder.feed(b);
        if (decoder.position() < 0 || decoder.position() > 2)
            std::abort();
        if (!step.reading)
            return;
        if (!endsRecently(*step.reading) || step.aboveLimit != (*step.reading > frame::kMaxReading))
            std::abort();
        if (clean && count < readings.size())
            readings[count++] = *step.reading;
        const int replaced = filter.replacedInRow;
        const SpikeFilter::Verdict v = filter.take(reference, *step.reading, ticks);
        if (replaced == SpikeFilter::kMaxReplacedInRow && v.value != *step.reading)
            std::abort(); // the filter locked
        if (reference > SpikeFilter::kMaxReading)
            std::abort();
        ticks += 0.5;
    }
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    Feed feed;
    for (std::size_t i = 0; i < size; ++i)
        feed.byte(data[i]);
    // A clean ramp of 3 ℃ a frame, up or down, below 255 ℃. Around 256 ℃ the
    // bytes read one place off can make a second ramp that checks (256, 259
    // as 01 00 01 01 03 04 holds 00 01 01, 1 ℃); after junk that left
    // readings near it, no byte tells which one is the oven's.
    const int first = size > 0 ? 30 + data[0] % 200 : 100;
    const int step = size > 1 && data[1] % 2 ? -3 : 3;
    constexpr int kFrames = 8, kSettle = 2;
    feed.clean = true;
    for (int k = 0; k < kFrames; ++k)
        for (std::uint8_t b : frame::encode(first + step * k))
            feed.byte(b);
    // The ramp's last frames, in order, end what came out.
    if (feed.count < std::size_t(kFrames - kSettle))
        std::abort();
    for (int k = kSettle; k < kFrames; ++k)
        if (feed.readings[feed.count - std::size_t(kFrames - k)] != first + step * k)
            std::abort();
    return 0;
}
