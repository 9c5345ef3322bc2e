#include "run_journal.h"

#include "record_format.h"
#include "state/context.h"

#include <memory>

namespace {

// A change of the journal's fortunes is told at most this often, so that a
// disk that fails every other second does not raise a notice per second.
constexpr qint64 kQuietMs = 30'000;

} // namespace

RunJournal::RunJournal(JournalDisk &disk, MessageService &messages, Clock &clock, QString folder)
    : m_disk(disk), m_messages(messages), m_clock(clock), m_folder(std::move(folder))
{
    m_disk.setReport([this](const JournalDisk::Report &report) { onReport(report); });
}

RunJournal::~RunJournal() { m_disk.setReport({}); }

QString RunJournal::nameOf(const std::array<LooseValue, 6> &stamp)
{
    auto field = [&stamp](std::size_t i, int width) {
        return QStringLiteral("%1").arg(qint64(stamp[i].leadingNumber()), width, 10, QLatin1Char('0'));
    };
    return field(0, 4) + u'-' + field(1, 2) + u'-' + field(2, 2) + u'_' + field(3, 2) + u'-' + field(4, 2)
           + u'-' + field(5, 2);
}

void RunJournal::runBegins(const SharedState &s)
{
    m_journal = 0;
    m_armed = true;
    m_stamp = s.runStamp;
}

void RunJournal::readingStored(const SharedState &s)
{
    if (!m_armed)
        return;
    m_armed = false;
    if (m_folder.isEmpty()) {
        if (!m_toldNoFolder)
            m_messages.notify(MessageService::Topic::Journal,
                              QStringLiteral("This run is not kept in a journal: the system names no data "
                                             "folder for this user.\n\nThe run goes on; keep it with Save."),
                              MessageService::Kind::Warning);
        m_toldNoFolder = true;
        return;
    }
    m_journal = ++m_count;
    submit(s, false);
}

void RunJournal::secondCounted(const SharedState &s)
{
    if (m_journal != 0)
        submit(s, false);
    tellChange();
}

void RunJournal::runEnded(const SharedState &s)
{
    m_armed = false;
    if (m_journal != 0)
        submit(s, true);
    m_journal = 0;
}

void RunJournal::submit(const SharedState &s, bool last)
{
    // During the run the stamp lines are the run's start, as Save writes
    // them then; a Run chosen inside this one that could not start has
    // stamped its own, but this journal stays its run's.
    Outcome<QByteArray> bytes = [&]() -> Outcome<QByteArray> {
        if (last || s.runStamp == m_stamp)
            return recordBytes(s);
        auto copy = std::make_unique<SharedState>(s);
        copy->runStamp = m_stamp;
        return recordBytes(*copy);
    }();
    if (!bytes)
        return; // no record Save could write either
    m_disk.write({.journal = m_journal,
                  .folder = m_folder,
                  .name = nameOf(m_stamp),
                  .bytes = std::move(bytes.value()),
                  .last = last});
}

void RunJournal::onReport(const JournalDisk::Report &report)
{
    m_failing = !report.error.isEmpty();
    if (m_failing)
        m_failure = QStringLiteral("The run journal cannot be written in %1:\n%2\n\nThe run goes on and "
                                   "stays in memory; keep it with Save. The journal is written again "
                                   "by itself once the folder can be written.")
                            .arg(report.folder, report.error);
    tellChange();
}

void RunJournal::tellChange()
{
    if (m_failing == m_toldFailing)
        return;
    const qint64 now = m_clock.now().toMSecsSinceEpoch();
    if (m_toldAt && now - *m_toldAt < kQuietMs)
        return; // told again once things have been quiet a while
    m_toldFailing = m_failing;
    m_toldAt = now;
    if (m_failing)
        m_messages.notify(MessageService::Topic::Journal, m_failure, MessageService::Kind::Warning);
    else
        m_messages.notify(MessageService::Topic::Journal,
                          QStringLiteral("The run journal is written again in %1.").arg(m_folder),
                          MessageService::Kind::Information);
}

void journalRunBegins(Context &c)
{
    if (c.journal)
        c.journal->runBegins(c.state);
}

void journalReadingStored(Context &c)
{
    if (c.journal)
        c.journal->readingStored(c.state);
}

void journalSecondCounted(Context &c)
{
    if (c.journal)
        c.journal->secondCounted(c.state);
}

void journalRunEnded(Context &c)
{
    if (c.journal)
        c.journal->runEnded(c.state);
}
