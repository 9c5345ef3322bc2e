#include "monitor.h"

#include "link/frame_decoder.h"
#include "link/port.h"
#include "link/protocol.h"
#include "link/serial_line.h"
#include "records/run_journal.h"
#include "run_book.h"
#include "spike_filter.h"
#include "state/chart.h"
#include "state/context.h"
#include "state/profile.h"

#include <QLocale>
#include <QRegularExpression>

#include <cmath>

namespace {

// While the run is monitored and its line live, a fault of the line is the
// run's: the run goes on, and the monitor reconnects. A notice, so that it
// holds the monitor off nothing.
bool takeLineFault(Context &c, const QString &fault)
{
    RunBook::RunLine &line = runBook(c).runLine;
    if (!line.live)
        return false;
    line.outage = true;
    line.lastRetrySecond = -1;
    c.services.messages.notify(MessageService::Topic::Line,
                               QStringLiteral("The connection to the oven was lost: %1.\n\n"
                                              "The run goes on: what was recorded is kept, and the program "
                                              "reconnects as soon as the port is back. Stop Communicate ends "
                                              "the run.")
                                       .arg(fault),
                               MessageService::Kind::Error);
    return true;
}

// Marks the monitor as present for as long as its frame is on the stack, and
// takes the line's faults meanwhile.
class MonitorPresence
{
public:
    explicit MonitorPresence(Context &c) : m_c(c)
    {
        runBook(m_c).monitorActive = true;
        m_c.hooks.lineFault = [&c](const QString &fault) { return takeLineFault(c, fault); };
    }
    ~MonitorPresence()
    {
        m_c.hooks.lineFault = nullptr;
        runBook(m_c).monitorActive = false;
        runBook(m_c).restartMonitor = false;
    }
    MonitorPresence(const MonitorPresence &) = delete;
    MonitorPresence &operator=(const MonitorPresence &) = delete;

private:
    Context &m_c;
};

RunBook::FrameBook &frames(Context &c) { return runBook(c).frames; }

void startUp(Context &c)
{
    SharedState &s = c.state;
    (void)ensurePortOpen(c); // a closed port is polled as silent; the operator was told
    RunBook::RunLine &runLine = runBook(c).runLine;
    runLine = {};
    runLine.live = true;
    s.runTicks = 0;
    c.services.form.chart().clear();
    c.services.Timer1.setInterval(1000);
    c.services.Timer1.setEnabled(true);
    s.runFlag = 0;
    chart::drawGrid(c.services.form.chart(), s.loopIndex);
    s.frameByte = 0;
    s.lastDrawnTemp = 0;
    frames(c).decoder.reset();
    frames(c).filter.restart();
    flushInput(c);
    journalRunBegins(c);
}

// While the run's port is gone: reopen it about once a second, and say once
// when it is back. The run clock and the samples go on meanwhile; the seconds
// without a line are seconds without a reading.
void watchOutage(Context &c)
{
    RunBook::RunLine &runLine = runBook(c).runLine;
    if (!runLine.outage)
        return;
    SerialLine &line = c.services.line;
    if (!line.isOpen()) {
        const qint64 second = c.services.clock.now().toSecsSinceEpoch();
        if (second == runLine.lastRetrySecond)
            return;
        runLine.lastRetrySecond = second;
        if (!reopenPort(c))
            return;
    }
    runLine.outage = false;
    // The new line starts afresh, judged by the readings before the outage.
    frames(c).decoder.restart();
    c.state.frameByte = 0;
    c.services.messages.notify(
            MessageService::Topic::Line,
            QStringLiteral("The connection to the oven is back (%1); the run goes on.").arg(line.portName()),
            MessageService::Kind::Information);
}

// Reading acceptance: the spike filter, and "Communication Error!" for the
// first reading above the oven's range of a series, as a notice, so that the
// run goes on recording and drawing behind it.
void acceptReading(Context &c)
{
    SharedState &s = c.state;
    const SpikeFilter::Verdict verdict = frames(c).filter.take(s.prevTemp, s.curTemp,
                                                               s.runTicks.leadingNumber());
    s.curTemp = verdict.value;
    if (verdict.tellAboveLimit)
        c.services.messages.notify(MessageService::Topic::Reading, QStringLiteral("Communication Error!"),
                                   MessageService::Kind::Warning);
    s.frameByte = 0;
}

// While the run clock is below this, every frame draws the grid again over
// the curve.
constexpr double kGridSeconds = 2;
// The second stroke of each segment lies this many twips below the first.
constexpr int kSecondStroke = 5;

void completeFrame(Context &c)
{
    SharedState &s = c.state;
    Form &form = c.services.form;
    showProfile(c);
    const double ticks = s.runTicks.leadingNumber();
    if (ticks < kGridSeconds)
        chart::drawGrid(form.chart(), s.loopIndex);
    form.setText(Form::Field::Text7, plainNumber(s.curTemp));
    form.setText(Form::Field::Text8, plainNumber(ticks));
    if (SharedState::isSampleIndex(ticks))
        s.samples[std::size_t(ticks)] = s.curTemp;
    if (s.curTemp < frame::kMaxReading) { // 400 itself is shown and stored, not drawn
        chart::drawSegment(form.chart(), ticks, s.lastDrawnTemp, s.curTemp);
        chart::drawSegment(form.chart(), ticks, s.lastDrawnTemp, s.curTemp, kSecondStroke);
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
    s.runFlag = 1;
    const frame::Decoder::Step step = frames(c).decoder.feed(std::uint8_t(b));
    s.frameByte = std::int16_t(frames(c).decoder.position());
    if (!step.reading)
        return;
    s.curTemp = *step.reading;
    acceptReading(c);
    completeFrame(c);
}

void monitorLoop(Context &c)
{
    MonitorPresence presence(c);
    RunBook &book = runBook(c);
    Readouts readouts;
    const SharedState &s = c.state;
    for (;;) {
        book.restartMonitor = false;
        startUp(c);
        while (!book.restartMonitor) {
            pumpEvents(c);
            if (book.restartMonitor)
                break;
            if (book.runLine.outage && SharedState::isSampleIndex(s.runTicks.leadingNumber()))
                book.runLine.downSeconds.set(std::size_t(s.runTicks.leadingNumber()));
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
