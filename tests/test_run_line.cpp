// A run as the monitor takes it (samples, readouts, the curve) and against
// what real benches do to its line: cables pulled and put back, junk and lost
// bytes, readings the spike filter must not lock on, a Stop that cannot reach
// the oven, a Parameter Load that cannot finish. All in virtual time with a
// scripted controller.
#include "fakes.h"

#include "link/frame.h"
#include "link/load.h"
#include "link/qt_serial_line.h"
#include "link/transfer.h"
#include "run/monitor.h"
#include "run/run_book.h"
#include "run/run_start.h"
#include "run/run_stop.h"
#include "state/chart.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <optional>

namespace {

using Readings = std::vector<int>;
using Seconds = QList<int>;
using Times = QList<qint64>;

int countOf(const std::vector<int> &bytes, int b) { return int(std::count(bytes.begin(), bytes.end(), b)); }

std::array<LooseValue, 6> stampOf(const QDateTime &t)
{
    return {t.date().year(), t.date().month(),  t.date().day(),
            t.time().hour(), t.time().minute(), t.time().second()};
}

// What seconds 0..n-1 should hold: the oven's reading; in a second of `none`
// what was there before; in a `held` second the last value before it in the
// oven's range, from `last` on (what the filters hold to).
using Samples = std::vector<std::optional<double>>;
Samples expect(const Samples &from,
               const Samples &before,
               const Seconds &none,
               const Seconds &held,
               std::optional<double> last)
{
    Samples out(from.size());
    for (std::size_t k = 0; k < from.size(); ++k) {
        out[k] = none.contains(int(k)) ? before[k] : held.contains(int(k)) ? last : from[k];
        if (out[k] && *out[k] <= 400)
            last = out[k];
    }
    return out;
}

// One run, from the start byte on, and what should come of it. The oven's
// reading of second k comes at k.5 s; Stop or Stop Communicate ends the run.
struct Scenario
{
    Readings readings{}; // negative: a silent second
    Readings older{}; // samples of an earlier run
    double reference = 0; // the earlier run's last reading
    QByteArray stale{}; // bytes waiting when the start byte goes out
    QByteArray early{}; // bytes at 0.1 s
    Times unplugs{}, replugs{};
    bool stopButton = false; // Stop, or else Stop Communicate
    qint64 stopAt = 0;
    int failWritesAfter = -1; // from the stop on
    // What comes of it.
    QStringList texts{}; // message boxes
    int notices = 0;
    QString lastNotice{}; // its parts, split by '|'
    MessageService::Topic lastTopic = MessageService::Topic::Line;
    int opens = 1;
    int failedOpens = 0; // at each pull, then once a whole second until back
    int stopBytes = 0;
    int runTicks = 0;
    qint64 stampedAt = -1; // -1: at stopAt
    Seconds none{}; // seconds whose reading never came or was lost
    Seconds held{}; // seconds shown at the last reading in range before them
    Seconds cleaned{}; // seconds the clean-up then holds the same way
    double prevTemp = 0;
};

} // namespace

Q_DECLARE_METATYPE(Scenario)

class TestRunLine : public QObject
{
    Q_OBJECT

private slots:
    void runThroughWhatTheLineDoes_data();
    void runThroughWhatTheLineDoes();
    void stopCommunicateUnderStopsWaits();
    void junkAtRunStartCostsAFewFrames_data();
    void junkAtRunStartCostsAFewFrames();
    void loadClosedUnderItsWaitNeverResumes();
    void startByteThatCannotGoOutStartsNoRun();
    void runsInsideSilentLoadKeepStackFlat();
    void adapterNameChosenWhereItExists();
};

