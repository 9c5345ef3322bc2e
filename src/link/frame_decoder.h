#pragma once

#include <array>
#include <cstdint>
#include <optional>

// Takes the controller's bytes apart into readings. Plain C++ without Qt or
// services, so that it can be tested and fuzzed on byte strings alone.
//
// Nothing in the bytes marks where a frame begins: frames are counted from the
// first byte, and the third byte of each checks the first two. A lost, extra
// or corrupted byte makes the counted frames fail their check; the decoder
// then looks for the place where the frames line up again. Bytes read one or
// two places off can check as well (a steady 25 ℃, 00 19 19, read one place
// off is 19 00 19, 6400 ℃), so where two places check, the one whose reading
// continues the readings before wins. A frame that jumps away from the
// readings while its own bytes, read as across an extra byte, would continue
// them, or that jumps above kMaxReading, is not taken either: it is treated as
// a frame out of step.
namespace frame {

// The hottest reading the oven gives; one above it is a fault.
inline constexpr int kMaxReading = 400;
// A reading within this many ℃ of the last one continues it: the oven moves
// about 3 ℃ a second, and the spike filter allows the same 10.
inline constexpr int kContinueBand = 10;
// Out of step, a frame that does not continue the readings is taken once this
// many frames in a row checked at its place; one above kMaxReading needs one
// more, as the bytes of a steady reading below 256 ℃ check one place off.
inline constexpr int kConfirmFrames = 2;
// Out of step, the frames that end within this many bytes are weighed before
// one is chosen: an extra byte puts the next whole frame one byte later, a lost
// one two, a corrupted one three; the one nearest the readings' course wins.
inline constexpr int kSearchBytes = 3;

class Decoder
{
public:
    struct Step
    {
        // The reading of a frame that was taken.
        std::optional<int> reading;
        // The reading is above kMaxReading.
        bool aboveLimit = false;
        // The frame at the counted place failed its check.
        bool checkFailed = false;
        // Frames are taken at a new place (or again at the old one) from here on.
        bool realigned = false;
    };

    // One byte of the feed.
    [[nodiscard]] Step feed(std::uint8_t byte);
    // A new run: the next byte is the first of a frame and no earlier reading
    // counts.
    void reset();
    // The line was opened again: the next byte is taken as the first of a
    // frame, and the readings before still judge the ones that follow.
    void restart();
    // Bytes of the current frame received so far, 0 to 2.
    [[nodiscard]] int position() const;

private:
    [[nodiscard]] bool continues(int reading) const;
    [[nodiscard]] int distance(int reading) const;
    [[nodiscard]] bool outOfStep(int reading) const;
    void startSearch(bool lockChecked);
    void take(Step &step, int reading, int phase);
    Step search(bool checks, int reading);

    std::array<std::uint8_t, 3> m_bytes{}; // the newest three, newest last
    int m_have = 0; // how many of m_bytes are real
    int m_phase = 0; // the place of the newest byte, 0 to 2
    int m_lock = 0; // the place at which frames end, or -1 while searching
    std::optional<int> m_last; // the last reading taken
    std::optional<int> m_beforeLast; // the one before it, for the readings' course
    bool m_foundBySearch = false; // the place was found by searching, not counted
    int m_takenSinceSearch = 0; // readings taken there
    // Frames in a row that checked at each place.
    std::array<int, 3> m_streak{};
    // While searching: bytes since it began, and the best frame of the first
    // kSearchBytes.
    int m_searched = 0;
    struct Candidate
    {
        int reading = 0;
        int phase = 0;
        int distance = 0;
    };
    std::optional<Candidate> m_best;
};

} // namespace frame
