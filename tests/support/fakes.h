#pragma once

#include "link/serial_line.h"
#include "report/page_device.h"
#include "report/print_surface.h"
#include "state/chart.h"
#include "state/context.h"

#include <QDateTime>
#include <QStringList>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <vector>

// Thrown by the scripted pump when nothing more can happen: the program would
// sleep for good. Ends a scenario.
struct ScriptEnded
{};
// Thrown by the fake terminator: the program ended.
struct ProgramEnded
{};

class FakeLine;

// Virtual time: scripted events and timer ticks happen when the program pumps
// events, and time jumps to the next thing that happens, so whole runs take
// no real time.
class FakeWorld : public EventPump, public Clock
{
public:
    void at(qint64 ms, std::function<void()> action)
    {
        m_events.emplace(std::max(ms, m_now), std::move(action));
    }
    void after(qint64 ms, std::function<void()> action) { at(m_now + ms, std::move(action)); }

    void pumpEvents() override;
    [[nodiscard]] QDateTime now() const override { return timeAt(m_now); }
    [[nodiscard]] QDateTime timeAt(qint64 ms) const { return m_epoch.addMSecs(ms); }
    [[nodiscard]] qint64 ms() const { return m_now; }
    void setEpoch(const QDateTime &epoch) { m_epoch = epoch; }

    long long pumps = 0;
    qint64 endMs = -1; // where set, the scenario ends when time would pass it
    int depth = 0; // pump calls on the stack now
    int maxDepth = 0; // the most there ever were
    long long maxPumps = 50'000'000; // a scenario that loops beyond this is a bug
    FakeLine *line = nullptr;

    class FakeTimer;
    void addTimer(FakeTimer *t) { m_timers.push_back(t); }

private:
    bool runDue();
    std::multimap<qint64, std::function<void()>> m_events;
    std::vector<FakeTimer *> m_timers;
    qint64 m_now = 0;
    QDateTime m_epoch = QDateTime(QDate(2024, 5, 9), QTime(14, 3, 27));
};

class FakeWorld::FakeTimer : public Timer
{
public:
    FakeTimer(FakeWorld &world, std::function<void()> onTick);
    void setInterval(int ms) override;
    [[nodiscard]] int interval() const override { return m_interval; }
    void setEnabled(bool enabled) override;
    [[nodiscard]] bool isEnabled() const override { return m_enabled; }

    [[nodiscard]] bool due(qint64 now) const { return m_enabled && m_interval > 0 && m_next <= now; }
    [[nodiscard]] qint64 next() const { return m_next; }
    void onTickCall(std::function<void()> tick) override { onTick = std::move(tick); }
    void fire();
    std::function<void()> onTick;
    int ticks = 0;

private:
    FakeWorld &m_world;
    int m_interval = 0;
    bool m_enabled = false;
    qint64 m_next = 0;
};
using FakeTimer = FakeWorld::FakeTimer;

// A serial line that behaves like the real one with a one-byte receive buffer:
// the system queue holds what arrived, and each pump moves one byte into the
// buffer where the program can count and read it.
class FakeLine : public SerialLine
{
public:
    [[nodiscard]] bool isOpen() const override { return m_open; }
    void setPortNumber(int port) override;
    void setSettings(const QString &settings) override { log << QStringLiteral("settings ") + settings; }
    void setRawInput() override { log << QStringLiteral("raw"); }
    void setReadLength(int length) override { log << QStringLiteral("readLength %1").arg(length); }
    void setReceiveBufferSize(int bytes) override { log << QStringLiteral("buffer %1").arg(bytes); }
    void discardReceived() override;
    void discardUnsent() override { log << QStringLiteral("discardUnsent"); }
    Status open() override;
    void close() override;
    [[nodiscard]] int bytesWaiting() override { return m_open ? int(m_buffer.size()) : 0; }
    QByteArray readAll() override { return std::exchange(m_buffer, QByteArray()); }
    bool write(const QByteArray &bytes) override;
    [[nodiscard]] QString portName() const override { return QStringLiteral("port%1").arg(m_port); }

