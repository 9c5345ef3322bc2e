#include "fakes.h"

#include "link/frame.h"
#include "run/run_start.h"
#include "ui/startup.h"

bool FakeWorld::runDue()
{
    bool did = false;
    while (!m_events.empty() && m_events.begin()->first <= m_now) {
        auto action = std::move(m_events.begin()->second);
        m_events.erase(m_events.begin());
        action();
        did = true;
    }
    for (FakeTimer *t : m_timers) {
        if (t->due(m_now)) {
            t->fire();
            did = true;
        }
    }
    return did;
}

void FakeWorld::pumpEvents()
{
    if (++pumps > maxPumps)
        throw ScriptEnded{};
    maxDepth = std::max(maxDepth, ++depth);
    struct Leave
    {
        int &d;
        ~Leave() { --d; }
    } leave{depth};
    for (;;) {
        bool did = runDue();
        if (line && line->deliverFault())
            did = true;
        if (line && line->deliver())
            did = true;
        if (did)
            return;
        qint64 next = -1;
        if (!m_events.empty())
            next = m_events.begin()->first;
        for (FakeTimer *t : m_timers) {
            if (t->isEnabled() && t->interval() > 0 && (next < 0 || t->next() < next))
                next = t->next();
        }
        if (next < 0)
            throw ScriptEnded{}; // the real program would sleep for good
        if (endMs >= 0 && next > endMs)
            throw ScriptEnded{};
        m_now = std::max(m_now, next);
    }
}

FakeTimer::FakeTimer(FakeWorld &world, std::function<void()> tick) : onTick(std::move(tick)), m_world(world)
{
    world.addTimer(this);
}

void FakeTimer::setInterval(int ms)
{
    m_interval = ms;
    m_next = m_world.ms() + ms; // a new interval starts a new period
}

void FakeTimer::setEnabled(bool enabled)
{
    if (enabled && !m_enabled)
        m_next = m_world.ms() + m_interval;
    m_enabled = enabled;
}

void FakeTimer::fire()
{
    m_next += m_interval;
    ++ticks;
    if (onTick)
        onTick();
}

void FakeLine::setPortNumber(int port)
{
    m_port = port;
    log << QStringLiteral("port %1").arg(port);
}

void FakeLine::discardReceived()
{
    log << QStringLiteral("discardReceived");
    m_queue.clear();
    m_buffer.clear();
}

Status FakeLine::open()
{
    log << QStringLiteral("open");
    if (!openError.isEmpty())
        return Status::failure(openError);
    m_open = true;
    ++opens;
    return Done{};
}

void FakeLine::close()
{
    log << QStringLiteral("close");
    m_open = false;
    m_queue.clear();
    m_buffer.clear();
}

bool FakeLine::deliverFault()
{
    if (m_fault.isEmpty())
        return false;
    m_open = false;
    m_queue.clear();
    m_buffer.clear();
    tellFault(std::exchange(m_fault, QString()));
    return true;
}

void FakeLine::unplug()
{
    fail(QStringLiteral("the device port%1 disappeared").arg(m_port));
    openError = QStringLiteral("no such device");
    m_queue.clear();
    m_buffer.clear();
}

bool FakeLine::write(const QByteArray &bytes)
{
    if (!m_open || !m_fault.isEmpty())
        return false;
    if (failWritesAfter == 0) {
        m_fault = QStringLiteral("the line on port%1 hung up or failed").arg(m_port);
        return false;
    }
    if (failWritesAfter > 0)
        --failWritesAfter;
    for (char ch : bytes) {
        const int b = static_cast<unsigned char>(ch);
        sent.push_back(b);
        sentAt.push_back(world ? world->ms() : 0);
        sentOnPort.push_back(m_port);
        if (onSent)
            onSent(b);
    }
    return true;
}

void FakeLine::arrive(const QByteArray &bytes)
{
    if (!m_open || !m_fault.isEmpty())
        return;
    for (char ch : bytes)
        m_queue.push_back(ch);
}

