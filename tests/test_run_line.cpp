// A run against what real benches do to its line: cables pulled and put back,
// junk and lost bytes, readings the spike filter must not lock on, a Stop that
// cannot reach the oven, a Parameter Load that cannot finish. All in virtual
// time with a scripted controller.
#include "fakes.h"

#include "link/load.h"
#include "link/qt_serial_line.h"
#include "link/transfer.h"
#include "run/monitor.h"
#include "run/run_book.h"
#include "run/run_start.h"
#include "run/run_stop.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <optional>

namespace {

using Readings = std::vector<int>;
using Seconds = QList<int>;
using Times = QList<qint64>;

constexpr std::array<int, 6> kProfile{150, 60, 130, 90, 120, 40};

// A Run on a controller that answers Parameter Load and then sends readings[k]
// at second k (a negative one is a silent second); `then` schedules the rest of
// the scenario from the start byte's time on.
void runOven(Rig &rig, const Readings &readings, const std::function<void(qint64)> &then = {})
{
    rig.answerLoads(kProfile);
    rig.onRunStart = [&rig, readings, then](qint64 t) {
        rig.framesEverySecond(t, readings);
        if (then)
            then(t);
    };
    rig.run([&rig] { from8031_Click(rig.c); });
}

Readings along(int seconds, const std::function<int(int)> &reading)
{
    Readings r;
    for (int k = 0; k < seconds; ++k)
        r.push_back(reading(k));
    return r;
}

int countOf(const std::vector<int> &bytes, int b) { return int(std::count(bytes.begin(), bytes.end(), b)); }

std::array<LooseValue, 6> stampAt(qint64 ms)
{
    const QDateTime t = QDateTime(QDate(2024, 5, 9), QTime(14, 3, 27)).addMSecs(ms);
    return {t.date().year(), t.date().month(),  t.date().day(),
            t.time().hour(), t.time().minute(), t.time().second()};
}

// The samples of seconds 0..n-1 as they should read: no reading in a second
// of `none`, and in a `held` second the last value before it in the oven's
// range (what the filters hold to).
std::vector<std::optional<double>>
expect(const std::vector<std::optional<double>> &from, const Seconds &none, const Seconds &held)
{
    std::vector<std::optional<double>> out(from.size());
    std::optional<double> last;
    for (std::size_t k = 0; k < from.size(); ++k) {
        out[k] = none.contains(int(k)) ? std::nullopt : held.contains(int(k)) ? last : from[k];
        if (out[k] && *out[k] <= 400)
            last = out[k];
    }
    return out;
}

} // namespace

class TestRunLine : public QObject
{
    Q_OBJECT

private slots:
    void runThroughWhatTheLineDoes_data();
    void runThroughWhatTheLineDoes();
    void stopCommunicateUnderStopsWaits();
    void junkAtRunStartCostsAFewFrames_data();
    void junkAtRunStartCostsAFewFrames();
    void lateFirstReadingFarFromLastRun();
    void loadClosedUnderItsWaitNeverResumes();
    void startByteThatCannotGoOutStartsNoRun();
    void runsInsideSilentLoadKeepStackFlat();
    void adapterNameChosenWhereItExists();
};

