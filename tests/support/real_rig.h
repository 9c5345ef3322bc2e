#pragma once

#include "fakes.h"

#include "link/protocol.h"
#include "link/qt_serial_line.h"
#include "run/monitor.h"
#include "run/run_stop.h"
#include "state/profile.h"
#include "ui/qt_platform.h"
#include "ui/startup.h"

// The real pump, which counts how it was asked to pump (asleep until an event,
// or only what is pending) and can end a scenario once no handler is on the
// stack between the test and the pump (never through Qt's own dispatch).
class EndablePump : public EventPump
{
public:
    void pumpEvents() override
    {
        ++sleeps;
        pump(&QtEventPump::pumpEvents);
    }
    void pumpPending() override
    {
        ++pendings;
        pump(&QtEventPump::pumpPending);
    }
    bool end = false;
    std::function<void()> onPump;
    int sleeps = 0;
    int pendings = 0;

private:
    void pump(void (QtEventPump::*how)())
    {
        ++m_depth;
        (m_inner.*how)();
        --m_depth;
        if (onPump)
            onPump();
        if (end && m_depth == 0)
            throw ScriptEnded{};
    }
    QtEventPump m_inner;
    int m_depth = 0;
};

// The real serial port and the real event pump, with the operator's side faked.
struct PtyRig
{
    explicit PtyRig(const QString &port1, const QString &port2 = QStringLiteral("/dev/null-port2"))
        : line(port1, port2),
          c(Services{.form = form,
                     .line = line,
                     .pump = pump,
                     .Timer1 = timer1,
                     .Timer3 = timer3,
                     .messages = messages,
                     .files = files,
                     .printer = printer,
                     .clock = clock,
                     .terminator = terminator})
    {
        wireServices(c);
    }
    FakeForm form;
    QtSerialLine line;
    EndablePump pump;
    QtTimer timer1;
    QtTimer timer3;
    FakeMessages messages;
    FakeFiles files;
    FakePrinter printer;
    SystemClock clock;
    FakeTerminator terminator;
    Context c;
};
