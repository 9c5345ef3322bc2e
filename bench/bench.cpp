// Benchmarks of the operator program: processor use while monitoring at the
// full line rate (and with a busy poll for reference), bytes lost or
// reordered, latency from the wire to the chart, start-up and memory beside a
// bare Qt window, the times of Open and Print, and orvalen-record analyze.
//
//   orvalen-bench all [--seconds N] [--json FILE]   every case, as a table
//   orvalen-bench <case> ...                        one case, one JSON line
#include "link/load.h"
#include "link/port.h"
#include "link/qt_serial_line.h"
#include "records/record_file.h"
#include "report/pdf_printer.h"
#include "report/report.h"
#include "run/monitor.h"
#include "run/run_stop.h"
#include "state/profile.h"
#include "ui/program.h"
#include "ui/qt_platform.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <atomic>
#include <cstdio>
#include <thread>

namespace {

qint64 monoNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

double threadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

long peakKb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

[[noreturn]] void report(const QJsonObject &result)
{
    std::printf("%s\n", QJsonDocument(result).toJson(QJsonDocument::Compact).constData());
    std::fflush(stdout);
    std::_Exit(0);
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, std::size_t(p * double(v.size() - 1) + 0.5))];
}

// The byte the feeder sends i-th: frames of readings 20..269 with their check byte.
std::uint8_t feedByte(std::size_t i)
{
    const int reading = 20 + int((i / 3) % 250);
    const auto high = std::uint8_t(reading >> 8);
    const auto low = std::uint8_t(reading & 0xff);
    switch (i % 3) {
    case 0: return high;
    case 1: return low;
    default: return std::uint8_t(high + low);
    }
}

struct Pty
{
    int master = -1;
    int slave = -1;
    QString path;
    Pty()
    {
        char name[256] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
            return;
        termios tio{};
        tcgetattr(master, &tio);
        cfmakeraw(&tio);
        tcsetattr(master, TCSANOW, &tio);
        path = QString::fromLocal8Bit(name);
    }
};

// The monitor's window, without widgets: fields, captions and the retained
// chart image, which notes the moment each reading's second stroke is drawn.
class BenchForm : public Form, public ChartSurface
{
public:
    BenchForm() : m_image(7440, 4476) {}
    QString text(Field f) const override { return m_fields[std::size_t(f) - 1]; }
    void setText(Field f, const QString &t) override
    {
        m_fields[std::size_t(f) - 1] = t;
        if (onChange)
            onChange(int(f));
    }
    void setCaption(Caption c, const QString &t) override { m_captions[int(c)] = t; }
    QString caption(Caption c) const override { return m_captions[int(c)]; }
    bool com1Selected() const override { return true; }
    bool com2Selected() const override { return false; }
    void setPortPanelVisible(bool) override {}
    ChartSurface &chart() override { return *this; }
    void clear() override { m_image.clear(); }
    void drawLine(float x1, float y1, float x2, float y2, QColor colour) override
    {
        m_image.drawLine(x1, y1, x2, y2, colour);
        if (colour == chart::kCurveColour && ++m_strokes % 2 == 0)
            drawnAt.push_back(monoNs());
    }
    std::function<void(int)> onChange;
    std::vector<qint64> drawnAt;

private:
    RetainedChart m_image;
    QString m_fields[8];
    QString m_captions[2];
    long m_strokes = 0;
};

// Keeps every byte the program reads, to count what was lost or reordered.
class RecordingLine : public QtSerialLine
{
public:
    using QtSerialLine::QtSerialLine;
    QByteArray readAll() override
    {
        const QByteArray bytes = QtSerialLine::readAll();
        received += bytes;
        return bytes;
    }
    QByteArray received;
};

// The naive reading of "poll without sleeping": processes events and returns
// at once, whether anything happened or not.
class BusyPump : public EventPump
{
public:
    void pumpEvents() override { QCoreApplication::processEvents(); }
};

class CountingMessages : public MessageService
{
public:
    void show(const QString &, Kind) override { ++shown; }
    void notify(Topic, const QString &, Kind) override { ++shown; }
    int shown = 0;
};

class NoFiles : public FileDialog
{
public:
    QString openFileName(const QString &, int) override { return answer; }
    QString saveFileName(const QString &, int) override { return answer; }
    QString answer;
};

class ExitNow : public Terminator
{
public:
    [[noreturn]] void terminate() override { std::_Exit(0); }
};