    // The port fails: at the next pump it closes and the fault handler is told,
    // as the real line does.
    void fail(const QString &cause) { m_fault = cause; }
    // The cable is pulled: the port fails, and cannot be opened until replug().
    void unplug();
    void replug() { openError.clear(); }

    // The controller sends bytes; lost while the port is closed.
    void arrive(const QByteArray &bytes);
    void arrive(std::initializer_list<int> bytes);
    // One byte moves from the system's queue into the buffer, as a notifier would.
    bool deliver();
    // A pending fault closes the port and is told, as the real line's error
    // notification does; false when there was none.
    bool deliverFault();

    std::vector<int> sent; // every byte written, in order
    std::vector<qint64> sentAt; // virtual time of each
    std::vector<int> sentOnPort; // the port each went out on
    QStringList log; // the port operations, in order
    QString openError; // set: open fails with it
    int failWritesAfter = -1; // set: writes fail after this many more
    std::function<void(int)> onSent; // the controller's side
    FakeWorld *world = nullptr;
    int opens = 0;

private:
    bool m_open = false;
    int m_port = 1;
    QString m_fault; // failed, not yet told
    std::deque<char> m_queue;
    QByteArray m_buffer;
};

class FakeMessages : public MessageService
{
public:
    void show(const QString &text, Kind kind) override;
    void notify(Topic topic, const QString &text, Kind kind) override;
    QStringList texts;
    // Notices, which return at once: each with its topic and virtual time.
    QStringList notices;
    std::vector<Topic> noticeTopics;
    std::vector<qint64> noticeAt;
    FakeWorld *world = nullptr;
    // Runs while the box is open (the operator's time in front of it).
    std::function<void(const QString &)> whileOpen;
};

class FakeFiles : public FileDialog
{
public:
    QString openFileName(const QString &filter, int selected) override;
    QString saveFileName(const QString &filter, int selected) override
    {
        return openFileName(filter, selected);
    }
    QStringList answers; // taken in order; empty text = cancelled
    QString lastFilter;
    int lastSelected = 0;
    int shown = 0;
};

class FakeTerminator : public Terminator
{
public:
    [[noreturn]] void terminate() override { throw ProgramEnded{}; }
};

// Records every printer operation.
class RecordingPage : public PrintSurface
{
public:
    struct Op
    {
        enum Kind { Font, Text, Width, Line, Point } kind;
        float x1 = 0, y1 = 0, x2 = 0, y2 = 0;
        double size = 0;
        QString text;
    };
    void setFontSize(double points) override { ops.push_back({Op::Font, 0, 0, 0, 0, points, {}}); }
    void text(float x, float y, const QString &t) override { ops.push_back({Op::Text, x, y, 0, 0, 0, t}); }
    void setLineWidth(int px) override { ops.push_back({Op::Width, 0, 0, 0, 0, double(px), {}}); }
    void line(float x1, float y1, float x2, float y2) override
    {
        ops.push_back({Op::Line, x1, y1, x2, y2, 0, {}});
    }
    void point(float x, float y) override { ops.push_back({Op::Point, x, y, 0, 0, 0, {}}); }
    std::vector<Op> ops;
    [[nodiscard]] std::vector<Op> of(Op::Kind kind) const;
};

// Makes the page on the spot.
class FakePrinter : public PrinterService, public PageDevice
{
public:
    void print(Drawing draw, Teller tell) override { ImmediatePrinter::printOnTheSpot(*this, draw, tell); }
    Outcome<PrintSurface *> beginDocument() override;
    Status endDocument() override;
    QString beginError; // set: no printer
    QString endError; // set: the printer fails at the end
    int documents = 0;
    std::unique_ptr<RecordingPage> page;
};

