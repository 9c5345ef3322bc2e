#pragma once

#include "report/page_device.h"

#include <QObject>

#include <map>
#include <memory>
#include <thread>

// Prints from a thread of its own, so that neither the window nor a run
// waits on the print system: a print server that accepts a connection and
// never answers holds its callers for minutes. One thread serves every page
// in turn, then follows each job until it has left the queue.
class BackgroundPrinter : public QObject, public PrinterService
{
public:
    struct Bounds
    {
        int answerMs = 10000; // a page not under way by then is given up and told
        int followMs = 120000; // how long a job is followed at most
        int lookMs = 1000; // between looks at a followed job
    };

    // device: used on the printing thread only, from the first page on.
    BackgroundPrinter(std::unique_ptr<PageDevice> device, Bounds bounds);
    // Returns at once even where the print system holds the thread: the
    // thread is then left to end with the process.
    ~BackgroundPrinter() override;

    void print(Drawing draw, Teller tell) override;

    struct Shared;
    struct Page;
    struct Event;

private:
    void overdue(int id);
    void deliver(int id, const Event &event);

    std::shared_ptr<Shared> m_shared;
    std::thread m_thread;
    struct Open
    {
        std::shared_ptr<Page> page;
        Teller tell;
        bool unsure = false; // told that the server keeps quiet
    };
    std::map<int, Open> m_open; // pages not yet over, by id
    int m_lastId = 0;
};