// The program's context over a real serial line, with the window's widgets
// left out.
struct Bench
{
    explicit Bench(const QString &port, bool busy)
        : line(port),
          timer1([this] { Timer1_Timer(*c); }),
          timer3([this] { Timer3_Timer(*c); }),
          printer(QDir::temp().filePath(QStringLiteral("orvalen-bench-report.pdf")))
    {
        EventPump &p = busy ? static_cast<EventPump &>(busyPump) : static_cast<EventPump &>(pump);
        c = std::make_unique<Context>(Services{form, line, p, timer1, timer3, messages, files,
                                               printer, clock, terminator});
        form.onChange = [this](int f) { profileFieldChanged(*c, f); };
    }
    BenchForm form;
    RecordingLine line;
    QtEventPump pump;
    BusyPump busyPump;
    QtTimer timer1;
    QtTimer timer3;
    CountingMessages messages;
    NoFiles files;
    PdfPrinter printer;
    SystemClock clock;
    ExitNow terminator;
    std::unique_ptr<Context> c;
};

// Monitors a run fed at the given rate for the given seconds; bursts of
// burstBytes written at once every second instead, where set.
int monitorCase(const QString &name, double seconds, bool busy, int burstBytes)
{
    Pty pty;
    if (pty.master < 0)
        return 1;
    Bench b(pty.path, busy);
    if (!ensurePortOpen(*b.c))
        return 1;
    std::atomic<bool> stop{false};
    std::atomic<std::size_t> written{0};
    const std::size_t maxFrames = std::size_t(seconds * 80 + 20000);
    std::vector<qint64> frameSentAt(maxFrames, 0);
    double cpuStart = 0;
    qint64 wallStart = 0;
    std::thread feeder;

    QTimer::singleShot(200, [&] { // after the monitor's start-up has flushed the line
        cpuStart = threadCpuSeconds();
        wallStart = monoNs();
        feeder = std::thread([&] {
            timespec next{};
            clock_gettime(CLOCK_MONOTONIC, &next);
            std::size_t i = 0;
            const long periodNs = burstBytes > 0 ? 1'000'000'000L : 1'000'000'000L / 240;
            while (!stop) {
                const std::size_t n = burstBytes > 0 ? std::size_t(burstBytes) : 1;
                std::vector<std::uint8_t> chunk;
                for (std::size_t k = 0; k < n; ++k)
                    chunk.push_back(feedByte(i + k));
                std::size_t done = 0;
                while (done < chunk.size()) {
                    const ssize_t w = ::write(pty.master, chunk.data() + done, chunk.size() - done);
                    if (w > 0)
                        done += std::size_t(w);
                    else
                        usleep(200);
                }
                const qint64 t = monoNs();
                for (std::size_t k = i; k < i + n; ++k)
                    if (k % 3 == 2 && k / 3 < frameSentAt.size())
                        frameSentAt[k / 3] = t;
                i += n;
                written = i;
                next.tv_nsec += periodNs;
                while (next.tv_nsec >= 1'000'000'000L) {
                    next.tv_nsec -= 1'000'000'000L;
                    ++next.tv_sec;
                }
                clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
            }
        });
    });
    QTimer::singleShot(200 + int(seconds * 1000), [&] { stop = true; });
    QTimer::singleShot(200 + int(seconds * 1000) + 500, [&] {
        const double cpu = threadCpuSeconds() - cpuStart;
        const double wall = double(monoNs() - wallStart) / 1e9;
        feeder.join();
        if (b.line.bytesWaiting() > 0) // one may sit in the buffer behind this very event
            (void)b.line.readAll();
        const QByteArray &got = b.line.received;
        const std::size_t sent = written;
        std::size_t reordered = 0;
        for (std::size_t k = 0; k < std::size_t(got.size()); ++k)
            if (std::uint8_t(got[qsizetype(k)]) != feedByte(k))
                ++reordered;
        std::vector<double> latencyMs;
        const std::size_t frames = std::min(b.form.drawnAt.size(), sent / 3);
        for (std::size_t f = 0; f < frames; ++f)
            if (frameSentAt[f] > 0)
                latencyMs.push_back(double(b.form.drawnAt[f] - frameSentAt[f]) / 1e6);
        QJsonObject r{{"case", name},
                      {"seconds", wall},
                      {"cpu_seconds", cpu},
                      {"cpu_percent", 100.0 * cpu / wall},
                      {"bytes_sent", double(sent)},
                      {"bytes_received", double(got.size())},
                      {"bytes_lost", double(sent) - double(got.size())},
                      {"bytes_out_of_order", double(reordered)},
                      {"latency_median_ms", percentile(latencyMs, 0.5)},
                      {"latency_p99_ms", percentile(latencyMs, 0.99)},
                      {"messages", b.messages.shown}};
        report(r);
    });
    monitorLoop(*b.c); // never returns: the timers above end the process
    return 1;
}

