#pragma once

#include "link/frame_decoder.h"
#include "spike_filter.h"
#include "state/shared_state.h"

#include <array>
#include <bitset>
#include <optional>

struct Context;

// The run's own bookkeeping: whether a Run is starting or monitored, its line,
// and how its monitor takes frames apart. Nothing outside the run reads it;
// what the commands beneath a run must know reaches them through the hooks of
// the Context, which the run sets.
struct RunBook
{
    // True while a monitor loop is on the stack.
    bool monitorActive = false;
    // Set by a Run chosen while a monitor exists: every wait between that Run
    // and the monitor gives up, and the monitor starts afresh.
    bool restartMonitor = false;
    // True while a Run is between its start and its monitor (in its Parameter
    // Load); a further Run then only sets rerunStart, every wait above the
    // first Run gives up, and that Run starts over as the new one.
    bool runStarting = false;
    bool rerunStart = false;

    [[nodiscard]] bool abandoning() const { return restartMonitor || rerunStart; }

    // The monitored run and its line.
    struct RunLine
    {
        // From the monitor's start-up until Stop Communicate.
        bool live = false;
        // The run's port failed; the monitor reopens it about once a second.
        bool outage = false;
        qint64 lastRetrySecond = -1;
        // The seconds of the run clock during which the line was down: no
        // reading could come, and the clean-up must not invent one.
        std::bitset<SharedState::kSampleCount> downSeconds;
    } runLine;

    // The curve as the last clean-up left it, and the clock it went by.
    struct CleanedCurve
    {
        std::array<LooseValue, SharedState::kSampleCount> samples;
        LooseValue runTicks;
    };
    std::optional<CleanedCurve> lastCleaned;

    // How the monitor takes frames apart and filters readings.
    struct FrameBook
    {
        frame::Decoder decoder;
        SpikeFilter filter;
    } frames;
};

// The run's book of this Context, made at its first need; making it sets the
// Context's hooks that tell the commands beneath a run what it asks of them.
[[nodiscard]] RunBook &runBook(Context &c);
// Whether a monitor loop is on the stack (without making the book).
[[nodiscard]] bool monitoring(const Context &c);
