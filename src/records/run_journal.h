#pragma once

// The run journal: every monitored run kept, as it goes, in a record file of
// its own in the runs folder, so that a crash, a power cut or a forgotten
// Save costs at most the last seconds. The window's thread only builds the
// record's bytes; a JournalDisk puts them on the disk elsewhere.

#include "state/loose_value.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

struct Context;
struct SharedState;
class Clock;
class MessageService;

// Writes journals away from the window's thread. write() returns at once;
// a newer record of the same journal replaces one that is not yet being
// written (the newest wins, memory stays bounded).
class JournalDisk
{
public:
    struct Write
    {
        std::uint64_t journal = 0; // one a run, counted from 1
        QString folder;
        // The file is folder/name.dbf, or name-2.dbf, name-3.dbf ... where
        // that is taken when the journal is first written.
        QString name;
        QByteArray bytes;
        bool last = false; // the run has ended: made durable at once
    };
    // Told on the window's thread when writing starts or stops failing.
    struct Report
    {
        QString folder;
        QString error; // empty: written again
    };
    virtual ~JournalDisk() = default;
    virtual void write(Write w) = 0;
    virtual void setReport(std::function<void(const Report &)> report) = 0;
};

class RunJournal
{
public:
    // folder: where the journals go; empty where the system names none.
    RunJournal(JournalDisk &disk, MessageService &messages, Clock &clock, QString folder);
    ~RunJournal();
    RunJournal(const RunJournal &) = delete;
    RunJournal &operator=(const RunJournal &) = delete;

    // The monitor starts afresh: the run so far, if journaled, keeps what it
    // has; the next reading starts a new journal.
    void runBegins(const SharedState &s);
    // A reading was stored: the first one of the run starts its journal.
    void readingStored(const SharedState &s);
    // The run clock counted a second.
    void secondCounted(const SharedState &s);
    // Stop Communicate has ended the run: the journal becomes what Save
    // writes now, and is not written again.
    void runEnded(const SharedState &s);

    // The file name of a run started at this stamp, without ".dbf".
    [[nodiscard]] static QString nameOf(const std::array<LooseValue, 6> &stamp);

private:
    void submit(const SharedState &s, bool last);
    void onReport(const JournalDisk::Report &report);
    void tellChange();

    JournalDisk &m_disk;
    MessageService &m_messages;
    Clock &m_clock;
    QString m_folder;
    bool m_armed = false; // a monitored run without a reading yet
    std::uint64_t m_journal = 0; // the run being journaled, 0 for none
    std::uint64_t m_count = 0;
    std::array<LooseValue, 6> m_stamp; // the run's start stamp
    // What the operator was last told, and when: failing or not.
    bool m_toldFailing = false;
    bool m_failing = false;
    QString m_failure;
    std::optional<qint64> m_toldAt;
    bool m_toldNoFolder = false;
};

// The monitor's and Stop Communicate's steps, where a journal is kept.
void journalRunBegins(Context &c);
void journalReadingStored(Context &c);
void journalSecondCounted(Context &c);
void journalRunEnded(Context &c);