void FakeLine::arrive(std::initializer_list<int> bytes)
{
    QByteArray a;
    for (int b : bytes)
        a.append(char(b));
    arrive(a);
}

bool FakeLine::deliver()
{
    if (!m_open || !m_buffer.isEmpty() || m_queue.empty())
        return false;
    m_buffer.append(m_queue.front());
    m_queue.pop_front();
    return true;
}

void FakeMessages::show(const QString &text, Kind)
{
    texts << text;
    if (whileOpen)
        whileOpen(text);
}

void FakeMessages::notify(Topic topic, const QString &text, Kind)
{
    notices << text;
    noticeTopics.push_back(topic);
    noticeAt.push_back(world ? world->ms() : 0);
}

QString FakeFiles::openFileName(const QString &filter, int selected)
{
    lastFilter = filter;
    lastSelected = selected;
    ++shown;
    return answers.isEmpty() ? QString() : answers.takeFirst();
}

std::vector<RecordingPage::Op> RecordingPage::of(Op::Kind kind) const
{
    std::vector<Op> out;
    for (const Op &op : ops)
        if (op.kind == kind)
            out.push_back(op);
    return out;
}

Outcome<PrintSurface *> FakePrinter::beginDocument()
{
    if (!beginError.isEmpty())
        return Outcome<PrintSurface *>::failure(beginError);
    page = std::make_unique<RecordingPage>();
    return page.get();
}

Status FakePrinter::endDocument()
{
    if (!endError.isEmpty())
        return Status::failure(endError);
    ++documents;
    return Done{};
}

void FakeForm::setText(Field field, const QString &text)
{
    fields[std::size_t(field) - 1] = text;
    changes.push_back(int(field));
    if (onChange)
        onChange(int(field));
}

void FakeForm::typeProfile(const QStringList &texts)
{
    for (int n = 1; n <= 6; ++n)
        type(n, texts[n - 1]);
}

Rig::Rig()
    : c(Services{.form = form,
                 .line = line,
                 .pump = world,
                 .Timer1 = timer1,
                 .Timer3 = timer3,
                 .messages = messages,
                 .files = files,
                 .printer = printer,
                 .clock = world,
                 .terminator = terminator})
{
    world.line = &line;
    line.world = &world;
    messages.world = &world;
    wireServices(c);
    Form_Load(c);
    form.changes.clear();
}

bool Rig::run(const std::function<void()> &command)
{
    try {
        command();
        return true;
    } catch (const ScriptEnded &) {
        return false;
    }
}

void Rig::answerLoads(std::array<int, 6> answers, qint64 delayMs)
{
    line.onSent = [this, answers, delayMs](int b) {
        if (b >= 1 && b <= 6)
            world.after(delayMs, [this, v = answers[std::size_t(b - 1)]] { line.arrive({v}); });
        else if (b == 0xAA && onRunStart)
            onRunStart(world.ms());
    };
}

void Rig::runOven(const std::vector<int> &readings, const std::function<void(qint64)> &then)
{
    answerLoads();
    onRunStart = [this, readings, then](qint64 t) {
        framesEverySecond(t, readings);
        if (then)
            then(t);
    };
    run([this] { from8031_Click(c); });
}

void Rig::frameAt(qint64 ms, int reading)
{
    world.at(ms, [this, reading] {
        const auto bytes = frame::encode(reading);
        line.arrive({bytes[0], bytes[1], bytes[2]});
    });
}

void Rig::framesEverySecond(qint64 startMs, const std::vector<int> &readings)
{
    for (std::size_t k = 0; k < readings.size(); ++k)
        if (readings[k] >= 0) // a negative entry is a silent second
            frameAt(startMs + 500 + 1000 * qint64(k), readings[k]);
}

std::vector<int> along(int seconds, const std::function<int(int)> &reading)
{
    std::vector<int> r;
    for (int k = 0; k < seconds; ++k)
        r.push_back(reading(k));
    return r;
}
