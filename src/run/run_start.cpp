#include "run_start.h"

#include "link/load.h"
#include "link/port.h"
#include "link/protocol.h"
#include "link/serial_line.h"
#include "monitor.h"
#include "run_book.h"
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
    RunBook &book = runBook(c);
    if (book.runStarting) {
        // One Run at a time: the Run still in its Parameter Load starts over as
        // this one once the waits above it have given up, so the stack stays flat.
        book.rerunStart = true;
        return;
    }
    struct Starting
    {
        RunBook &book;
        explicit Starting(RunBook &b) : book(b) { book.runStarting = true; }
        ~Starting() { book.runStarting = book.rerunStart = false; }
        Starting(const Starting &) = delete;
        Starting &operator=(const Starting &) = delete;
    } starting(book);
    bool loaded = false;
    do {
        book.rerunStart = false;
        if (!ensurePortOpen(c))
            return;
        stampNow(c);
        loaded = parameterLoad(c);
    } while (book.rerunStart);
    if (!loaded)
        return;
    if (!sendByte(c, cmdStartRun)) {
        // Monitoring now would show a run the oven was never told to start.
        c.services.messages.show(QStringLiteral("The run did not start: the start command could not "
                                                "go out on %1. Check the cable and choose Run again.")
                                         .arg(c.services.line.portName()),
                                 MessageService::Kind::Error);
        return;
    }
    book.runStarting = false;
    if (book.monitorActive) {
        // One monitor at most: the one on the stack starts afresh, and every
        // wait between here and it gives up on the way.
        book.restartMonitor = true;
        return;
    }
    monitorLoop(c);
}
