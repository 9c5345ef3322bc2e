#include "monitor.h"

#include "link/frame.h"
#include "link/port.h"
#include "link/protocol.h"
#include "link/serial_line.h"
#include "records/run_journal.h"
#include "state/chart.h"
#include "state/context.h"
#include "state/profile.h"

#include <QLocale>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace {

// Marks the monitor as present for as long as its frame is on the stack.
class MonitorPresence
{
public:
    explicit MonitorPresence(Context &c) : m_c(c) { m_c.monitorActive = true; }
    ~MonitorPresence()
    {
        m_c.monitorActive = false;
        m_c.restartMonitor = false;
    }
    MonitorPresence(const MonitorPresence &) = delete;
    MonitorPresence &operator=(const MonitorPresence &) = delete;

private:
    Context &m_c;
};

using FrameBook = Context::FrameBook;

void resetFrames(Context &c, bool synced)
{
    c.state.frameByte = 0;
    c.frames.synced = synced;
    c.frames.recentCount = 0;
}

void startUp(Context &c)
{
    SharedState &s = c.state;
    (void)ensurePortOpen(c); // a closed port is polled as silent; the operator was told
    c.runLine = {};
    c.runLine.live = true;
    s.runTicks = 0;
    c.services.form.chart().clear();
    c.services.Timer1.setInterval(1000);
    c.services.Timer1.setEnabled(true);
    s.runFlag = 0;
    chart::drawGrid(c.services.form.chart(), s.loopIndex);
    s.frameByte = 0;
    s.lastDrawnTemp = 0;
    resetFrames(c, true);
    c.frames.replacedInRow = 0;
    c.frames.overLimitTold = false;
    flushInput(c);
    journalRunBegins(c);
}

// While the run's port is gone: reopen it about once a second, and say once
// when it is back. The run clock and the samples go on meanwhile; the seconds
// without a line are seconds without a reading.
void watchOutage(Context &c)
{
    if (!c.runLine.outage)
        return;
    SerialLine &line = c.services.line;
    if (!line.isOpen()) {
        const qint64 second = c.services.clock.now().toSecsSinceEpoch();
        if (second == c.runLine.lastRetrySecond)
            return;
        c.runLine.lastRetrySecond = second;
        QString error;
        if (!reopenPort(c, error))
            return;
    }
    c.runLine.outage = false;
    // The first bytes on the new line may start inside a frame.
    resetFrames(c, false);
    c.services.messages.notify(
            MessageService::Topic::Line,
            QStringLiteral("The connection to the oven is back (%1); the run goes on.").arg(line.portName()),
            MessageService::Kind::Information);
}

// The spike filter and the 400 ℃ rule. The filter never locks: after three
// readings in a row were replaced, the next is taken and becomes the reference;
// a reading above 400 never becomes it.
void acceptReading(Context &c)
{
    SharedState &s = c.state;
    FrameBook &f = c.frames;
    const double received = s.curTemp;
    if (s.runTicks.leadingNumber() > 2 && std::fabs(s.prevTemp - s.curTemp) > 10 && f.replacedInRow < 3) {
        s.curTemp = s.prevTemp;
        ++f.replacedInRow;
    } else {
        f.replacedInRow = 0;
    }
    if (s.curTemp <= 400)
        s.prevTemp = s.curTemp;
    if (received <= 400)
        f.overLimitTold = false; // a series above 400 has ended
    if (s.curTemp > 400 && !f.overLimitTold) {
        f.overLimitTold = true; // told once a series, so that Stop stays in reach
        c.services.messages.show(QStringLiteral("Communication Error!"), MessageService::Kind::Warning);
    }
    s.frameByte = 0;
}

// The third byte checks the frame: (first + second) mod 256.
bool frameChecks(const std::array<int, 6> &recent, int end)
{
    return frame::check(recent[std::size_t(end - 3)], recent[std::size_t(end - 2)])
           == recent[std::size_t(end - 1)];
}

int readingOf(const std::array<int, 6> &recent, int end)
{
    return 256 * recent[std::size_t(end - 3)] + recent[std::size_t(end - 2)];
}

// Whether the three newest bytes are a frame to take. In step, any frame that
// checks. Out of step, one at or below 400 that checks, or one above 400 that
// checks twice in a row: bytes of a frame seen one place off can check too
// (0, 25, 25, 0, 25, 25 read as 25, 0, 25 gives 6400), but not both ways.
bool takeFrame(const FrameBook &f)
{
    const int n = f.recentCount;
    if (n < 3 || !frameChecks(f.recent, n))
        return false;
    if (f.synced || readingOf(f.recent, n) <= 400)
        return true;
    return n >= 6 && frameChecks(f.recent, n - 3);
}

