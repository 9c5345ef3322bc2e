#pragma once

#include "outcome.h"

#include <QDateTime>
#include <QString>

#include <functional>
#include <optional>
#include <utility>

// Small seams around the platform services the commands use, so that a test can
// script the controller, the operator and the clock.

// Processes pending window events once: sleeps until at least one event (a
// byte, a timer tick, an operator action) has come, handles what is pending and
// returns. While the run monitor is on the stack it also comes back at each
// turn of the second when nothing happens, so that the monitor can act on the
// passing of time (the date readout, reconnecting a run's line).
class EventPump
{
public:
    virtual ~EventPump() = default;
    virtual void pumpEvents() = 0;
    // Handles the events already pending and returns without sleeping: for a
    // caller that holds input it has not yet taken.
    virtual void pumpPending() { pumpEvents(); }
};

class Timer
{
public:
    virtual ~Timer() = default;
    virtual void setInterval(int ms) = 0;
    [[nodiscard]] virtual int interval() const = 0;
    virtual void setEnabled(bool enabled) = 0;
    [[nodiscard]] virtual bool isEnabled() const = 0;
    // The handler each period's end calls; set where the services are assembled.
    virtual void onTickCall(std::function<void()> onTick) = 0;
};

// Message boxes with a single OK button.
class MessageService
{
public:
    enum class Kind { Information, Warning, Error };
    // Notices that must not hold off a run: one box a topic, a newer notice of
    // the same topic replaces the text of one still open.
    enum class Topic { Line, Stop, Reading, Print, Journal };
    virtual ~MessageService() = default;
    // Modal: returns when the operator has closed the box.
    virtual void show(const QString &text, Kind kind = Kind::Information) = 0;
    // Not modal: shows the box and returns at once.
    virtual void notify(Topic topic, const QString &text, Kind kind) = 0;
};

class FileDialog
{
public:
    virtual ~FileDialog() = default;
    // filter in the "Description|pattern|Description|pattern" form; selected is
    // the 1-based entry preselected. An empty result means cancelled.
    [[nodiscard]] virtual QString openFileName(const QString &filter, int selected) = 0;
    [[nodiscard]] virtual QString saveFileName(const QString &filter, int selected) = 0;
};

class Clock
{
public:
    virtual ~Clock() = default;
    [[nodiscard]] virtual QDateTime now() const = 0;
};

// Ends the program at once: no waiting command resumes.
class Terminator
{
public:
    virtual ~Terminator() = default;
    [[noreturn]] virtual void terminate() = 0;
};

class PrintSurface;

// What became of a page, where the operator must hear of it.
struct PrintNews
{
    enum class Kind {
        NotPrinted, // the page will not come out
        Unsure, // the print server keeps quiet about the page
        Resolved, // a page told unsure has reached the printer after all
    };
    Kind kind;
    QString reason; // in the operator's words, ending with a full stop
};

// The default printer, with no dialog.
class PrinterService
{
public:
    using Drawing = std::function<void(PrintSurface &)>;
    using Teller = std::function<void(const PrintNews &)>;
    virtual ~PrinterService() = default;
    // Makes one page with `draw` and sends it, without holding up the window
    // while the print system thinks. `draw` may run on another thread, so it
    // must use only what it owns. News of the page, at once or minutes later,
    // come to `tell` on the window's thread, each piece once.
    virtual void print(Drawing draw, Teller tell) = 0;
};

class QFileDevice;

// Gives a file written in place of another the owner and group of the one it
// replaces, where the system allows it (as root). Without it a written file
// belongs to whoever wrote it.
class FileOwners
{
public:
    virtual ~FileOwners() = default;
    // `written` is open; `replaced` names the file it is about to replace.
    virtual void keepOwner(const QString &replaced, QFileDevice &written) = 0;
};