int silentCase(double seconds)
{
    Pty pty;
    Bench b(pty.path, false);
    double cpuStart = threadCpuSeconds();
    const qint64 wallStart = monoNs();
    QTimer::singleShot(int(seconds * 1000), [&] {
        const double cpu = threadCpuSeconds() - cpuStart;
        const double wall = double(monoNs() - wallStart) / 1e9;
        report(QJsonObject{{"case", "silent"}, {"seconds", wall}, {"cpu_seconds", cpu},
                           {"cpu_percent", 100.0 * cpu / wall}});
    });
    getcanshu_Click(*b.c); // waits for an answer that never comes
    return 1;
}

int startupCase(const QString &name, qint64 parentStart, bool floor)
{
    std::unique_ptr<Program> program;
    std::unique_ptr<QWidget> bare;
    struct FirstPaint : QObject
    {
        qint64 at = 0;
        bool eventFilter(QObject *, QEvent *e) override
        {
            if (e->type() == QEvent::Paint && at == 0)
                at = monoNs();
            return false;
        }
    } firstPaint;
    qApp->installEventFilter(&firstPaint);
    if (floor) {
        bare = std::make_unique<QWidget>();
        bare->resize(689, 370);
        for (int i = 0; i < 8; ++i) {
            auto *edit = new QLineEdit(bare.get());
            edit->setGeometry(634, 46 + 24 * i, 43, 17);
        }
        bare->show();
    } else {
        program = std::make_unique<Program>(Program::Options{});
        program->show();
    }
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (firstPaint.at == 0)
            return;
        QTimer::singleShot(300, [&] { // let the first frame settle before reading the peak
            report(QJsonObject{{"case", name},
                               {"startup_seconds", double(firstPaint.at - parentStart) / 1e9},
                               {"peak_mb", double(peakKb()) / 1024.0}});
        });
        poll.stop();
    });
    poll.start(5);
    return qApp->exec();
}

int openAndPrintCase()
{
    Pty pty;
    Bench b(pty.path, false);
    SharedState &s = b.c->state;
    s.runStamp = {2024, 5, 9, 14, 3, 27};
    s.runTicks = 501;
    for (int k = 0; k <= 510; ++k)
        s.samples[std::size_t(k)] = 25 + (k % 250);
    for (int i = 1; i <= 3; ++i) {
        s.stageTemp[std::size_t(i)] = QString::number(100 + 50 * i);
        s.stageTime[std::size_t(i)] = QStringLiteral("60");
    }
    QTemporaryDir dir;
    QString error;
    const QString record = dir.filePath(QStringLiteral("run.dbf"));
    {
        QFile f(record);
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        f.write(recordBytes(s, error));
    }
    b.files.answer = record;
    std::vector<double> openMs;
    for (int i = 0; i < 20; ++i) {
        QElapsedTimer t;
        t.start();
        openfile_Click(*b.c);
        openMs.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::vector<double> printMs;
    for (int i = 0; i < 5; ++i) {
        QElapsedTimer t;
        t.start();
        printpaper_Click(*b.c);
        printMs.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    report(QJsonObject{{"case", "open_print"},
                       {"open_draw_ms", percentile(openMs, 0.5)},
                       {"print_pdf_ms", percentile(printMs, 0.5)},
                       {"messages", b.messages.shown}});
}

// orvalen-record analyze over many records of 501 samples, beside reading the
// same files line by line with the record reader alone.
int recordAnalyzeCase(int records)
{
    QTemporaryDir dir;
    QStringList names;
    for (int r = 0; r < records; ++r) {
        QByteArray bytes = " 2024 \r\n 5 \r\n 9 \r\n 14 \r\n 3 \r\n 27 \r\n 501 \r\n150\r\n60\r\n230\r\n90\r\n220\r\n40\r\n";
        for (int t = 0; t < 501; ++t) {
            const double v = t < 250 ? 25 + t * (0.9 + r % 7 * 0.01) : 250 - (t - 250) * 0.8;
            bytes += printNumber(std::round(v * 10) / 10).toLatin1() + "\r\n";
        }
        names << QStringLiteral("r%1.dbf").arg(r, 5, 10, QLatin1Char('0'));
        QFile f(dir.filePath(names.back()));
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            return 1;
    }
    QElapsedTimer t;
    t.start();
    long lines = 0;
    for (const QString &name : names) {
        QFile f(dir.filePath(name));
        if (!f.open(QIODevice::ReadOnly))
            return 1;
        RecordLineReader reader(f);
        QString line;
        while (reader.next(line) == RecordLineReader::Result::Line)
            ++lines;
    }
    const double readSeconds = double(t.nsecsElapsed()) / 1e9;
    QProcess p;
    p.setWorkingDirectory(dir.path());
    p.setStandardOutputFile(QProcess::nullDevice());
    t.restart();
    p.start(QStringLiteral(ORVALEN_RECORD), QStringList{QStringLiteral("analyze"), QStringLiteral("--json")} + names);
    const bool done = p.waitForFinished(600'000);
    const double analyzeSeconds = double(t.nsecsElapsed()) / 1e9;
    report(QJsonObject{{"case", "record-analyze"},
                       {"records", records},
                       {"lines_read", double(lines)},
                       {"read_seconds", readSeconds},
                       {"analyze_seconds", done && p.exitStatus() == QProcess::NormalExit ? analyzeSeconds : -1},
                       {"analyze_exit", p.exitCode()}});
}

QJsonObject runChild(const QStringList &args, int timeoutMs)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::SeparateChannels);
    QStringList full = args;
    if (args.value(0).startsWith(u"startup"))
        full << QStringLiteral("--t0") << QString::number(monoNs());
    p.start(QCoreApplication::applicationFilePath(), full);
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        return QJsonObject{{"case", args.value(0)}, {"error", "timed out"}};
    }
    const QList<QByteArray> lines = p.readAllStandardOutput().trimmed().split('\n');
    const QJsonObject r = QJsonDocument::fromJson(lines.value(lines.size() - 1)).object();
    return r.isEmpty() ? QJsonObject{{"case", args.value(0)}, {"error", "no result"}} : r;
}

