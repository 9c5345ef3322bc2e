#include "background_printer.h"

#include <QTimer>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <vector>

namespace {

using Steady = std::chrono::steady_clock;
using std::chrono::milliseconds;

struct Followed
{
    int id;
    std::unique_ptr<PageDevice::Job> job;
    Steady::time_point until;
};

QString seconds(int ms) { return QString::number(ms / 1000.0); }

} // namespace

struct BackgroundPrinter::Page
{
    int id = 0;
    Drawing draw; // the printing thread's, once the page is taken
    enum class Stage { Waiting, Sending, Handed } stage = Stage::Waiting; // under Shared::mutex
    std::atomic<bool> givenUp{false}; // not under way in time: never to be sent
};

struct BackgroundPrinter::Event
{
    enum class Kind { News, Handed, Over } kind;
    PrintNews news{};
};

// What the window's side and the printing thread share; the thread holds it
// for as long as it runs, so that a thread left behind never touches a
// printer object that is gone.
struct BackgroundPrinter::Shared
{
    std::unique_ptr<PageDevice> device; // printing thread only
    Bounds bounds;

    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::shared_ptr<Page>> waiting;
    BackgroundPrinter *receiver = nullptr; // null once the window's side is gone
    std::atomic<bool> ending{false};
    bool finished = false;
    std::condition_variable done;

    void run();
    void make(Page &page, std::vector<Followed> &followed);
    // One look at a job; true when there is nothing more to follow.
    bool lookAt(int id, PageDevice::Job &job);
    void post(int id, const Event &event);
};

void BackgroundPrinter::Shared::run()
{
    std::vector<Followed> followed;
    Steady::time_point nextLook{};
    std::unique_lock lock(mutex);
    while (!ending) {
        if (!waiting.empty()) {
            const std::shared_ptr<Page> page = std::move(waiting.front());
            waiting.pop_front();
            lock.unlock();
            make(*page, followed);
            nextLook = std::max(nextLook, Steady::now() + milliseconds(bounds.lookMs));
            lock.lock();
        } else if (!followed.empty() && Steady::now() >= nextLook) {
            lock.unlock();
            for (auto it = followed.begin(); it != followed.end() && !ending;) {
                if (Steady::now() >= it->until || lookAt(it->id, *it->job)) {
                    post(it->id, {Event::Kind::Over});
                    it = followed.erase(it);
                } else {
                    ++it;
                }
            }
            nextLook = Steady::now() + milliseconds(bounds.lookMs);
            lock.lock();
        } else if (followed.empty()) {
            wake.wait(lock);
        } else {
            wake.wait_until(lock, nextLook);
        }
    }
    finished = true;
    done.notify_all();
}

void BackgroundPrinter::Shared::make(Page &page, std::vector<Followed> &followed)
{
    const int id = page.id;
    const PageDevice::GiveUp givenUp = [this, &page] { return ending || page.givenUp; };
    // A page given up has been told already; one the server did not answer
    // for is told by the window's side when its time is up.
    if (givenUp() || !device->answers(givenUp)) {
        post(id, {Event::Kind::Over});
        return;
    }
    {
        const std::lock_guard lock(mutex);
        if (!page.givenUp)
            page.stage = Page::Stage::Sending;
    }
    if (page.stage != Page::Stage::Sending) {
        post(id, {Event::Kind::Over});
        return;
    }
    Outcome<PrintSurface *> surface = device->beginDocument();
    if (surface)
        page.draw(*surface.value());
    page.draw = nullptr; // the snapshot is not needed any more
    const Status ended = surface ? device->endDocument() : Status::failure(surface.error());
    {
        const std::lock_guard lock(mutex);
        page.stage = Page::Stage::Handed;
    }
    if (!ended) {
        post(id, {Event::Kind::News, {PrintNews::Kind::NotPrinted, ended.error()}});
        post(id, {Event::Kind::Over});
        return;
    }
    post(id, {Event::Kind::Handed});
    std::unique_ptr<PageDevice::Job> job = device->endedJob();
    if (job && !lookAt(id, *job))
        followed.push_back({id, std::move(job), Steady::now() + milliseconds(bounds.followMs)});
    else
        post(id, {Event::Kind::Over});
}

