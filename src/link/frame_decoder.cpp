#include "frame_decoder.h"

#include "frame.h"

#include <algorithm>
#include <cstdlib>

namespace frame {

namespace {

int readingOf(int high, int low) { return 256 * high + low; }

} // namespace

void Decoder::reset()
{
    restart();
    m_last.reset();
    m_beforeLast.reset();
}

void Decoder::restart()
{
    m_have = 0;
    m_phase = 0;
    m_lock = 0;
    m_takenSinceSearch = 0;
    m_foundBySearch = false;
    m_searched = 0;
    m_streak = {};
    m_best.reset();
}

int Decoder::position() const
{
    const int from = m_lock < 0 ? 0 : m_lock;
    return (m_phase - from + 3) % 3;
}

bool Decoder::continues(int reading) const { return m_last && std::abs(reading - *m_last) <= kContinueBand; }

// How far a reading lies from where the readings' course leads: one or two
// frames on from the last reading, at the last step where that step is one the
// oven can make (the frame out of step may have cost one).
int Decoder::distance(int reading) const
{
    int step = 0;
    if (m_beforeLast && std::abs(*m_last - *m_beforeLast) <= kContinueBand)
        step = *m_last - *m_beforeLast;
    return std::min(std::abs(reading - (*m_last + step)), std::abs(reading - (*m_last + 2 * step)));
}

// A frame that checks at the counted place but jumps away from the readings is
// taken as out of step when it lies above kMaxReading, or when its bytes read
// as across an extra byte (before its first byte, or between its first and
// second) would continue them. The oven's own jumps otherwise pass, for the
// spike filter to judge.
bool Decoder::outOfStep(int reading) const
{
    if (!m_last || continues(reading))
        return false;
    return reading > kMaxReading || continues(readingOf(m_bytes[1], m_bytes[2]))
           || continues(readingOf(m_bytes[0], m_bytes[2]));
}

void Decoder::startSearch(bool lockChecked)
{
    // A place found by searching that fails within a few frames was a chance
    // match, most likely with readings left by junk: they no longer judge what
    // follows.
    if (m_foundBySearch && m_takenSinceSearch <= kConfirmFrames) {
        m_last.reset();
        m_beforeLast.reset();
    }
    m_takenSinceSearch = 0;
    m_foundBySearch = false;
    // Judged by readings, a place must check again from here on; without
    // them, the frames that checked before count.
    if (m_last) {
        m_streak = {};
        m_streak[std::size_t(m_phase)] = lockChecked ? 1 : 0;
    }
    m_lock = -1;
    m_searched = 0;
    m_best.reset();
}

void Decoder::take(Step &step, int reading, int phase)
{
    step.reading = reading;
    step.aboveLimit = reading > kMaxReading;
    m_beforeLast = m_last;
    m_last = reading;
    m_lock = phase;
    ++m_takenSinceSearch;
}

Decoder::Step Decoder::feed(std::uint8_t byte)
{
    m_bytes = {m_bytes[1], m_bytes[2], byte};
    if (m_have < 3)
        ++m_have;
    m_phase = (m_phase + 1) % 3;
    if (m_have < 3)
        return {};
    const bool checks = check(m_bytes[0], m_bytes[1]) == m_bytes[2];
    const int reading = readingOf(m_bytes[0], m_bytes[1]);
    int &streak = m_streak[std::size_t(m_phase)];
    streak = checks ? streak + 1 : 0;
    if (m_lock < 0)
        return search(checks, reading);
    Step step;
    if (m_phase != m_lock)
        return step;
    if (!checks) {
        step.checkFailed = true;
        startSearch(false);
    } else if (outOfStep(reading)) {
        startSearch(true);
    } else {
        take(step, reading, m_phase);
    }
    return step;
}

Decoder::Step Decoder::search(bool checks, int reading)
{
    Step step;
    ++m_searched;
    const int streak = m_streak[std::size_t(m_phase)];
    if (checks && continues(reading)) {
        const int away = distance(reading);
        if (!m_best || away < m_best->distance)
            m_best = Candidate{reading, m_phase, away};
    }
    // A frame right on the readings' course is taken at once; otherwise the
    // nearest of the first frames, once all three places have ended one.
    if (m_best && (m_best->distance == 0 || m_searched >= kSearchBytes)) {
        step.realigned = true;
        m_foundBySearch = true;
        take(step, m_best->reading, m_best->phase);
        m_best.reset();
        return step;
    }
    if (!checks)
        return step;
    const int needed = reading > kMaxReading ? kConfirmFrames + 1 : kConfirmFrames;
    // With no reading before, one that may be the oven's is taken at once.
    if (streak >= needed || (!m_last && reading <= kMaxReading)) {
        step.realigned = true;
        m_foundBySearch = true;
        take(step, reading, m_phase);
    }
    return step;
}

} // namespace frame
