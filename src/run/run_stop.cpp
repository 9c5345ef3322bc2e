#include "run_stop.h"

#include "link/port.h"
#include "link/protocol.h"
#include "run_start.h"
#include "state/context.h"

#include <cmath>

namespace {

// Flattens isolated jumps: entry i takes entry i-1's value when they differ by
// more than 10. Entries that spell no number are left alone.
void cleanRecordedCurve(SharedState &s)
{
    const double ticks = s.runTicks.leadingNumber();
    double i = 4;
    for (; i <= ticks - 1; i += 1) {
        s.loopIndex = i;
        if (!SharedState::isSampleIndex(i))
            continue;
        const auto k = std::size_t(i);
        const std::optional<double> before = s.samples[k - 1].strictValue();
        const std::optional<double> current = s.samples[k].strictValue();
        if (before && current && std::fabs(*before - *current) > 10)
            s.samples[k] = s.samples[k - 1];
    }
    s.loopIndex = i;
}

} // namespace

void stop_Click(Context &c)
{
    if (!ensurePortOpen(c))
        return;
    c.services.Timer3.setEnabled(true);
    for (int count = 0; count <= 10; ++count) {
        sendByte(c, cmdStop);
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
    c.services.messages.show(QStringLiteral("Vone Stoped"));
}

void stopcomm_Click(Context &c)
{
    c.services.Timer1.setEnabled(false);
    closePort(c);
    stampNow(c);
    c.state.runFlag = 0;
    cleanRecordedCurve(c.state);
}

void Timer3_Timer(Context &c) { c.state.timer3Fired = 1; }
