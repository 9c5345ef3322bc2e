// Benchmarks of the operator program as the operator runs it: its real
// window on a virtual X server of the benchmark's own, its real serial port
// over a pseudo-terminal, the processor time of all its threads and of the X
// server, latency from the controller's last byte of a frame to the reading
// stored and to changed pixels on the display; beside each figure, measured
// in the same run, the floors: a bare window showing each frame in a field,
// and a minimal reader of the same line. Also start-up and memory beside a
// bare window, the times of Open and Print, and orvalen-record analyze.
//
//   orvalen-bench all [--seconds N] [--runs N] [--json FILE]   every case, as a table
//   orvalen-bench <case> ...                                   one measured process
#include "fakes.h"
#include "probe.h"
#include "subjects.h"

#include "link/qt_serial_line.h"
#include "records/record_file.h"
#include "records/record_format.h"
#include "report/pdf_printer.h"
#include "report/report.h"
#include "ui/program.h"
#include "ui/qt_platform.h"
#include "ui/startup.h"

#include <QApplication>
#include <QDateTime>
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

#include <poll.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

namespace {

using probe::monoNs;
using probe::percentile;

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

// The program's services for Open and Print with the window's widgets left
// out: the test fakes for the form (fields, captions and a retained chart),
// messages and file dialogs, the real port, pump, timers and PDF printer.
struct Bench
{
    Bench()
        : line(QStringLiteral("/dev/null-port1"), QStringLiteral("/dev/null-port2")),
          printer(QDir::temp().filePath(QStringLiteral("orvalen-bench-report.pdf")))
    {
        c = std::make_unique<Context>(Services{.form = form,
                                               .line = line,
                                               .pump = pump,
                                               .Timer1 = timer1,
                                               .Timer3 = timer3,
                                               .messages = messages,
                                               .files = files,
                                               .printer = onTheSpot,
                                               .clock = clock,
                                               .terminator = terminator});
        wireServices(*c);
    }
    FakeForm form;
    QtSerialLine line;
    QtEventPump pump;
    QtTimer timer1;
    QtTimer timer3;
    FakeMessages messages;
    FakeFiles files;
    PdfPrinter printer;
    ImmediatePrinter onTheSpot{printer}; // what making the page costs
    SystemClock clock;
    FakeTerminator terminator;
    std::unique_ptr<Context> c;
};

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
    Bench b;
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
    const QString record = dir.filePath(QStringLiteral("run.dbf"));
    {
        Outcome<QByteArray> bytes = recordBytes(s);
        QFile f(record);
        if (!bytes || !f.open(QIODevice::WriteOnly))
            return 1;
        f.write(bytes.value());
    }
    constexpr int kOpens = 20;
    b.files.answers = QStringList(kOpens, record);
    std::vector<double> openMs;
    for (int i = 0; i < kOpens; ++i) {
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
                       {"messages", int(b.messages.texts.size() + b.messages.notices.size())}});
}

// Outage: a second of frames, then the cable is pulled (the controller's end
// of the pseudo-terminal closes) for the rest of the case.
enum class Feed { None, LineRate, Bursts, Outage };

// One measured process: what it logged, and the figures from outside.
struct Measured
{
    QJsonObject json;
    std::vector<double> storeMs;
    std::vector<double> screenMs;
};

QJsonObject failed(const QString &name, const QString &why)
{
    return QJsonObject{{"case", name}, {"error", why}};
}

// Answers the program's Parameter Load on the pty master until the start byte
// comes; false when it does not come.
bool playControllerUntilStart(int master)
{
    static const std::uint8_t slot[7] = {0, 150, 60, 130, 90, 120, 40};
    pollfd p{master, POLLIN, 0};
    const std::int64_t giveUp = monoNs() + 20'000'000'000LL;
    while (monoNs() < giveUp) {
        if (poll(&p, 1, 200) <= 0)
            continue;
        std::uint8_t b = 0;
        if (read(master, &b, 1) != 1)
            continue;
        if (b >= 1 && b <= 6)
            (void)!write(master, &slot[b], 1);
        else if (b == 0xAA)
            return true;
    }
    return false;
}

