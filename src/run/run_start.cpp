#include "run_start.h"

#include "link/load.h"
#include "link/port.h"
#include "link/protocol.h"
#include "monitor.h"
#include "state/context.h"

void stampNow(Context &c)
{
    const QDateTime now = c.services.clock.now();
    const QDate d = now.date();
    const QTime t = now.time();
    SharedState &s = c.state;
    s.runStamp = {d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second()};
    s.recordStamp = s.runStamp;
}

void from8031_Click(Context &c)
{
    if (!ensurePortOpen(c))
        return;
    stampNow(c);
    if (!parameterLoad(c))
        return;
    sendByte(c, cmdStartRun);
    if (c.monitorActive) {
        // One monitor at most: the one on the stack starts afresh, and every
        // wait between here and it gives up on the way.
        c.restartMonitor = true;
        return;
    }
    monitorLoop(c);
}