// Keeps the image and also counts the curve's strokes.
class CountingChart : public ChartSurface
{
public:
    CountingChart() : image(7440, 4476) {}
    void clear() override
    {
        image.clear();
        ++clears;
    }
    void drawLine(float x1, float y1, float x2, float y2, QColor colour) override
    {
        image.drawLine(x1, y1, x2, y2, colour);
        if (colour == chart::kCurveColour)
            strokes.push_back({x1, y1, x2, y2});
        else
            ++gridLines;
    }
    RetainedChart image;
    std::vector<std::array<float, 4>> strokes;
    int gridLines = 0;
    int clears = 0;
};

class FakeForm : public Form
{
public:
    [[nodiscard]] QString text(Field field) const override { return fields[std::size_t(field) - 1]; }
    void setText(Field field, const QString &text) override;
    void setCaption(Caption label, const QString &text) override { captions[int(label)] = text; }
    [[nodiscard]] QString caption(Caption label) const override { return captions[int(label)]; }
    [[nodiscard]] bool com1Selected() const override { return com1; }
    [[nodiscard]] bool com2Selected() const override { return com2; }
    void setPortPanelVisible(bool visible) override { panelVisible = visible; }
    [[nodiscard]] ChartSurface &chart() override { return drawing; }
    [[nodiscard]] RetainedChart &image() { return drawing.image; }
    void setFieldChanged(std::function<void(int)> handler) override { onChange = std::move(handler); }

    // The operator types a whole text into field n (1..8).
    void type(int n, const QString &text) { setText(Form::Field(n), text); }
    // ... and the six texts of a profile into fields 1..6.
    void typeProfile(const QStringList &texts);
    [[nodiscard]] QStringList profile() const { return {fields, fields + 6}; }

    QString fields[8];
    QString captions[2];
    bool com1 = true;
    bool com2 = false;
    bool panelVisible = true;
    std::function<void(int)> onChange;
    std::vector<int> changes; // field numbers, in order
    CountingChart drawing;
};

// Everything one program life needs, scripted, with start-up done.
struct Rig
{
    Rig();
    FakeForm form;
    FakeWorld world;
    FakeLine line;
    FakeTimer timer1{world, {}};
    FakeTimer timer3{world, {}};
    FakeMessages messages;
    FakeFiles files;
    FakePrinter printer;
    FakeTerminator terminator;
    Context c;

    // The profile the scripted controller holds unless a test says otherwise:
    // the slot bytes of 150 60 230 90 220 40.
    static constexpr std::array<int, 6> kProfile{150, 60, 130, 90, 120, 40};
    // The fields' texts of that profile.
    static inline const QStringList kProfileTexts{"150", "60", "230", "90", "220", "40"};

    // Runs a command until it returns or nothing more can happen; true when it
    // returned.
    bool run(const std::function<void()> &command);
    // A controller that answers read requests 1..6 with these slot bytes.
    void answerLoads(std::array<int, 6> answers = kProfile, qint64 delayMs = 5);
    // Called when the program sends the start byte, with the virtual time.
    std::function<void(qint64)> onRunStart;
    // A Run on a controller that answers the Load with kProfile and then sends
    // readings as framesEverySecond does; `then` schedules the rest of the
    // scenario from the start byte's time on.
    void runOven(const std::vector<int> &readings, const std::function<void(qint64)> &then = {});
    // Sends readings one a second from startMs on (the first second's frame
    // half a second in, so that the frame of second k lands while the clock
    // reads k); a negative one is a silent second.
    void framesEverySecond(qint64 startMs, const std::vector<int> &readings);
    // Sends one reading frame (high, low, check) at virtual time ms.
    void frameAt(qint64 ms, int reading);
    [[nodiscard]] double sample(int k) const { return c.state.samples[std::size_t(k)].leadingNumber(); }
};

// Readings of `seconds` seconds, reading(k) in second k.
std::vector<int> along(int seconds, const std::function<int(int)> &reading);
