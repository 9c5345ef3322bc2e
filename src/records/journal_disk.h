#pragma once

#include "run_journal.h"

#include <QObject>

#include <chrono>
#include <memory>

// The run journal's disk: one worker thread writes each record to a
// temporary beside its journal, makes it durable and renames it over the
// journal, so that a reader never finds a journal half written. A slow or
// hung disk holds only the worker; the window's thread hands over the newest
// record and goes on.
class ThreadedJournalDisk : public JournalDisk
{
public:
    ThreadedJournalDisk();
    ~ThreadedJournalDisk() override;
    ThreadedJournalDisk(const ThreadedJournalDisk &) = delete;
    ThreadedJournalDisk &operator=(const ThreadedJournalDisk &) = delete;

    void write(Write w) override;
    void setReport(std::function<void(const Report &)> report) override;
    // Waits at most `limit` until everything handed over is written (or has
    // failed); false when the worker is still at it.
    bool settle(std::chrono::milliseconds limit);

    struct Shared;

private:
    std::shared_ptr<Shared> m_shared;
    std::unique_ptr<QObject> m_receiver; // on the window's thread, for reports
    std::function<void(const Report &)> m_report;
};