// Starts the subject on the X server, feeds it (as the controller would) for
// the given seconds and measures it and the X server meanwhile.
Measured measure(const probe::XServer &x,
                 const QString &name,
                 const QString &subject,
                 const QString &what,
                 Feed feed,
                 double seconds)
{
    Measured m;
    probe::Pty pty;
    if (pty.master < 0) {
        m.json = failed(name, QStringLiteral("no pseudo-terminal"));
        return m;
    }
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), x.display());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    QTemporaryDir dataHome; // the program's run journals, kept out of the user's own
    env.insert(QStringLiteral("XDG_DATA_HOME"), dataHome.path());
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // Instructions do not depend on how dear the host makes each wake-up;
    // under callgrind the timings mean nothing, the counts do.
    const QString callgrindDir = qEnvironmentVariable("ORVALEN_BENCH_CALLGRIND");
    if (callgrindDir.isEmpty())
        child.start(QCoreApplication::applicationFilePath(), {subject, pty.path, what});
    else
        child.start(QStringLiteral("valgrind"),
                    {QStringLiteral("--tool=callgrind"),
                     QStringLiteral("--callgrind-out-file=%1/callgrind.%2.%p").arg(callgrindDir, name),
                     QCoreApplication::applicationFilePath(), subject, pty.path, what});
    auto readLine = [&child](int timeoutMs) {
        QElapsedTimer t;
        t.start();
        while (!child.canReadLine() && t.elapsed() < timeoutMs)
            if (!child.waitForReadyRead(int(std::max<qint64>(1, timeoutMs - t.elapsed()))))
                break;
        return child.canReadLine() ? child.readLine().trimmed() : QByteArray();
    };
    const QList<QByteArray> ready = readLine(30'000).split(' ');
    if (ready.value(0) != "ready") {
        child.kill();
        child.waitForFinished();
        m.json = failed(name, QStringLiteral("the subject did not start"));
        return m;
    }
    const std::uint32_t window = ready.value(1).toUInt();
    const QRect field(ready.value(2).toInt(), ready.value(3).toInt(), ready.value(4).toInt(),
                      ready.value(5).toInt());
    std::unique_ptr<probe::DamageWatch> damage;
    if (window != 0)
        damage = std::make_unique<probe::DamageWatch>(x.display(), window);

    const pid_t pid = pid_t(child.processId());
    const std::size_t maxFrames = std::size_t(seconds * 1100 + 1000);
    std::vector<std::int64_t> sentAt;
    sentAt.reserve(maxFrames);
    double cpu = -1, ticks = -1, xcpu = -1, wall = -1, spells = -1, xspells = -1;
    std::int64_t measuredFrom = 0;
    bool started = true;
    std::thread controller([&] {
        if (subject == u"subject-program" && feed != Feed::None)
            started = playControllerUntilStart(pty.master);
        // Past the monitor's flush of the line; for a wait, past its start.
        usleep(feed == Feed::None ? 1'000'000 : 300'000);
        if (feed == Feed::Outage && started) {
            for (std::size_t k = 0; k < 240; ++k) {
                const std::uint8_t b = probe::feedByte(k);
                (void)!::write(pty.master, &b, 1);
                usleep(1'000'000 / 240);
            }
            ::close(pty.master);
            ::close(pty.slave);
            pty.master = pty.slave = -1;
            usleep(1'500'000); // told, and the first retries made
        }
        const double c0 = probe::processCpuSeconds(pid);
        const double t0 = probe::processTickSeconds(pid);
        const double x0 = probe::processCpuSeconds(x.pid());
        const std::map<QString, double> s0 = probe::threadRunSpells(pid);
        const std::map<QString, double> xs0 = probe::threadRunSpells(x.pid());
        const std::int64_t w0 = monoNs();
        measuredFrom = w0;
        const std::int64_t end = w0 + std::int64_t(seconds * 1e9);
        timespec next{};
        clock_gettime(CLOCK_MONOTONIC, &next);
        std::size_t i = 0;
        while (started && (feed == Feed::LineRate || feed == Feed::Bursts) && monoNs() < end) {
            const std::size_t n = feed == Feed::Bursts ? 3000 : 1;
            std::vector<std::uint8_t> chunk;
            for (std::size_t k = 0; k < n; ++k)
                chunk.push_back(probe::feedByte(i + k));
            std::size_t done = 0;
            while (done < chunk.size()) {
                const ssize_t w = ::write(pty.master, chunk.data() + done, chunk.size() - done);
                if (w > 0)
                    done += std::size_t(w);
                else
                    usleep(200);
            }
            const std::int64_t t = monoNs();
            for (std::size_t k = i; k < i + n; ++k)
                if (k % 3 == 2 && sentAt.size() < maxFrames)
                    sentAt.push_back(t);
            i += n;
            const long periodNs = feed == Feed::Bursts ? 1'000'000'000L : 1'000'000'000L / 240;
            next.tv_nsec += periodNs;
            while (next.tv_nsec >= 1'000'000'000L) {
                next.tv_nsec -= 1'000'000'000L;
                ++next.tv_sec;
            }
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
        }
        if (feed == Feed::None || feed == Feed::Outage)
            usleep(useconds_t(seconds * 1e6));
        else
            usleep(300'000); // the last frames reach the screen
        wall = double(monoNs() - w0) / 1e9;
        cpu = probe::processCpuSeconds(pid) - c0;
        ticks = probe::processTickSeconds(pid) - t0;
        xcpu = probe::processCpuSeconds(x.pid()) - x0;
        spells = probe::runSpellsBetween(s0, probe::threadRunSpells(pid));
        xspells = probe::runSpellsBetween(xs0, probe::threadRunSpells(x.pid()));
    });
    controller.join();

    child.write("dump\n");
    std::vector<std::pair<std::int64_t, QByteArray>> readings;
    std::vector<std::int64_t> paints;
    for (;;) {
        const QByteArray line = readLine(30'000);
        if (line.isEmpty() || line == "end")
            break;
        const QList<QByteArray> f = line.split(' ');
        if (f.value(0) == "R")
            readings.emplace_back(f.value(1).toLongLong(), f.value(2));
        else if (f.value(0) == "P")
            paints.push_back(f.value(1).toLongLong());
    }
    if (!child.waitForFinished(10'000))
        child.kill();
    const bool watched = damage && damage->ok();
    double damageReports = 0, damagePixels = 0;
    if (watched)
        for (const probe::DamageWatch::Hit &h : damage->hitsSince(measuredFrom)) {
            ++damageReports;
            damagePixels += double(h.area.width()) * h.area.height();
        }
    const std::vector<std::int64_t> hits = watched ? damage->hitsMeeting(field) : std::vector<std::int64_t>{};
    damage.reset();

    std::size_t wrong = 0, unseen = 0;
    const std::size_t matched = std::min(readings.size(), sentAt.size());
    for (std::size_t k = 0; k < matched; ++k) {
        if (readings[k].second != QByteArray::number(probe::feedReading(k))) {
            ++wrong;
            continue;
        }
        m.storeMs.push_back(double(readings[k].first - sentAt[k]) / 1e6);
        if (!watched)
            continue;
        // On screen: the X server's damage after the field's first paint
        // that came after the reading.
        const auto paint = std::upper_bound(paints.begin(), paints.end(), readings[k].first);
        const auto hit = paint == paints.end() ? hits.end()
                                               : std::upper_bound(hits.begin(), hits.end(), *paint);
        if (hit == hits.end()) {
            ++unseen;
            continue;
        }
        m.screenMs.push_back(double(*hit - sentAt[k]) / 1e6);
    }
    if (feed == Feed::Bursts)
        m.storeMs.clear(); // a burst's frames wait for each other; no latency to speak of
    m.json = QJsonObject{
            {"case", name},
            {"seconds", wall},
            {"cpu_percent", 100.0 * cpu / wall},
            {"cpu_tick_percent", 100.0 * ticks / wall},
            {"x_cpu_percent", 100.0 * xcpu / wall},
            {"wakeups_per_s", spells / wall},
            {"x_wakeups_per_s", xspells / wall},
            {"frames_sent", double(sentAt.size())},
            {"readings_seen", double(readings.size())},
            {"readings_missing", double(sentAt.size()) - double(std::min(readings.size(), sentAt.size()))},
            {"readings_extra", double(readings.size()) - double(matched)},
            {"readings_wrong", double(wrong)},
            {"store_median_ms", percentile(m.storeMs, 0.5)},
            {"store_p99_ms", percentile(m.storeMs, 0.99)},
            {"screen_median_ms", percentile(m.screenMs, 0.5)},
            {"screen_p99_ms", percentile(m.screenMs, 0.99)},
            {"screen_unseen", double(unseen)},
            {"damage_watched", watched},
            {"damage_reports_per_s", damageReports / wall},
            {"damage_pixels_per_s", damagePixels / wall}};
    if (!started)
        m.json.insert("error", "the program never sent the start byte");
    return m;
}

// orvalen-record analyze over many records of 501 samples, beside reading the
// same files line by line with the record reader alone; trend and runs over
// the same files, named and stamped as the journal keeps runs (one in ten cut
// off), trend first so that the peak memory of finished children is its own.
int recordAnalyzeCase(int records)
{
    QTemporaryDir dir;
    QStringList names;
    const QDateTime first(QDate(2024, 1, 1), QTime(6, 0), Qt::UTC);
    for (int r = 0; r < records; ++r) {
        const QDateTime start = first.addSecs(qint64(r) * 900);
        const QDateTime stamp = r % 10 == 9 ? start : start.addSecs(510);
        QByteArray bytes;
        for (int f : {stamp.date().year(), stamp.date().month(), stamp.date().day(), stamp.time().hour(),
                      stamp.time().minute(), stamp.time().second()})
            bytes += ' ' + QByteArray::number(f) + " \r\n";
        bytes += " 501 \r\n150\r\n60\r\n230\r\n90\r\n220\r\n40\r\n";
        for (int t = 0; t < 501; ++t) {
            const double v = t < 250 ? 25 + t * (0.9 + r % 7 * 0.01) : 250 - (t - 250) * 0.8;
            bytes += printNumber(std::round(v * 10) / 10).toLatin1() + "\r\n";
        }
        names << start.toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss")) + QStringLiteral(".dbf");
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
    auto timed = [&](const QStringList &args, int &exit) {
        QProcess p;
        p.setWorkingDirectory(dir.path());
        p.setStandardOutputFile(QProcess::nullDevice());
        QElapsedTimer clock;
        clock.start();
        p.start(QStringLiteral(ORVALEN_RECORD), args);
        const bool done = p.waitForFinished(600'000);
        exit = p.exitCode();
        return done && p.exitStatus() == QProcess::NormalExit ? double(clock.nsecsElapsed()) / 1e9 : -1;
    };
    int trendExit = 0, analyzeExit = 0, runsExit = 0;
    const double trendSeconds = timed(
            {QStringLiteral("trend"), QStringLiteral("."), QStringLiteral("--json")}, trendExit);
    struct rusage children
    {};
    getrusage(RUSAGE_CHILDREN, &children);
    const double analyzeSeconds = timed(
            QStringList{QStringLiteral("analyze"), QStringLiteral("--json")} + names, analyzeExit);
    const double runsSeconds = timed({QStringLiteral("runs"), QStringLiteral("."), QStringLiteral("--json")},
                                     runsExit);
    report(QJsonObject{{"case", "record-analyze"},
                       {"records", records},
                       {"lines_read", double(lines)},
                       {"read_seconds", readSeconds},
                       {"analyze_seconds", analyzeSeconds},
                       {"analyze_exit", analyzeExit},
                       {"trend_seconds", trendSeconds},
                       {"trend_peak_mb", double(children.ru_maxrss) / 1024.0},
                       {"trend_exit", trendExit},
                       {"runs_seconds", runsSeconds},
                       {"runs_exit", runsExit}});
}

QJsonObject runChild(const QStringList &args, int timeoutMs, const QString &display)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::SeparateChannels);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (display == u"offscreen") {
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), display);
    } else if (!display.isEmpty()) {
        env.insert(QStringLiteral("DISPLAY"), display);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    }
    p.setProcessEnvironment(env);
    QStringList full = args;
    if (args.value(0).startsWith(u"startup"))
        full << QStringLiteral("--t0") << QString::number(monoNs());
    p.start(QCoreApplication::applicationFilePath(), full);
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        return failed(args.value(0), QStringLiteral("timed out"));
    }
    const QList<QByteArray> lines = p.readAllStandardOutput().trimmed().split('\n');
    const QJsonObject r = QJsonDocument::fromJson(lines.value(lines.size() - 1)).object();
    return r.isEmpty() ? failed(args.value(0), QStringLiteral("no result")) : r;
}

double medianOf(const std::vector<Measured> &runs, const char *key)
{
    std::vector<double> v;
    for (const Measured &m : runs)
        v.push_back(m.json.value(QLatin1StringView(key)).toDouble(-1));
    return percentile(v, 0.5);
}

std::vector<double> pooled(const std::vector<Measured> &runs, bool screen)
{
    std::vector<double> all;
    for (const Measured &m : runs)
        all.insert(all.end(), (screen ? m.screenMs : m.storeMs).begin(),
                   (screen ? m.screenMs : m.storeMs).end());
    return all;
}

double sumOf(const std::vector<Measured> &runs, const char *key)
{
    double s = 0;
    for (const Measured &m : runs)
        s += m.json.value(QLatin1StringView(key)).toDouble(0);
    return s;
}

struct CaseSpec
{
    const char *name;
    const char *subject;
    const char *what;
    Feed feed;
};
const CaseSpec kCases[] = {
        {"line-rate", "subject-program", "run", Feed::LineRate},
        {"line-rate-no-journal", "subject-program", "run-no-journal", Feed::LineRate},
        {"line-rate-bare-window", "subject-window-floor", "", Feed::LineRate},
        {"line-rate-reader", "subject-reader-floor", "", Feed::LineRate},
        {"bursts", "subject-program", "run", Feed::Bursts},
        {"silent", "subject-program", "silent", Feed::None},
        {"idle", "subject-program", "idle", Feed::None},
        {"idle-bare-window", "subject-window-floor", "", Feed::None},
        {"outage", "subject-program", "run", Feed::Outage},
};

// One measured case on an X server of its own, as one JSON line.
int oneCase(const QString &name, double seconds)
{
    for (const CaseSpec &c : kCases) {
        if (name != QLatin1StringView(c.name))
            continue;
        probe::XServer x;
        if (!x.running())
            return 1;
        const Measured m = measure(x, c.name, c.subject, c.what, c.feed, seconds);
        std::printf("%s\n", QJsonDocument(m.json).toJson(QJsonDocument::Compact).constData());
        return m.json.contains("error") ? 1 : 0;
    }
    return -1;
}

int allCases(double seconds, int runs, const QString &jsonFile)
{
    probe::XServer x;
    if (!x.running()) {
        std::fprintf(stderr, "orvalen-bench: could not start Xvfb\n");
        return 1;
    }
    std::vector<Measured> program, noJournal, window, reader;
    for (int r = 0; r < runs; ++r) {
        program.push_back(measure(x, "line-rate", "subject-program", "run", Feed::LineRate, seconds));
        noJournal.push_back(measure(x, "line-rate-no-journal", "subject-program", "run-no-journal",
                                    Feed::LineRate, seconds));
        window.push_back(
                measure(x, "line-rate-bare-window", "subject-window-floor", "", Feed::LineRate, seconds));
        reader.push_back(measure(x, "line-rate-reader", "subject-reader-floor", "", Feed::LineRate, seconds));
    }
    const double quiet = std::max(2.0, seconds / 3);
    const Measured bursts = measure(x, "bursts", "subject-program", "run", Feed::Bursts,
                                    std::max(3.0, seconds / 10));
    const Measured silent = measure(x, "silent", "subject-program", "silent", Feed::None, quiet);
    const Measured idle = measure(x, "idle", "subject-program", "idle", Feed::None, quiet);
    const Measured idleFloor = measure(x, "idle-bare-window", "subject-window-floor", "", Feed::None, quiet);
    const Measured outage = measure(x, "outage", "subject-program", "run", Feed::Outage, seconds);
    const double outageCpu = outage.json.value("cpu_percent").toDouble(-1);
    auto median = [&](const char *c) {
        std::vector<double> t, mem;
        for (int i = 0; i < 5; ++i) {
            const QJsonObject r = runChild({c}, 30'000, x.display());
            t.push_back(r.value("startup_seconds").toDouble(-1));
            mem.push_back(r.value("peak_mb").toDouble(-1));
        }
        return QJsonObject{
                {"case", c}, {"startup_seconds", percentile(t, 0.5)}, {"peak_mb", percentile(mem, 0.5)}};
    };
    const QJsonObject start = median("startup");
    const QJsonObject startFloor = median("startup-floor");
    const QJsonObject openPrint = runChild({"open-print"}, 60'000, QStringLiteral("offscreen"));
    // Ten thousand records in a full run; a tenth of that in a short look.
    const int records = seconds >= 10 ? 10'000 : 1'000;
    const QJsonObject analyze = runChild({"record-analyze", QString::number(records)}, 600'000,
                                         QStringLiteral("offscreen"));
    const double analyzeS = analyze.value("analyze_seconds").toDouble(-1);
    const double trendS = analyze.value("trend_seconds").toDouble(-1);
    const double trendMb = analyze.value("trend_peak_mb").toDouble(-1);
    const double runsS = analyze.value("runs_seconds").toDouble(-1);

    struct Row
    {
        QString what;
        double program;
        double window;
        double reader;
        QString unit;
        QString target;
        bool ok;
    };
    auto pct = [](const std::vector<Measured> &v, bool screen, double p) {
        return percentile(pooled(v, screen), p);
    };
    const double cpu = medianOf(program, "cpu_percent");
    const double journalCpu = cpu - medianOf(noJournal, "cpu_percent");
    const double xcpu = medianOf(program, "x_cpu_percent");
    const double store99 = pct(program, false, 0.99);
    const double screen99 = pct(program, true, 0.99);
    const double wrong = sumOf(program, "readings_missing") + sumOf(program, "readings_wrong")
                         + sumOf(program, "readings_extra");
    const double burstWrong = bursts.json.value("readings_missing").toDouble(-1)
                              + bursts.json.value("readings_wrong").toDouble(-1)
                              + bursts.json.value("readings_extra").toDouble(-1);
    const double silentCpu = silent.json.value("cpu_percent").toDouble(-1);
    const double idleCpu = idle.json.value("cpu_percent").toDouble(-1);
    const double startT = start.value("startup_seconds").toDouble(-1);
    const double floorT = startFloor.value("startup_seconds").toDouble(-1);
    const double mem = start.value("peak_mb").toDouble(-1);
    const double floorMem = startFloor.value("peak_mb").toDouble(-1);
    const QString runsNote = QStringLiteral("median of %1").arg(runs);
    const std::vector<Row> rows{
            {"CPU at line rate, all threads", cpu, medianOf(window, "cpu_percent"),
             medianOf(reader, "cpu_percent"), "% of a core", "<= 0.6, " + runsNote, cpu >= 0 && cpu <= 0.6},
            {"CPU of the run journal (on - off)", journalCpu, -1, -1, "% of a core", "<= 0.1, " + runsNote,
             journalCpu <= 0.1},
            {"X server CPU at line rate", xcpu, medianOf(window, "x_cpu_percent"),
             medianOf(reader, "x_cpu_percent"), "% of a core", "<= 0.3, " + runsNote,
             xcpu >= 0 && xcpu <= 0.3},
            {"wake-ups at line rate, all threads", medianOf(program, "wakeups_per_s"),
             medianOf(window, "wakeups_per_s"), medianOf(reader, "wakeups_per_s"), "per second", "", true},
            {"X server wake-ups at line rate", medianOf(program, "x_wakeups_per_s"),
             medianOf(window, "x_wakeups_per_s"), medianOf(reader, "x_wakeups_per_s"), "per second", "",
             true},
            {"wire to stored, median", pct(program, false, 0.5), pct(window, false, 0.5),
             pct(reader, false, 0.5), "ms", "", true},
            {"wire to stored, p99", store99, pct(window, false, 0.99), pct(reader, false, 0.99), "ms", "<= 1",
             store99 >= 0 && store99 <= 1},
            {"wire to screen, median", pct(program, true, 0.5), pct(window, true, 0.5), -1, "ms", "", true},
            {"wire to screen, p99", screen99, pct(window, true, 0.99), -1, "ms", "<= 60",
             screen99 >= 0 && screen99 <= 60},
            {"readings missing/wrong, line rate", wrong,
             sumOf(window, "readings_missing") + sumOf(window, "readings_wrong"),
             sumOf(reader, "readings_missing") + sumOf(reader, "readings_wrong"), "frames", "0", wrong == 0},
            {"readings missing/wrong, 3000-B bursts", burstWrong, -1, -1, "frames", "0", burstWrong == 0},
            {"CPU waiting, silent controller", silentCpu, -1, -1, "% of a core", "< 0.05",
             silentCpu >= 0 && silentCpu < 0.05},
            {"X server CPU, silent controller", silent.json.value("x_cpu_percent").toDouble(-1), -1, -1,
             "% of a core", "", true},
            {"CPU, idle window", idleCpu, idleFloor.json.value("cpu_percent").toDouble(-1), -1, "% of a core",
             "< 0.05", idleCpu >= 0 && idleCpu < 0.05},
            {"X server CPU, idle window", idle.json.value("x_cpu_percent").toDouble(-1),
             idleFloor.json.value("x_cpu_percent").toDouble(-1), -1, "% of a core", "", true},
            {"CPU, cable out during a run", outageCpu, -1, -1, "% of a core", "< 0.5",
             outageCpu >= 0 && outageCpu < 0.5},
            {"X server CPU, cable out", outage.json.value("x_cpu_percent").toDouble(-1), -1, -1,
             "% of a core", "", true},
            {"start-up to first paint", startT, floorT, -1, "s", "< 0.2, <= 3 x bare",
             startT < 0.2 && startT <= 3 * floorT},
            {"peak memory", mem, floorMem, -1, "MB", "< 50, <= 1.5 x bare",
             mem < 50 && mem <= 1.5 * floorMem},
            {"Open and draw, 501 samples", openPrint.value("open_draw_ms").toDouble(-1), -1, -1, "ms", "",
             true},
            {"Print to PDF", openPrint.value("print_pdf_ms").toDouble(-1), -1, -1, "ms", "", true},
            {QStringLiteral("orvalen-record analyze, %1 records").arg(records), analyzeS, -1, -1, "s",
             records == 10'000 ? "well under 2" : "", analyzeS >= 0 && (records != 10'000 || analyzeS < 2)},
            {"record reader alone, same files", analyze.value("read_seconds").toDouble(-1), -1, -1, "s",
             "reference", true},
            {QStringLiteral("orvalen-record trend, %1 records").arg(records), trendS, -1, -1, "s",
             records == 10'000 ? "< 3" : "", trendS >= 0 && (records != 10'000 || trendS < 3)},
            {"orvalen-record trend, peak memory", trendMb, -1, -1, "MB", "< 64",
             trendMb >= 0 && trendMb < 64},
            {QStringLiteral("orvalen-record runs, %1 journals").arg(records), runsS, -1, -1, "s",
             records == 10'000 ? "< 3" : "", runsS >= 0 && (records != 10'000 || runsS < 3)},
    };
    std::printf("%.0f s per line-rate run, %d run(s); program = the real window; -1 = not measured\n",
                seconds, runs);
    std::printf("%-38s %9s %9s %9s  %-12s %-22s %s\n", "measure", "program", "bare win", "reader", "unit",
                "target", "");
    QJsonArray table;
    for (const Row &r : rows) {
        std::printf("%-38s %9.3f %9.3f %9.3f  %-12s %-22s %s\n", qPrintable(r.what), r.program, r.window,
                    r.reader, qPrintable(r.unit), qPrintable(r.target), r.ok ? "ok" : "MISSED");
        table.append(QJsonObject{{"measure", r.what},
                                 {"program", r.program},
                                 {"bare_window", r.window},
                                 {"reader", r.reader},
                                 {"unit", r.unit},
                                 {"target", r.target},
                                 {"ok", r.ok}});
    }
    QJsonArray raw;
    for (const auto *v : {&program, &noJournal, &window, &reader})
        for (const Measured &m : *v)
            raw.append(m.json);
    for (const Measured *m : {&bursts, &silent, &idle, &idleFloor, &outage})
        raw.append(m->json);
    raw.append(start);
    raw.append(startFloor);
    raw.append(openPrint);
    raw.append(analyze);
    const QJsonObject all{{"seconds", seconds}, {"runs", runs}, {"table", table}, {"raw", raw}};
    if (!jsonFile.isEmpty()) {
        QFile f(jsonFile);
        if (f.open(QIODevice::WriteOnly))
            f.write(QJsonDocument(all).toJson());
        std::printf("written: %s\n", qPrintable(jsonFile));
    }
    int errors = 0;
    for (const QJsonValue &v : raw)
        if (v.toObject().contains("error")) {
            std::fprintf(stderr, "%s: %s\n", qPrintable(v.toObject().value("case").toString()),
                         qPrintable(v.toObject().value("error").toString()));
            ++errors;
        }
    return errors == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (mode == u"subject-reader-floor") // no Qt at all in the floor reader
        return runReaderFloor(QString::fromLocal8Bit(argc > 2 ? argv[2] : ""));
    if (mode == u"all") {
        QCoreApplication app(argc, argv);
        const QStringList args = app.arguments();
        auto option = [&](const QString &name, const QString &fallback) {
            const qsizetype i = args.indexOf(name);
            return i >= 0 && i + 1 < args.size() ? args[i + 1] : fallback;
        };
        return allCases(option(QStringLiteral("--seconds"), QStringLiteral("60")).toDouble(),
                        std::max(1, option(QStringLiteral("--runs"), QStringLiteral("3")).toInt()),
                        option(QStringLiteral("--json"), QString()));
    }
    if (mode.startsWith(u"line-rate") || mode == u"bursts" || mode == u"silent" || mode.startsWith(u"idle")
        || mode == u"outage") {
        QCoreApplication app(argc, argv);
        return oneCase(mode, argc > 2 ? std::atof(argv[2]) : 10);
    }
    // The program's cases start as the program does; the floors keep Qt's
    // defaults.
    if (mode == u"subject-program" || mode == u"startup" || mode == u"open-print")
        Program::prepareApplication();
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const qsizetype t0at = args.indexOf(QStringLiteral("--t0"));
    const qint64 t0 = t0at >= 0 ? args.value(t0at + 1).toLongLong() : 0;
    if (mode == u"subject-program")
        return runProgramSubject(args.value(2), args.value(3));
    if (mode == u"subject-window-floor")
        return runWindowFloor(args.value(2));
    if (mode == u"startup")
        return startupCase(mode, t0, false);
    if (mode == u"startup-floor")
        return startupCase(mode, t0, true);
    if (mode == u"open-print")
        return openAndPrintCase();
    if (mode == u"record-analyze")
        return recordAnalyzeCase(args.value(2).toInt());
    std::fprintf(
            stderr,
            "usage: orvalen-bench all [--seconds N] [--runs N] [--json FILE]\n"
            "       orvalen-bench line-rate|line-rate-no-journal|line-rate-bare-window|line-rate-reader|bursts|silent|idle|idle-bare-window|outage SECONDS\n");
    return 2;
}