void completeFrame(Context &c)
{
    SharedState &s = c.state;
    Form &form = c.services.form;
    showProfile(c);
    const double ticks = s.runTicks.leadingNumber();
    if (ticks < 2)
        chart::drawGrid(form.chart(), s.loopIndex);
    form.setText(Form::Field::Text7, plainNumber(s.curTemp));
    form.setText(Form::Field::Text8, plainNumber(ticks));
    if (SharedState::isSampleIndex(ticks))
        s.samples[std::size_t(ticks)] = s.curTemp;
    if (s.curTemp < 400) {
        chart::drawSegment(form.chart(), ticks, s.lastDrawnTemp, s.curTemp);
        chart::drawSegment(form.chart(), ticks, s.lastDrawnTemp, s.curTemp, 5);
        s.lastDrawnTemp = std::int16_t(s.curTemp);
    }
    journalReadingStored(c);
}

} // namespace

QString shortDateText(const QDateTime &now)
{
    static const QString format = QLocale::system().dateFormat(QLocale::ShortFormat);
    return QLocale::system().toString(now.date(), format);
}

QString timeText(const QDateTime &now)
{
    // The locale's long time form, with seconds, but without the time zone.
    static const QString format = [] {
        QString f = QLocale::system().timeFormat(QLocale::LongFormat);
        f.remove(QRegularExpression(QStringLiteral("\\s*\\bt+\\b")));
        return f.trimmed();
    }();
    return QLocale::system().toString(now.time(), format);
}

namespace {

// The readouts change once a second; the poll runs for every byte.
struct Readouts
{
    QDate day;
    QTime second;
    QString date;
    QString time;
    void update(const QDateTime &now)
    {
        // Compares the local date and time as held: no time-zone arithmetic.
        const QDate d = now.date();
        const QTime t = now.time();
        if (d == day && second.isValid() && t.hour() == second.hour() && t.minute() == second.minute()
            && t.second() == second.second())
            return;
        day = d;
        second = t;
        date = shortDateText(now);
        time = timeText(now);
    }
};

} // namespace

void monitorByte(Context &c, int b)
{
    SharedState &s = c.state;
    FrameBook &f = c.frames;
    s.runFlag = 1;
    if (f.recentCount == int(f.recent.size())) {
        std::copy(f.recent.begin() + 1, f.recent.end(), f.recent.begin());
        --f.recentCount;
    }
    f.recent[std::size_t(f.recentCount++)] = b;
    s.frameByte = std::int16_t(s.frameByte + 1);
    switch (s.frameByte) {
    case 1: s.curTemp = 256.0 * b; break;
    case 2: s.curTemp = s.curTemp + b; break;
    default:
        if (takeFrame(f)) {
            f.synced = true;
            acceptReading(c);
        } else {
            // Not a reading: look for the frame one byte further on.
            f.synced = false;
            const int n = f.recentCount;
            s.frameByte = 2;
            s.curTemp = n >= 2 ? 256.0 * f.recent[std::size_t(n - 2)] + f.recent[std::size_t(n - 1)] : 0;
        }
        break;
    }
    if (s.frameByte == 0)
        completeFrame(c);
}

void monitorLoop(Context &c)
{
    MonitorPresence presence(c);
    Readouts readouts;
    for (;;) {
        c.restartMonitor = false;
        startUp(c);
        while (!c.restartMonitor) {
            pumpEvents(c);
            if (c.restartMonitor)
                break;
            watchOutage(c);
            if (const std::optional<int> b = pollByte(c))
                monitorByte(c, *b);
            readouts.update(c.services.clock.now());
            c.services.form.setCaption(Form::Caption::Label5, readouts.date);
            if (c.services.Timer1.isEnabled())
                c.services.form.setCaption(Form::Caption::Label6, readouts.time);
        }
    }
}

void Timer1_Timer(Context &c)
{
    SharedState &s = c.state;
    if (s.runFlag.leadingNumber() == 1) {
        s.runTicks = s.runTicks.leadingNumber() + 1;
        journalSecondCounted(c);
    }
    if (s.runTicks.leadingNumber() > 500)
        c.services.Timer1.setEnabled(false);
}
