#pragma once

#include "form.h"
#include "platform.h"
#include "shared_state.h"

#include <functional>
#include <memory>

class RunJournal;
class SerialLine;
struct RunBook;

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
    FileOwners *owners = nullptr; // none: a record saved over becomes the writer's
};

// What the handlers work on: the shared state, the services, and the little
// bookkeeping that keeps nested waits bounded.
struct Context
{
    explicit Context(const Services &s) : services(s) {}

    SharedState state;
    Services services;
    // Where set, each monitored run is kept on disk as it goes.
    RunJournal *journal = nullptr;

    // What a command further up the stack (a run) asks of the commands
    // beneath it. That command sets these; the others only ask.
    struct Hooks
    {
        // Every wait gives up while this holds: a newer command has taken over.
        std::function<bool()> abandonWaits;
        // A command is under way that a message box must not hold off.
        std::function<bool()> busy;
        // Takes a fault of the line in hand and tells it; false leaves the
        // telling to the link.
        std::function<bool(const QString &fault)> lineFault;
    } hooks;

    [[nodiscard]] bool abandoning() const { return hooks.abandonWaits && hooks.abandonWaits(); }
    [[nodiscard]] bool busy() const { return hooks.busy && hooks.busy(); }

    // Counts the opens of the port: a wait that began on one open of the port
    // must not take a byte from a later one.
    unsigned long long lineOpens = 0;
    // Counts the faults of the port, each told once: a port closed by a fault
    // is a lost line, one closed by the operator (Stop Communicate) is not.
    unsigned long long lineFaults = 0;

    // The run's own bookkeeping (run/run_book.h), made by the run.
    std::shared_ptr<RunBook> run;
};
