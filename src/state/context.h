#pragma once

#include "form.h"
#include "platform.h"
#include "shared_state.h"

#include <bitset>
#include <memory>

class RunJournal;
class SerialLine;
struct FrameBook;

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

    // Counts the opens of the port: a wait that began on one open of the port
    // must not take a byte from a later one.
    unsigned long long lineOpens = 0;
    // Counts the faults of the port, each told once: a port closed by a fault
    // is a lost line, one closed by the operator (Stop Communicate) is not.
    unsigned long long lineFaults = 0;

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

    // How the monitor takes frames apart and filters readings; the monitor's
    // own, made at its first byte.
    std::shared_ptr<FrameBook> frames;
};
