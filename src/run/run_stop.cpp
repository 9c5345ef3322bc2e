#include "run_stop.h"

#include "link/port.h"
#include "link/protocol.h"
#include "link/serial_line.h"
#include "records/run_journal.h"
#include "run_book.h"
#include "run_start.h"
#include "spike_filter.h"
#include "state/context.h"

#include <array>
#include <bitset>
#include <cmath>

namespace {

// Longer silences than this on a live line are left empty: filling them would
// put readings in the record that never arrived.
constexpr int kMaxFilledGap = 2;

// Flattens isolated jumps: entry i takes entry i-1's value when they differ by
// more than 10. Entries that spell no number are left alone. Like the spike
// filter, it never locks: after three readings in a row were held, the next
// one stays and the curve follows it (a jump that lasts is the oven's own, as
// after a cable was put back). Seconds without a reading do not count, and
// never take a reading's place; only a silence of one or two seconds on a live
// line is filled, never a second in which the line was down. It is not
// idempotent (a second pass would hold a lasting jump three more seconds), so
// the curve it left last, as a second Stop Communicate or a Stop after one
// finds it, is kept as it is.
void cleanRecordedCurve(SharedState &s,
                        const std::bitset<SharedState::kSampleCount> &downSeconds,
                        std::optional<RunBook::CleanedCurve> &last)
{
    const bool cleanedBefore = last && last->samples == s.samples && last->runTicks == s.runTicks;
    const double ticks = s.runTicks.leadingNumber();
    // The length of the silence each empty entry belongs to, before cleaning.
    std::array<int, SharedState::kSampleCount> silence{};
    for (std::size_t k = 0; k < silence.size();) {
        std::size_t end = k;
        while (end < silence.size() && double(end) <= ticks && s.samples[end].isEmpty())
            ++end;
        for (std::size_t m = k; m < end; ++m)
            silence[m] = int(end - k);
        k = end + 1;
    }
    int heldInRow = 0;
    double i = 4;
    for (; i <= ticks - 1; i += 1) {
        s.loopIndex = i;
        if (!SharedState::isSampleIndex(i))
            continue;
        const auto k = std::size_t(i);
        const bool reading = !s.samples[k].isEmpty();
        if (!reading && (downSeconds.test(k) || silence[k] > kMaxFilledGap))
            continue;
        const std::optional<double> before = s.samples[k - 1].strictValue();
        const std::optional<double> current = s.samples[k].strictValue();
        if (!before || !current)
            continue;
        // A reading is never replaced by a second without one.
        const bool jump = std::fabs(*before - *current) > SpikeFilter::kBand
                          && !(reading && s.samples[k - 1].isEmpty());
        if (jump && (!reading || heldInRow < SpikeFilter::kMaxReplacedInRow)) {
            if (!cleanedBefore)
                s.samples[k] = s.samples[k - 1];
            if (reading)
                ++heldInRow;
        } else if (reading) {
            heldInRow = 0;
        }
    }
    s.loopIndex = i;
    last = RunBook::CleanedCurve{s.samples, s.runTicks};
}

// Stop could not tell the oven everything: the operator must stop it by hand.
// A notice, so that it holds nothing off.
void tellNotStopped(Context &c, int sent, const QString &why)
{
    c.services.messages.notify(
            MessageService::Topic::Stop,
            QStringLiteral("The oven may NOT have been told to stop: %1 of the 11 stop bytes "
                           "went out (%2).\n\nStop the oven by hand. The run has ended on this "
                           "computer; what was recorded is kept.")
                    .arg(sent)
                    .arg(why),
            MessageService::Kind::Error);
}

} // namespace

void stop_Click(Context &c)
{
    constexpr int kStopBytes = 11;
    const Status portOpen = tryPortOpen(c);
    if (!portOpen) {
        // Nothing can go out; the run ends on the host's side all the same.
        stopcomm_Click(c);
        tellNotStopped(c, 0,
                       QStringLiteral("the serial port %1 cannot be opened: %2")
                               .arg(c.services.line.portName(), portOpen.error()));
        return;
    }
    const unsigned long long opened = c.lineOpens;
    int sent = 0;
    c.services.Timer3.setEnabled(true);
    for (int count = 0; count <= kStopBytes - 1; ++count) {
        // Only bytes written to the port opened above count: one that went out
        // after the port was closed and opened again under Stop's waits did not
        // follow the others.
        if (sendByte(c, cmdStop) && c.lineOpens == opened)
            ++sent;
        while (c.state.timer3Fired == 0) {
            pumpEvents(c);
            if (c.abandoning()) {
                c.services.Timer3.setEnabled(false);
                return;
            }
        }
        c.state.timer3Fired = 0;
    }
    stopcomm_Click(c);
    c.services.Timer3.setEnabled(false);
    if (sent == kStopBytes)
        c.services.messages.show(QStringLiteral("Vone Stoped"));
    else
        tellNotStopped(c, sent, QStringLiteral("the port failed or was closed during Stop"));
}

void stopcomm_Click(Context &c)
{
    c.services.Timer1.setEnabled(false);
    closePort(c);
    RunBook::RunLine &runLine = runBook(c).runLine;
    runLine.live = false;
    runLine.outage = false;
    stampNow(c);
    c.state.runFlag = 0;
    cleanRecordedCurve(c.state, runLine.downSeconds, runBook(c).lastCleaned);
    journalRunEnded(c);
}

void Timer3_Timer(Context &c) { c.state.timer3Fired = 1; }
