#include "journal_disk.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#endif

namespace {

using namespace std::chrono_literals;
using Write = JournalDisk::Write;
using Report = JournalDisk::Report;

// Journals with a record waiting: the newest run's and a few that ended just
// before it. Older waiting records are dropped (their disk is not answering).
constexpr std::size_t kMaxWaiting = 4;
// The folder's entries are made durable at least this often, and at a run's end.
constexpr auto kFolderSyncEvery = 4s;

#ifdef Q_OS_WIN
bool syncFile(int fd) { return FlushFileBuffers(HANDLE(_get_osfhandle(fd))) != 0; }
bool replaceFile(const QString &from, const QString &to)
{
    return MoveFileExW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(from).utf16()),
                       reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(to).utf16()),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
           != 0;
}
// The rename above is written through; a folder has no handle to flush.
void syncFolder(const QString &) {}
#else
bool syncFile(int fd) { return ::fsync(fd) == 0; }
bool replaceFile(const QString &from, const QString &to)
{
    return ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}
void syncFolder(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}
#endif

// What the worker knows of a journal it has written.
struct Entry
{
    QString path; // empty until its name is claimed
    std::chrono::steady_clock::time_point folderSynced{};
};
using Book = std::map<std::uint64_t, Entry>;

// Claims the first free name of the journal, name.dbf, name-2.dbf, ...,
// with a rename that never replaces: another run, or another program, may
// have taken the name meanwhile.
QString claim(const Write &w, const QString &temp, Entry &e)
{
    for (int k = 1; k <= 999; ++k) {
        const QString candidate = w.folder + u'/' + w.name
                                  + (k > 1 ? QStringLiteral("-%1").arg(k) : QString())
                                  + QStringLiteral(".dbf");
        QFile file(temp);
        if (file.rename(candidate)) {
            e.path = candidate;
            return {};
        }
        if (!QFileInfo::exists(candidate))
            return file.errorString();
    }
    return QStringLiteral("every name of this run's journal is taken");
}

// Writes one record of a journal; the cause when it cannot.
QString writeJournal(const Write &w, Book &book)
{
    if (!QFileInfo(w.folder).isDir() && !QDir().mkpath(w.folder))
        return QStringLiteral("the folder cannot be created (%1)").arg(qt_error_string());
    Entry &e = book[w.journal];
    while (book.size() > 2 * kMaxWaiting)
        book.erase(book.begin());
    const QString temp = w.folder
                         + QStringLiteral("/.%1.%2-%3.part")
                                   .arg(w.name)
                                   .arg(QCoreApplication::applicationPid())
                                   .arg(w.journal);
    QFile file(temp);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        return file.errorString();
    QString why;
    const qint64 written = file.write(w.bytes);
    if (written < 0)
        why = file.errorString();
    else if (written < w.bytes.size()) // cut short without a cause of its own
        why = QStringLiteral("the disk is full: only %1 of the journal's %2 bytes could be written")
                      .arg(written)
                      .arg(w.bytes.size());
    else if (!syncFile(file.handle()))
        why = qt_error_string();
    file.close();
    if (why.isEmpty()) {
        if (e.path.isEmpty())
            why = claim(w, temp, e);
        else if (!replaceFile(temp, e.path))
            why = qt_error_string();
    }
    if (!why.isEmpty()) {
        QFile::remove(temp); // nothing half written is left behind
        return why;
    }
    const auto now = std::chrono::steady_clock::now();
    if (w.last || now - e.folderSynced >= kFolderSyncEvery) {
        syncFolder(w.folder);
        e.folderSynced = now;
    }
    return {};
}

} // namespace

struct ThreadedJournalDisk::Shared
{
    std::mutex mutex;
    std::condition_variable wake; // something to write, or the end
    std::condition_variable settled; // nothing waiting and nothing in hand
    std::deque<Write> waiting; // at most one record a journal
    bool busy = false;
    bool stop = false;
    bool done = false;
    // Hands a report to the window's thread; empty once the disk is gone.
    std::function<void(const Report &)> post;

    void work()
    {
        Book book;
        QString lastError;
        std::unique_lock lock(mutex);
        for (;;) {
            wake.wait(lock, [this] { return stop || !waiting.empty(); });
            if (stop)
                break;
            const Write w = std::move(waiting.front());
            waiting.pop_front();
            busy = true;
            lock.unlock();
            const QString error = writeJournal(w, book);
            lock.lock();
            busy = false;
            if (error != lastError && post)
                post(Report{w.folder, error});
            lastError = error;
            if (waiting.empty())
                settled.notify_all();
        }
        done = true;
        settled.notify_all();
    }
};

ThreadedJournalDisk::ThreadedJournalDisk()
    : m_shared(std::make_shared<Shared>()), m_receiver(std::make_unique<QObject>())
{
    m_shared->post = [this](const Report &report) {
        QMetaObject::invokeMethod(
                m_receiver.get(),
                [this, report] {
                    if (m_report)
                        m_report(report);
                },
                Qt::QueuedConnection);
    };
    // The worker owns a share of what it works on, so that one stuck on a
    // hung disk can be left behind when the program ends.
    std::thread([shared = m_shared] { shared->work(); }).detach();
}

ThreadedJournalDisk::~ThreadedJournalDisk()
{
    settle(1000ms);
    std::unique_lock lock(m_shared->mutex);
    m_shared->stop = true;
    m_shared->post = nullptr;
    m_shared->wake.notify_all();
}

void ThreadedJournalDisk::write(Write w)
{
    std::lock_guard lock(m_shared->mutex);
    std::deque<Write> &waiting = m_shared->waiting;
    const auto same = std::find_if(waiting.begin(), waiting.end(),
                                   [&w](const Write &other) { return other.journal == w.journal; });
    if (same != waiting.end()) {
        w.last = w.last || same->last;
        *same = std::move(w);
    } else {
        if (waiting.size() >= kMaxWaiting)
            waiting.pop_front();
        waiting.push_back(std::move(w));
    }
    m_shared->wake.notify_one();
}

void ThreadedJournalDisk::setReport(std::function<void(const Report &)> report)
{
    m_report = std::move(report);
}

bool ThreadedJournalDisk::settle(std::chrono::milliseconds limit)
{
    std::unique_lock lock(m_shared->mutex);
    return m_shared->settled.wait_for(
            lock, limit, [this] { return m_shared->done || (m_shared->waiting.empty() && !m_shared->busy); });
}
