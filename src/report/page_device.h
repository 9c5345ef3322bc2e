#pragma once

#include "state/platform.h"

#include <functional>
#include <memory>

// A printer for one page at a time whose calls may wait on a print system:
// used only where a wait holds up nobody (a printing thread, a tool).
class PageDevice
{
public:
    // Asked again and again while a call waits on the print system: true
    // to stop waiting.
    using GiveUp = std::function<bool()>;

    // A page handed to a print system, followed until it has left the queue.
    class Job
    {
    public:
        struct Look
        {
            bool over = false; // printed, dropped or gone: nothing more to follow
            QString problem; // news not told before, or empty
        };
        virtual ~Job() = default;
        // Asks the print system once; a system that does not answer before
        // `giveUp` says so gives an empty look, to try again later.
        virtual Look look(const GiveUp &giveUp) = 0;
    };

    virtual ~PageDevice() = default;
    // Whether the print system answers at all, asked before a page is
    // begun: its other calls may wait for minutes on a silent server.
    virtual bool answers(const GiveUp & /*giveUp*/) { return true; }
    // The page to draw on, or why no page can be printed.
    virtual Outcome<PrintSurface *> beginDocument() = 0;
    // Ends the document, or says why it failed.
    virtual Status endDocument() = 0;
    // The job of the page just ended, where the print system can say what
    // becomes of it; call it right after endDocument.
    virtual std::unique_ptr<Job> endedJob() { return nullptr; }
};

// Makes and ends the page on the spot and tells a failure at once: for
// callers that may wait.
class ImmediatePrinter : public PrinterService
{
public:
    explicit ImmediatePrinter(PageDevice &device) : m_device(device) {}
    void print(Drawing draw, Teller tell) override { printOnTheSpot(m_device, draw, tell); }

    static void printOnTheSpot(PageDevice &device, const Drawing &draw, const Teller &tell);

private:
    PageDevice &m_device;
};
