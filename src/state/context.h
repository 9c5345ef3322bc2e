#pragma once

#include "form.h"
#include "platform.h"
#include "shared_state.h"

class SerialLine;

// The platform services one program life uses.
struct Services
{
    Form &form;
    SerialLine &line;
    EventPump &pump;
    Timer &Timer1;
    Timer &Timer3;
    MessageService &messages;
    FileDialog &files;
    PrinterService &printer;
    Clock &clock;
    Terminator &terminator;
};

// What the handlers work on: the shared state, the services, and the little
// bookkeeping that keeps nested waits bounded.
struct Context
{
    explicit Context(const Services &s) : services(s) {}

    SharedState state;
    Services services;

    // True while a monitor loop is on the stack.
    bool monitorActive = false;
    // Set by a Run chosen while a monitor exists: every wait between that Run
    // and the monitor gives up, and the monitor starts afresh.
    bool restartMonitor = false;

    [[nodiscard]] bool abandoning() const { return restartMonitor; }
};