// Times are from the start byte on; the oven's reading of second k comes at
// k.5 s. Stop (the button) or Stop Communicate ends each run; the samples are
// checked as the run left them at that moment and after the clean-up.
void TestRunLine::runThroughWhatTheLineDoes_data()
{
    QTest::addColumn<Readings>("readings");
    QTest::addColumn<Times>("unplugs");
    QTest::addColumn<Times>("replugs");
    QTest::addColumn<bool>("stopButton"); // Stop, or else Stop Communicate
    QTest::addColumn<qint64>("stopAt");
    QTest::addColumn<int>("failWritesAfter"); // from the stop on; -1: none fails
    // What came of it.
    QTest::addColumn<int>("notices");
    QTest::addColumn<QString>("lastNotice"); // its parts, split by '|'; empty: not checked
    QTest::addColumn<int>("lastTopic");
    QTest::addColumn<int>("opens");
    QTest::addColumn<int>("failedOpens"); // at each pull, then once a whole second until back
    QTest::addColumn<int>("stopBytes");
    QTest::addColumn<int>("runTicks");
    QTest::addColumn<qint64>("stampedAt");
    QTest::addColumn<Seconds>("none"); // seconds without a reading
    QTest::addColumn<Seconds>("held"); // seconds shown at the last reading before them
    QTest::addColumn<Seconds>("cleaned"); // seconds the clean-up then holds the same way
    QTest::addColumn<double>("prevTemp");
    const auto line = int(MessageService::Topic::Line), stop = int(MessageService::Topic::Stop),
               reading = int(MessageService::Topic::Reading);

    QTest::newRow("cable out 10.7-20 s, put back while its notice stays open")
            << along(60, [](int k) { return 150 + k / 4; }) << Times{10'700} << Times{20'000} << false
            << qint64(40'300) << -1 << 2 << "back" << line << 2 << 10 << 0 << 40 << qint64(40'300)
            << Seconds{11, 12, 13, 14, 15, 16, 17, 18, 19} << Seconds{} << Seconds{} << 159.0;
    Times out, in;
    Seconds lost;
    for (int i = 0; i < 20; ++i) {
        out << 3'000 * i + 2'700;
        in << 3'000 * i + 3'800;
        lost << 3 * i + 3; // from the pull to the retry at the next whole second
    }
    QTest::newRow("cable pulled twenty times")
            << along(70, [](int k) { return 100 + k / 10; }) << out << in << false << qint64(65'100) << -1
            << 40 << "back" << line << 21 << 40 << 0 << 65 << qint64(65'100) << lost << Seconds{} << Seconds{}
            << 106.0;
    QTest::newRow("Stop Communicate in an outage ends the retries")
            << Readings(60, 120) << Times{5'200} << Times{12'000} << false << qint64(8'100) << -1 << 1
            << "lost" << line << 1 << 4 << 0 << 8 << qint64(8'100) << Seconds{5, 6, 7} << Seconds{}
            << Seconds{} << 120.0;
    QTest::newRow("put back after the oven moved on: the filter follows")
            << along(60, [](int k) { return k < 10 ? 100 : 140; }) << Times{6'700} << Times{14'000} << false
            << qint64(30'100) << -1 << 2 << "back" << line << 2 << 8 << 0 << 30 << qint64(30'100)
            << Seconds{7, 8, 9, 10, 11, 12, 13} << Seconds{14, 15, 16} << Seconds{17, 18, 19} << 140.0;
    QTest::newRow("Stop while the cable is out")
            << Readings(60, 200) << Times{3'700} << Times{} << true << qint64(6'100) << -1 << 2
            << "0 of the 11|cannot be opened" << stop << 1 << 5 << 0 << 6 << qint64(6'100) << Seconds{4, 5}
            << Seconds{} << Seconds{} << 200.0;
    // The failing port is told as a lost line first, then what Stop could not do.
    QTest::newRow("Stop on a port that fails after three bytes")
            << Readings(60, 200) << Times{} << Times{} << true << qint64(5'100) << 3 << 2 << "NOT|3 of the 11"
            << stop << 1 << 0 << 3 << 6 << qint64(6'200) << Seconds{} << Seconds{} << Seconds{} << 200.0;
    // Told, stored, but never the filter's reference: the filter cannot lock.
    QTest::newRow("first reading above 400")
            << along(30, [](int k) { return k == 0 ? 450 : 25; }) << Times{} << Times{} << false
            << qint64(20'300) << -1 << 1 << "Communication Error!" << reading << 1 << 0 << 0 << 20
            << qint64(20'300) << Seconds{} << Seconds{} << Seconds{} << 25.0;
    // Two series above 400, each told once; a jump above 400 is taken once it
    // lasts three frames, and then held like any spike.
    QTest::newRow("broken thermocouple, twice")
            << along(30, [](int k) { return (k >= 5 && k < 15) || k >= 20 ? 999 : 30; }) << Times{} << Times{}
            << false << qint64(30'300) << -1 << 2 << "Communication Error!" << reading << 1 << 0 << 0 << 30
            << qint64(30'300) << Seconds{5, 6, 20, 21} << Seconds{7, 8, 9, 11, 12, 13, 22, 23, 24, 26, 27, 28}
            << Seconds{5, 6, 10, 14, 20, 21, 25, 29} << 30.0;
}

void TestRunLine::runThroughWhatTheLineDoes()
{
    QFETCH(Readings, readings);
    QFETCH(Times, unplugs);
    QFETCH(Times, replugs);
    QFETCH(bool, stopButton);
    QFETCH(qint64, stopAt);
    QFETCH(int, failWritesAfter);
    Rig rig;
    qint64 start = -1;
    std::array<LooseValue, SharedState::kSampleCount> live;
    runOven(rig, readings, [&](qint64 t) {
        start = t;
        for (qint64 ms : unplugs)
            rig.world.at(t + ms, [&rig] { rig.line.unplug(); });
        for (qint64 ms : replugs)
            rig.world.at(t + ms, [&rig] { rig.line.replug(); });
        rig.world.at(t + stopAt, [&] {
            live = rig.c.state.samples;
            rig.line.failWritesAfter = failWritesAfter;
            stopButton ? stop_Click(rig.c) : stopcomm_Click(rig.c);
        });
        rig.world.endMs = t + stopAt + 10'000; // long enough for retries that should not come
    });

    const FakeMessages &m = rig.messages;
    QVERIFY2(m.texts.isEmpty(), qPrintable(m.texts.join(u'|'))); // nothing modal held the run
    QTEST(int(m.notices.size()), "notices");
    // Each pull is told when it happens, each return within the second after.
    std::vector<std::pair<qint64, bool>> pulls;
    for (qint64 ms : unplugs)
        pulls.emplace_back(ms, true);
    for (qint64 ms : replugs)
        if (ms < stopAt)
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
    QFETCH(QString, lastNotice);
    for (const QString &part : lastNotice.split(u'|'))
        QVERIFY2(m.notices.last().contains(part), qPrintable(m.notices.last()));
    QTEST(int(m.noticeTopics.back()), "lastTopic");

    QTEST(rig.line.opens, "opens");
    QTEST(int(rig.line.log.count(QStringLiteral("open"))) - rig.line.opens, "failedOpens");
    QTEST(countOf(rig.line.sent, 0xBB), "stopBytes");
    QTEST(int(rig.c.state.runTicks.leadingNumber()), "runTicks");
    QFETCH(qint64, stampedAt);
    QCOMPARE(rig.c.state.runStamp, stampAt(start + stampedAt));
    QVERIFY2(rig.world.maxDepth <= 2, qPrintable(QString::number(rig.world.maxDepth)));
    // The run has ended and nothing of it goes on.
    QVERIFY(!rig.line.isOpen());
    QVERIFY(!rig.timer1.isEnabled() && !rig.timer3.isEnabled());
    QCOMPARE(rig.c.state.runFlag, LooseValue(0));
    QVERIFY(!runBook(rig.c).runLine.live && !runBook(rig.c).runLine.outage);
    QTEST(rig.c.state.prevTemp, "prevTemp");

    // The seconds before the stop: the oven's own readings at their seconds,
    // but where none came or the filter held one; the clean-up then.
    QFETCH(Seconds, none);
    QFETCH(Seconds, held);
    QFETCH(Seconds, cleaned);
    std::vector<std::optional<double>> oven;
    for (int k = 0; k < stopAt / 1000; ++k)
        oven.emplace_back(readings[std::size_t(k)]);
    const auto shown = expect(oven, none, held);
    const auto kept = expect(shown, {}, cleaned);
    for (std::size_t k = 0; k < shown.size(); ++k) {
        const auto value = [](const LooseValue &v) {
            return v.isEmpty() ? std::nullopt : std::optional<double>(v.leadingNumber());
        };
        QVERIFY2(value(live[k]) == shown[k], qPrintable(QStringLiteral("second %1 during the run").arg(k)));
        QVERIFY2(value(rig.c.state.samples[k]) == kept[k],
                 qPrintable(QStringLiteral("second %1 after").arg(k)));
    }
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
    runOven(rig, along(40, [](int k) { return 25 + 2 * k; }), [&rig, junkBytes, seed](qint64 t) {
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

void TestRunLine::lateFirstReadingFarFromLastRun()
{
    Rig rig;
    rig.c.state.prevTemp = 200; // the last run's reference
    // A stray byte starts the clock; the first reading comes in second 4, 100 ℃
    // below the last run's.
    Readings readings(20, 100);
    std::fill_n(readings.begin(), 4, -1);
    std::array<LooseValue, SharedState::kSampleCount> live;
    runOven(rig, readings, [&](qint64 t) {
        rig.world.at(t + 100, [&rig] { rig.line.arrive({0x42}); });
        rig.world.at(t + 20'300, [&] {
            live = rig.c.state.samples;
            stopcomm_Click(rig.c);
        });
    });
    QVERIFY(rig.messages.texts.isEmpty());
    for (int k = 4; k < 20; ++k) // held at the last run's reference three times
        QCOMPARE(live[std::size_t(k)], LooseValue(k <= 6 ? 200 : 100));
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
    rig.world.at(1'500, [&rig] { rig.form.type(2, QStringLiteral("66")); });
    rig.world.at(2'000, [&rig] { stopcomm_Click(rig.c); });
    rig.world.at(3'000, [&] { afterStop = rig.c.state; });
    rig.world.at(4'000, [&] {
        rig.answerLoads(kProfile);
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
        rig.answerLoads(kProfile);
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
    QCOMPARE(rig.form.fields[2], QStringLiteral("230"));
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
    rig.answerLoads(kProfile);
    rig.line.failWritesAfter = 6; // the six load requests go out, the start byte does not
    bool returned = false;
    rig.run([&] {
        from8031_Click(rig.c);
        returned = true;
    });
    QVERIFY(returned); // no monitor waits for a run the oven never began
    QCOMPARE(rig.line.sent, (std::vector<int>{1, 2, 3, 4, 5, 6}));
    QVERIFY(!runBook(rig.c).monitorActive);
    QCOMPARE(rig.messages.texts.size(), 1);
    QVERIFY(rig.messages.texts[0].startsWith(QStringLiteral("The run did not start")));
    QVERIFY(rig.messages.texts[0].contains(QStringLiteral("port1")));
}

QTEST_GUILESS_MAIN(TestRunLine)
#include "test_run_line.moc"