bool BackgroundPrinter::Shared::lookAt(int id, PageDevice::Job &job)
{
    const Steady::time_point until = Steady::now() + milliseconds(bounds.answerMs);
    const PageDevice::Job::Look look = job.look([this, until] { return ending || Steady::now() >= until; });
    if (!look.problem.isEmpty())
        post(id, {Event::Kind::News, {PrintNews::Kind::NotPrinted, look.problem}});
    return look.over;
}

void BackgroundPrinter::Shared::post(int id, const Event &event)
{
    // Under the lock, so that the window's side cannot go while the event is
    // posted; once it is gone, Qt drops what was posted to it.
    const std::lock_guard lock(mutex);
    if (BackgroundPrinter *to = receiver)
        QMetaObject::invokeMethod(
                to, [to, id, event] { to->deliver(id, event); }, Qt::QueuedConnection);
}

BackgroundPrinter::BackgroundPrinter(std::unique_ptr<PageDevice> device, Bounds bounds)
    : m_shared(std::make_shared<Shared>())
{
    m_shared->device = std::move(device);
    m_shared->bounds = bounds;
    m_shared->receiver = this;
}

BackgroundPrinter::~BackgroundPrinter()
{
    {
        const std::lock_guard lock(m_shared->mutex);
        m_shared->receiver = nullptr;
        m_shared->ending = true;
    }
    m_shared->wake.notify_all();
    if (!m_thread.joinable())
        return;
    // Our own waits on the print system give up within a fraction of a
    // second; a wait inside the print system's library may not.
    std::unique_lock lock(m_shared->mutex);
    const bool ended = m_shared->done.wait_for(lock, std::chrono::seconds(2),
                                               [this] { return m_shared->finished; });
    lock.unlock();
    if (ended)
        m_thread.join();
    else
        m_thread.detach();
}

void BackgroundPrinter::print(Drawing draw, Teller tell)
{
    if (!m_thread.joinable()) {
        try {
            m_thread = std::thread([shared = m_shared] { shared->run(); });
        } catch (const std::system_error &e) {
            tell({PrintNews::Kind::NotPrinted, QStringLiteral("no thread could be started to print (%1).")
                                                       .arg(QString::fromLocal8Bit(e.what()))});
            return;
        }
    }
    auto page = std::make_shared<Page>();
    page->id = ++m_lastId;
    page->draw = std::move(draw);
    m_open[page->id] = Open{page, std::move(tell)};
    {
        const std::lock_guard lock(m_shared->mutex);
        m_shared->waiting.push_back(page);
    }
    m_shared->wake.notify_one();
    QTimer::singleShot(m_shared->bounds.answerMs, this, [this, id = page->id] { overdue(id); });
}

void BackgroundPrinter::overdue(int id)
{
    const auto it = m_open.find(id);
    if (it == m_open.end())
        return;
    Page::Stage stage;
    {
        const std::lock_guard lock(m_shared->mutex);
        stage = it->second.page->stage;
        if (stage == Page::Stage::Waiting)
            it->second.page->givenUp = true;
    }
    const int ms = m_shared->bounds.answerMs;
    if (stage == Page::Stage::Waiting) {
        const Teller tell = std::move(it->second.tell);
        m_open.erase(it);
        tell({PrintNews::Kind::NotPrinted,
              QStringLiteral("the print server did not answer within %1 seconds.").arg(seconds(ms))});
    } else if (stage == Page::Stage::Sending) {
        it->second.unsure = true;
        const Teller tell = it->second.tell; // a copy: telling may deliver other news
        tell({PrintNews::Kind::Unsure,
              QStringLiteral("the print server has not answered for %1 seconds while the page was being "
                             "sent. You will be told if it answers.")
                      .arg(seconds(ms))});
    }
}

void BackgroundPrinter::deliver(int id, const Event &event)
{
    const auto it = m_open.find(id);
    if (it == m_open.end())
        return;
    const Teller tell = it->second.tell; // a copy: telling may deliver other news
    switch (event.kind) {
    case Event::Kind::Over: m_open.erase(it); break;
    case Event::Kind::Handed:
        if (it->second.unsure) {
            it->second.unsure = false;
            tell({PrintNews::Kind::Resolved,
                  QStringLiteral("The print server has answered: the report was handed to the printer.")});
        }
        break;
    case Event::Kind::News: tell(event.news); break;
    }
}