void TestRunLine::runThroughWhatTheLineDoes_data()
{
    using Topic = MessageService::Topic;
    QTest::addColumn<Scenario>("run");
    // A row in a line or three: the table reads better than a field a line.
    // clang-format off
    Scenario twenty{
        .readings = along(70, [](int k) { return 100 + k / 10; }), .stopAt = 65'100, .notices = 40,
        .lastNotice = "back", .opens = 21, .failedOpens = 40, .runTicks = 65, .prevTemp = 106};
    for (int i = 0; i < 20; ++i) {
        twenty.unplugs << 3'000 * i + 2'700;
        twenty.replugs << 3'000 * i + 3'800;
        twenty.none << 3 * i + 3; // from the pull to the retry at the next whole second
    }
    QTest::newRow("whole run") << Scenario{
        .readings = along(30, [](int k) { return 25 + 3 * k; }), .stopAt = 30'200, .runTicks = 30,
        .prevTemp = 112};
    // A stale frame (300) behind the Load's last answer is dropped: the clock
    // waits for the oven's own first reading, and only that one is drawn.
    const auto stale = frame::encode(300);
    QTest::newRow("bytes waiting from before the run") << Scenario{
        .readings = {100, 101, 102}, .stale = QByteArray(reinterpret_cast<const char *>(stale.data()), 3),
        .stopAt = 3'100, .runTicks = 3, .prevTemp = 102};
    // Stop's bytes go out 100 ms apart; the clock ticks on under its waits,
    // where frames are not taken.
    QTest::newRow("Stop") << Scenario{
        .readings = along(14, [](int k) { return 100 + k; }), .stopButton = true, .stopAt = 10'100,
        .texts = {"Vone Stoped"}, .stopBytes = 11, .runTicks = 11, .stampedAt = 11'200, .cleaned = {10},
        .prevTemp = 109};
    QTest::newRow("silent seconds keep an earlier run's samples") << Scenario{
        .readings = {20, 21, -1, -1, 24, 25}, .older = along(10, [](int k) { return 30 + k; }),
        .stopAt = 6'800, .runTicks = 6, .none = {2, 3}, .prevTemp = 25};
    // The earlier run's reference is not used early on; 11 away is a spike, 10 is not.
    QTest::newRow("spike filter from the third second") << Scenario{
        .readings = {50, 80, 60, 71, 60, 70, 200, 80}, .reference = 900, .stopAt = 8'500, .runTicks = 8,
        .held = {3, 6}, .prevTemp = 80};
    // A stray byte starts the clock; the first reading comes in second 4, 100 ℃
    // below the last run's: held at that run's reference three times.
    QTest::newRow("late first reading far from the last run's") << Scenario{
        .readings = along(20, [](int k) { return k < 4 ? -1 : 100; }), .reference = 200,
        .early = QByteArray(1, 0x42), .stopAt = 20'300, .runTicks = 20, .none = {0, 1, 2, 3},
        .held = {4, 5, 6}, .cleaned = {7, 8, 9}, .prevTemp = 100};
    QTest::newRow("400 and above: shown and stored, not drawn") << Scenario{
        .readings = {395, 400, 401, 395}, .stopAt = 4'500, .notices = 1, .lastNotice = "Communication Error!",
        .lastTopic = Topic::Reading, .runTicks = 4, .prevTemp = 395};
    // Told, stored, but never the filter's reference: the filter cannot lock.
    QTest::newRow("first reading above 400") << Scenario{
        .readings = along(30, [](int k) { return k ? 25 : 450; }), .stopAt = 20'300, .notices = 1,
        .lastNotice = "Communication Error!", .lastTopic = Topic::Reading, .runTicks = 20, .prevTemp = 25};
    // Two series above 400, each told once; a jump above 400 is taken once it
    // lasts three frames, and then held like any spike.
    QTest::newRow("broken thermocouple, twice") << Scenario{
        .readings = along(30, [](int k) { return (k >= 5 && k < 15) || k >= 20 ? 999 : 30; }),
        .stopAt = 30'300, .notices = 2, .lastNotice = "Communication Error!", .lastTopic = Topic::Reading,
        .runTicks = 30, .none = {5, 6, 20, 21}, .held = {7, 8, 9, 11, 12, 13, 22, 23, 24, 26, 27, 28},
        .cleaned = {5, 6, 10, 14, 20, 21, 25, 29}, .prevTemp = 30};
    QTest::newRow("cable out 10.7-20 s, put back while its notice stays open") << Scenario{
        .readings = along(60, [](int k) { return 150 + k / 4; }), .unplugs = {10'700}, .replugs = {20'000},
        .stopAt = 40'300, .notices = 2, .lastNotice = "back", .opens = 2, .failedOpens = 10, .runTicks = 40,
        .none = {11, 12, 13, 14, 15, 16, 17, 18, 19}, .prevTemp = 159};
    QTest::newRow("cable pulled twenty times") << twenty;
    QTest::newRow("Stop Communicate in an outage ends the retries") << Scenario{
        .readings = Readings(60, 120), .unplugs = {5'200}, .replugs = {12'000}, .stopAt = 8'100, .notices = 1,
        .lastNotice = "lost", .failedOpens = 4, .runTicks = 8, .none = {5, 6, 7}, .prevTemp = 120};
    QTest::newRow("put back after the oven moved on: the filter follows") << Scenario{
        .readings = along(60, [](int k) { return k < 10 ? 100 : 140; }), .unplugs = {6'700},
        .replugs = {14'000}, .stopAt = 30'100, .notices = 2, .lastNotice = "back", .opens = 2,
        .failedOpens = 8, .runTicks = 30, .none = {7, 8, 9, 10, 11, 12, 13}, .held = {14, 15, 16},
        .cleaned = {17, 18, 19}, .prevTemp = 140};
    QTest::newRow("Stop while the cable is out") << Scenario{
        .readings = Readings(60, 200), .unplugs = {3'700}, .stopButton = true, .stopAt = 6'100, .notices = 2,
        .lastNotice = "0 of the 11|cannot be opened", .lastTopic = Topic::Stop, .failedOpens = 5,
        .runTicks = 6, .none = {4, 5}, .prevTemp = 200};
    // The failing port is told as a lost line first, then what Stop could not
    // do. The reading that came under Stop's waits is not taken; the clean-up
    // fills the one second without one.
    QTest::newRow("Stop on a port that fails after three bytes") << Scenario{
        .readings = Readings(60, 200), .stopButton = true, .stopAt = 5'100, .failWritesAfter = 3,
        .notices = 2, .lastNotice = "NOT|3 of the 11", .lastTopic = Topic::Stop, .stopBytes = 3,
        .runTicks = 6, .stampedAt = 6'200, .cleaned = {5}, .prevTemp = 200};
    // clang-format on
}

void TestRunLine::runThroughWhatTheLineDoes()
{
    QFETCH(Scenario, run);
    Rig rig;
    for (std::size_t k = 0; k < run.older.size(); ++k)
        rig.c.state.samples[k] = run.older[k];
    rig.c.state.prevTemp = run.reference;
    qint64 start = -1;
    std::array<LooseValue, SharedState::kSampleCount> live;
    rig.runOven(run.readings, [&](qint64 t) {
        start = t;
        rig.line.arrive(run.stale);
        if (!run.early.isEmpty())
            rig.world.at(t + 100, [&] { rig.line.arrive(run.early); });
        for (qint64 ms : run.unplugs)
            rig.world.at(t + ms, [&rig] { rig.line.unplug(); });
        for (qint64 ms : run.replugs)
            rig.world.at(t + ms, [&rig] { rig.line.replug(); });
        rig.world.at(t + run.stopAt, [&] {
            live = rig.c.state.samples;
            rig.line.failWritesAfter = run.failWritesAfter;
            run.stopButton ? stop_Click(rig.c) : stopcomm_Click(rig.c);
        });
        rig.world.endMs = t + run.stopAt + 10'000; // long enough for retries that should not come
    });

    const FakeMessages &m = rig.messages;
    QCOMPARE(m.texts, run.texts); // nothing else modal held the run
    QCOMPARE(m.notices.size(), run.notices);
    // Each pull is told when it happens, each return within the second after.
    std::vector<std::pair<qint64, bool>> pulls;
    for (qint64 ms : run.unplugs)
        pulls.emplace_back(ms, true);
    for (qint64 ms : run.replugs)
        if (ms < run.stopAt)
            pulls.emplace_back(ms, false);
    std::sort(pulls.begin(), pulls.end());
    QVERIFY(pulls.size() <= std::size_t(m.notices.size()));
    for (std::size_t n = 0; n < pulls.size(); ++n) {
        const auto [ms, out] = pulls[n];
        const QString &told = m.notices[qsizetype(n)];
        QVERIFY2(out ? told.contains(QStringLiteral("lost"))
                                 && told.contains(QStringLiteral("port1 disappeared"))
                     : told.contains(QStringLiteral("back")),
                 qPrintable(told));
        QCOMPARE(m.noticeTopics[n], MessageService::Topic::Line);
        QVERIFY(m.noticeAt[n] >= start + ms && m.noticeAt[n] <= start + ms + (out ? 0 : 1'000));
    }
    if (run.notices > 0) {
        for (const QString &part : run.lastNotice.split(u'|'))
            QVERIFY2(m.notices.last().contains(part), qPrintable(m.notices.last()));
        QCOMPARE(m.noticeTopics.back(), run.lastTopic);
    }

    QCOMPARE(rig.line.opens, run.opens);
    QCOMPARE(int(rig.line.log.count(QStringLiteral("open"))) - rig.line.opens, run.failedOpens);
    // The Load's requests and the start byte, then Stop's bytes 100 ms apart.
    const std::vector<int> begun{1, 2, 3, 4, 5, 6, 0xAA};
    QVERIFY(rig.line.sent.size() >= begun.size()
            && std::equal(begun.begin(), begun.end(), rig.line.sent.begin()));
    QCOMPARE(rig.form.fields[2], QStringLiteral("230"));
    QCOMPARE(countOf(rig.line.sent, 0xBB), run.stopBytes);
    for (std::size_t i = begun.size(); i < rig.line.sent.size(); ++i)
        QCOMPARE(rig.line.sentAt[i], start + run.stopAt + 100 * qint64(i - begun.size()));
    QCOMPARE(rig.c.state.runTicks, LooseValue(run.runTicks));
    QCOMPARE(rig.c.state.runStamp,
             stampOf(rig.world.timeAt(start + (run.stampedAt < 0 ? run.stopAt : run.stampedAt))));
    QCOMPARE(rig.c.state.recordStamp, rig.c.state.runStamp);
    QVERIFY2(rig.world.maxDepth <= 2, qPrintable(QString::number(rig.world.maxDepth)));
    // The run has ended and nothing of it goes on.
    QVERIFY(!rig.line.isOpen());
    QVERIFY(!rig.timer1.isEnabled() && !rig.timer3.isEnabled());
    QCOMPARE(rig.c.state.runFlag, LooseValue(0));
    QVERIFY(!runBook(rig.c).runLine.live && !runBook(rig.c).runLine.outage);
    QCOMPARE(rig.c.state.prevTemp, run.prevTemp);

    // The samples as the run left them at the stop, and after the clean-up.
    const auto value = [](const LooseValue &v) {
        return v.isEmpty() ? std::nullopt : std::optional<double>(v.leadingNumber());
    };
    const auto seconds = std::size_t(run.stopAt / 1000);
    Samples oven, before;
    for (std::size_t k = 0; k <= std::size_t(run.runTicks); ++k) {
        before.push_back(k < run.older.size() ? std::optional<double>(run.older[k]) : std::nullopt);
        // Nothing is taken from the stop on.
        const bool came = k < seconds && k < run.readings.size() && run.readings[k] >= 0;
        oven.push_back(came ? std::optional<double>(run.readings[k]) : before[k]);
    }
    const Samples shown = expect(oven, before, run.none, run.held, run.reference);
    const Samples kept = expect(shown, before, {}, run.cleaned, {});
    for (std::size_t k = 0; k <= std::size_t(run.runTicks); ++k) {
        QVERIFY2(value(live[k]) == shown[k], qPrintable(QStringLiteral("second %1 at the stop").arg(k)));
        QVERIFY2(value(rig.c.state.samples[k]) == kept[k],
                 qPrintable(QStringLiteral("second %1 after").arg(k)));
    }
    QCOMPARE(rig.c.state.loopIndex, LooseValue(std::max(run.runTicks, 4)));

    // Each reading shown; each below 400 drawn twice, 5 twips apart, from the
    // last one drawn at the second before.
    const auto &strokes = rig.form.drawing.strokes;
    std::size_t stroke = 0, lastFrame = 0;
    double drawn = 0;
    for (std::size_t k = 0; k < seconds; ++k) {
        if (run.none.contains(int(k)))
            continue;
        lastFrame = k;
        if (*shown[k] >= 400)
            continue;
        QVERIFY(stroke + 1 < strokes.size());
        for (int shift : {0, 5})
            QCOMPARE(strokes[stroke++],
                     (std::array<float, 4>{float(chart::xOf(double(k) - 1)), float(chart::yOf(drawn) + shift),
                                           float(chart::xOf(double(k))),
                                           float(chart::yOf(*shown[k]) + shift)}));
        drawn = *shown[k];
    }
    QCOMPARE(stroke, strokes.size());
    QCOMPARE(rig.c.state.lastDrawnTemp, std::int16_t(drawn));
    QCOMPARE(rig.form.fields[6], QString::number(*shown[lastFrame]));
    QCOMPARE(rig.form.fields[7], QString::number(lastFrame)); // the clock at the last frame
    // Start-up clears and draws the grid (26 lines); the frames of seconds 0
    // and 1 draw it again over the curve.
    QCOMPARE(rig.form.drawing.clears, 1);
    QCOMPARE(rig.form.drawing.gridLines, 26 * (1 + int(!run.none.contains(0)) + int(!run.none.contains(1))));
}

void TestRunLine::stopCommunicateUnderStopsWaits()
{
    Rig rig;
    rig.world.at(350, [&rig] { stopcomm_Click(rig.c); });
    rig.run([&rig] { stop_Click(rig.c); });
    QCOMPARE(countOf(rig.line.sent, 0xBB), 4); // at 0, 100, 200 and 300 ms
    QVERIFY(rig.messages.texts.isEmpty());
    QVERIFY2(rig.messages.notices.value(0).contains(QStringLiteral("4 of the 11")),
             qPrintable(rig.messages.notices.value(0)));
}

void TestRunLine::junkAtRunStartCostsAFewFrames_data()
{
    QTest::addColumn<int>("junkBytes");
    QTest::addColumn<quint32>("seed");
    QTest::newRow("five stray bytes") << 5 << 1u;
    QTest::newRow("a reset's eleven") << 11 << 2u;
    for (quint32 seed = 10; seed < 16; ++seed)
        QTest::addRow("3000-byte burst, seed %u", seed) << 3000 << seed;
}

void TestRunLine::junkAtRunStartCostsAFewFrames()
{
    QFETCH(int, junkBytes);
    QFETCH(quint32, seed);
    Rig rig;
    rig.runOven(along(40, [](int k) { return 25 + 2 * k; }), [&rig, junkBytes, seed](qint64 t) {
        QRandomGenerator random(seed);
        QByteArray junk;
        for (int i = 0; i < junkBytes; ++i)
            junk.append(char(random.bounded(256)));
        rig.world.at(t + 100, [&rig, junk] { rig.line.arrive(junk); });
        rig.world.at(t + 40'100, [&rig] { stopcomm_Click(rig.c); });
    });
    QVERIFY2(rig.messages.notices.count(QStringLiteral("Communication Error!")) <= 1,
             qPrintable(QString::number(rig.messages.notices.size())));
    // From the fifth second on every reading is the oven's own.
    for (int k = 5; k < 40; ++k)
        QCOMPARE(rig.sample(k), double(25 + 2 * k));
}

void TestRunLine::loadClosedUnderItsWaitNeverResumes()
{
    Rig rig;
    rig.form.type(1, QStringLiteral("140"));
    rig.form.type(3, QStringLiteral("210"));
    const SharedState before = rig.c.state;
    // Run: answers 1 and 2, then silence. The operator edits Text2 and
    // chooses Stop Communicate in the wait for 3; later a Parameter Load of
    // his own completes, and the controller sends one more byte.
    rig.line.onSent = [&](int b) {
        if (b == 1 || b == 2)
            rig.world.after(5, [&rig, b] { rig.line.arrive({b * 10}); });
    };
    std::optional<SharedState> afterStop;
    bool monitoring = true;
    rig.world.at(1'500, [&rig] { rig.form.type(2, QStringLiteral("66")); });
    rig.world.at(2'000, [&rig] { stopcomm_Click(rig.c); });
    rig.world.at(3'000, [&] {
        afterStop = rig.c.state;
        monitoring = runBook(rig.c).monitorActive;
    });
    rig.world.at(4'000, [&] {
        rig.answerLoads();
        getcanshu_Click(rig.c);
    });
    rig.world.at(5'000, [&rig] { rig.line.arrive({0x33}); });
    rig.world.endMs = 8'000;
    rig.run([&] {
        from8031_Click(rig.c);
        for (;;)
            rig.world.pumpEvents(); // the window's own loop
    });
    QVERIFY(afterStop);
    // The Run was not begun, and nothing says it failed.
    QVERIFY(!monitoring);
    QVERIFY2(rig.messages.texts.isEmpty(), qPrintable(rig.messages.texts.join(u'|')));
    // The profile in the state is back as it was, but for the edit made
    // meanwhile; the fields were never touched.
    QCOMPARE(afterStop->stageTemp, before.stageTemp);
    QCOMPARE(afterStop->stageTime[1], LooseValue(QStringLiteral("66")));
    QCOMPARE(afterStop->stageTime[2], before.stageTime[2]);
    QCOMPARE(afterStop->stageTime[3], before.stageTime[3]);
    // The abandoned Run sent no start byte, and its Load never took the later
    // byte as an answer: only the operator's own Load asked for 4, 5 and 6.
    QCOMPARE(rig.line.sent, (std::vector<int>{1, 2, 3, 1, 2, 3, 4, 5, 6}));
    QCOMPARE(rig.form.fields[2], QStringLiteral("230"));
}

void TestRunLine::runsInsideSilentLoadKeepStackFlat()
{
    Rig rig;
    constexpr int kRuns = 10'000;
    int chosen = 0;
    for (int i = 1; i <= kRuns; ++i)
        rig.world.at(qint64(i) * 10, [&] {
            ++chosen;
            from8031_Click(rig.c);
        });
    // Silent until the last Run; then the controller answers and sends a frame.
    rig.world.at(qint64(kRuns) * 10 + 5, [&rig] {
        rig.answerLoads();
        rig.onRunStart = [&rig](qint64 t) { rig.frameAt(t + 100, 180); };
        rig.line.arrive({150}); // the answer to the pending request 1
    });
    rig.world.endMs = qint64(kRuns) * 10 + 3'000;
    rig.run([&rig] { from8031_Click(rig.c); });
    QCOMPARE(chosen, kRuns);
    QVERIFY2(rig.world.maxDepth <= 2, qPrintable(QString::number(rig.world.maxDepth)));
    // Each Run started over with request 1; the last one finished its Load and
    // started the oven once.
    QCOMPARE(countOf(rig.line.sent, 1), kRuns + 1);
    const std::vector<int> tail(rig.line.sent.end() - 7, rig.line.sent.end());
    QCOMPARE(tail, (std::vector<int>{1, 2, 3, 4, 5, 6, 0xAA}));
    QCOMPARE(countOf(rig.line.sent, 0xAA), 1);
    QCOMPARE(rig.form.fields[6], QStringLiteral("180"));
}

void TestRunLine::adapterNameChosenWhereItExists()
{
#ifdef Q_OS_WIN
    QSKIP("Windows keeps COM1 and COM2");
#else
    QCOMPARE(QtSerialLine::defaultPortName(2), QFile::exists(QStringLiteral("/dev/orvalen2"))
                                                       ? QStringLiteral("/dev/orvalen2")
                                                       : QStringLiteral("/dev/ttyS1"));
    QTemporaryDir dev;
    QVERIFY(dev.isValid());
    QCOMPARE(QtSerialLine::defaultPortName(1, dev.path()), dev.filePath(QStringLiteral("ttyS0")));
    QVERIFY(QFile::link(QStringLiteral("/dev/null"), dev.filePath(QStringLiteral("orvalen1"))));
    QCOMPARE(QtSerialLine::defaultPortName(1, dev.path()), dev.filePath(QStringLiteral("orvalen1")));
    QCOMPARE(QtSerialLine::defaultPortName(2, dev.path()), dev.filePath(QStringLiteral("ttyS1")));
    // Chosen at each open: the line names what it would open now.
    QtSerialLine line;
    QCOMPARE(line.portName(), QtSerialLine::defaultPortName(1));
#endif
}

void TestRunLine::startByteThatCannotGoOutStartsNoRun()
{
    Rig rig;
    rig.answerLoads();
    rig.line.failWritesAfter = 6; // the six load requests go out, the start byte does not
    rig.world.endMs = 10'000; // a monitor would retry the failed port for ever
    // No monitor waits for a run the oven never began.
    QVERIFY(rig.run([&rig] { from8031_Click(rig.c); }));
    QCOMPARE(rig.line.sent, (std::vector<int>{1, 2, 3, 4, 5, 6}));
    QVERIFY(!runBook(rig.c).monitorActive);
    QCOMPARE(rig.messages.texts.size(), 1);
    QVERIFY(rig.messages.texts[0].startsWith(QStringLiteral("The run did not start")));
    QVERIFY(rig.messages.texts[0].contains(QStringLiteral("port1")));
}

QTEST_GUILESS_MAIN(TestRunLine)
#include "test_run_line.moc"
