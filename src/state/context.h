#pragma once

#include "form.h"
#include "platform.h"
#include "shared_state.h"

#include <array>

class RunJournal;
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

    // The monitored run and its line.
    struct RunLine
    {
        // From the monitor's start-up until Stop Communicate.
        bool live = false;
        // The run's port failed; the monitor reopens it about once a second.
        bool outage = false;
        qint64 lastRetrySecond = -1;
    } runLine;

    // How the monitor takes frames apart and filters readings.
    struct FrameBook
    {
        // False after a frame failed its check, until the bytes line up again.
        bool synced = true;
        // The last bytes received, newest last, for the check and realigning.
        std::array<int, 6> recent{};
        int recentCount = 0;
        // Readings replaced by the spike filter in a row.
        int replacedInRow = 0;
        // "Communication Error!" was told for the present series above 400.
        bool overLimitTold = false;
    } frames;
};
