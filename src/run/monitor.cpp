#include "monitor.h"

#include "link/port.h"
#include "link/protocol.h"
#include "state/chart.h"
#include "state/context.h"
#include "state/profile.h"

#include <QLocale>
#include <QRegularExpression>

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

void startUp(Context &c)
{
    SharedState &s = c.state;
    (void)ensurePortOpen(c); // a closed port is polled as silent; the operator was told
    s.runTicks = 0;
    c.services.form.chart().clear();
    c.services.Timer1.setInterval(1000);
    c.services.Timer1.setEnabled(true);
    s.runFlag = 0;
    chart::drawGrid(c.services.form.chart(), s.loopIndex);
    s.frameByte = 0;
    s.lastDrawnTemp = 0;
    flushInput(c);
}

void acceptReading(Context &c)
{
    SharedState &s = c.state;
    if (s.runTicks.leadingNumber() > 2 && std::fabs(s.prevTemp - s.curTemp) > 10)
        s.curTemp = s.prevTemp;
    s.prevTemp = s.curTemp;
    if (s.curTemp > 400)
        c.services.messages.show(QStringLiteral("Communication Error!"), MessageService::Kind::Warning);
    s.frameByte = 0;
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
        if (d == day && second.isValid() && t.hour() == second.hour()
            && t.minute() == second.minute() && t.second() == second.second())
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
    s.frameByte = std::int16_t(s.frameByte + 1);
    switch (s.frameByte) {
    case 1:
        s.curTemp = 256.0 * b;
        break;
    case 2:
        s.curTemp = s.curTemp + b;
        break;
    default:
        acceptReading(c);
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
    if (s.runFlag.leadingNumber() == 1)
        s.runTicks = s.runTicks.leadingNumber() + 1;
    if (s.runTicks.leadingNumber() > 500)
        c.services.Timer1.setEnabled(false);
}
