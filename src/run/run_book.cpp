#include "run_book.h"

#include "state/context.h"

RunBook &runBook(Context &c)
{
    if (!c.run) {
        c.run = std::make_shared<RunBook>();
        const RunBook *book = c.run.get();
        c.hooks.abandonWaits = [book] { return book->abandoning(); };
        c.hooks.busy = [book] { return book->monitorActive || book->runStarting; };
    }
    return *c.run;
}

bool monitoring(const Context &c) { return c.run && c.run->monitorActive; }