int allCases(double seconds, const QString &jsonFile)
{
    const int slack = int(seconds * 1000) + 30'000;
    const QString s = QString::number(seconds);
    QJsonObject shipped = runChild({"line-rate", s}, slack);
    QJsonObject busy = runChild({"busy-poll", s}, slack);
    QJsonObject burst = runChild({"bursts", QString::number(std::max(3.0, seconds / 10))}, slack);
    QJsonObject silent = runChild({"silent", QString::number(std::max(2.0, seconds / 6))}, slack);
    // Start-up: the median of five starts each.
    auto median = [&](const char *c) {
        std::vector<double> t, m;
        for (int i = 0; i < 5; ++i) {
            const QJsonObject r = runChild({c}, 30'000);
            t.push_back(r.value("startup_seconds").toDouble(-1));
            m.push_back(r.value("peak_mb").toDouble(-1));
        }
        return QJsonObject{{"case", c}, {"startup_seconds", percentile(t, 0.5)}, {"peak_mb", percentile(m, 0.5)}};
    };
    QJsonObject program = median("startup");
    QJsonObject floor = median("startup-floor");
    QJsonObject openPrint = runChild({"open-print"}, 60'000);
    // Ten thousand records in a full run; a tenth of that in a short look.
    const int records = seconds >= 10 ? 10'000 : 1'000;
    QJsonObject analyze = runChild({"record-analyze", QString::number(records)}, 600'000);

    const double cpu = shipped.value("cpu_percent").toDouble(-1);
    const double busyCpu = busy.value("cpu_percent").toDouble(-1);
    const double ratio = cpu > 0 ? busyCpu / cpu : -1;
    struct Row { QString what; double value; QString unit; QString reference; bool ok; };
    const double startT = program.value("startup_seconds").toDouble(-1);
    const double floorT = floor.value("startup_seconds").toDouble(-1);
    const double mem = program.value("peak_mb").toDouble(-1);
    const double floorMem = floor.value("peak_mb").toDouble(-1);
    const std::vector<Row> rows{
        {"CPU at line rate (240 B/s)", cpu, "% of a core", "<= 2", cpu >= 0 && cpu <= 2},
        {"CPU, busy poll, same feed", busyCpu, "% of a core", "reference", true},
        {"busy poll / shipped waits", ratio, "x", ">= 30", ratio >= 30},
        {"CPU waiting, silent controller", silent.value("cpu_percent").toDouble(-1), "% of a core", "near 0 (<= 0.5)",
         silent.value("cpu_percent").toDouble(-1) <= 0.5},
        {"bytes lost at line rate", shipped.value("bytes_lost").toDouble(-1), "bytes", "0", shipped.value("bytes_lost").toDouble(-1) == 0},
        {"bytes out of order at line rate", shipped.value("bytes_out_of_order").toDouble(-1), "bytes", "0", shipped.value("bytes_out_of_order").toDouble(-1) == 0},
        {"bytes lost, 3000-byte bursts", burst.value("bytes_lost").toDouble(-1), "bytes", "0", burst.value("bytes_lost").toDouble(-1) == 0},
        {"bytes out of order, bursts", burst.value("bytes_out_of_order").toDouble(-1), "bytes", "0", burst.value("bytes_out_of_order").toDouble(-1) == 0},
        {"latency wire to chart, median", shipped.value("latency_median_ms").toDouble(-1), "ms", "", true},
        {"latency wire to chart, p99", shipped.value("latency_p99_ms").toDouble(-1), "ms", "< 4.2", shipped.value("latency_p99_ms").toDouble(99) < 4.2},
        {"start-up to first paint", startT, "s", QStringLiteral("< 0.2, <= 3 x floor %1").arg(floorT, 0, 'f', 3), startT < 0.2 && startT <= 3 * floorT},
        {"peak memory", mem, "MB", QStringLiteral("< 50, <= 1.5 x floor %1").arg(floorMem, 0, 'f', 1), mem < 50 && mem <= 1.5 * floorMem},
        {"Open and draw, 501 samples", openPrint.value("open_draw_ms").toDouble(-1), "ms", "", true},
        {"Print to PDF", openPrint.value("print_pdf_ms").toDouble(-1), "ms", "", true},
        {QStringLiteral("orvalen-record analyze, %1 records").arg(records), analyze.value("analyze_seconds").toDouble(-1), "s",
         records == 10'000 ? "well under 2" : "", analyze.value("analyze_seconds").toDouble(-1) >= 0
             && (records != 10'000 || analyze.value("analyze_seconds").toDouble(-1) < 2)},
        {QStringLiteral("record reader alone, same files"), analyze.value("read_seconds").toDouble(-1), "s", "reference", true},
    };
    std::printf("%-34s %12s  %-12s %-28s %s\n", "measure", "value", "unit", "target / reference", "");
    QJsonArray table;
    for (const Row &r : rows) {
        std::printf("%-34s %12.3f  %-12s %-28s %s\n", qPrintable(r.what), r.value, qPrintable(r.unit),
                    qPrintable(r.reference), r.ok ? "ok" : "MISSED");
        table.append(QJsonObject{{"measure", r.what}, {"value", r.value}, {"unit", r.unit},
                                 {"target", r.reference}, {"ok", r.ok}});
    }
    const QJsonObject all{{"seconds", seconds},
                          {"table", table},
                          {"raw", QJsonArray{shipped, busy, burst, silent, program, floor, openPrint, analyze}}};
    if (!jsonFile.isEmpty()) {
        QFile f(jsonFile);
        if (f.open(QIODevice::WriteOnly))
            f.write(QJsonDocument(all).toJson());
        std::printf("written: %s\n", qPrintable(jsonFile));
    }
    for (const QJsonValue &v : all.value("raw").toArray())
        if (v.toObject().contains("error"))
            return 1;
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString mode = args.value(1);
    auto option = [&](const QString &name, const QString &fallback) {
        const qsizetype i = args.indexOf(name);
        return i >= 0 && i + 1 < args.size() ? args[i + 1] : fallback;
    };
    const qint64 t0 = option(QStringLiteral("--t0"), QStringLiteral("0")).toLongLong();
    if (mode == u"all")
        return allCases(option(QStringLiteral("--seconds"), QStringLiteral("60")).toDouble(),
                        option(QStringLiteral("--json"), QString()));
    if (mode == u"line-rate")
        return monitorCase(mode, args.value(2).toDouble(), false, 0);
    if (mode == u"busy-poll")
        return monitorCase(mode, args.value(2).toDouble(), true, 0);
    if (mode == u"bursts")
        return monitorCase(mode, args.value(2).toDouble(), false, 3000);
    if (mode == u"silent")
        return silentCase(args.value(2).toDouble());
    if (mode == u"startup")
        return startupCase(mode, t0, false);
    if (mode == u"startup-floor")
        return startupCase(mode, t0, true);
    if (mode == u"open-print")
        return openAndPrintCase();
    if (mode == u"record-analyze")
        return recordAnalyzeCase(args.value(2).toInt());
    std::fprintf(stderr, "usage: orvalen-bench all [--seconds N] [--json FILE] | <case>\n");
    return 2;
}
