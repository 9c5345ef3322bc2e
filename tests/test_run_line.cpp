// A run against what real benches do to its line: cables pulled and put back,
// junk and lost bytes, readings the spike filter must not lock on, a Stop that
// cannot reach the oven, a Parameter Load that cannot finish. All in virtual
// time with a scripted controller.
#include "fakes.h"

#include "link/frame.h"
#include "link/load.h"
#include "link/qt_serial_line.h"
#include "link/transfer.h"
#include "run/monitor.h"
#include "run/run_book.h"
#include "run/run_start.h"
#include "run/run_stop.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <optional>

namespace {

constexpr std::array<int, 6> kProfile{150, 60, 130, 90, 120, 40};

// The controller answers Parameter Load; from the start byte on it sends
// reading(k) at second k (a negative value is a silent second).
struct Oven
{
    explicit Oven(Rig &r, std::function<int(int)> readingAt, int seconds = 60)
        : rig(r), reading(std::move(readingAt)), length(seconds)
    {
        rig.answerLoads(kProfile);
        rig.onRunStart = [this](qint64 t) {
            start = t;
            for (int k = 0; k < length; ++k)
                rig.world.at(t + 500 + 1000 * k, [this, k] {
                    const int v = reading(k);
                    if (v >= 0) {
                        const auto bytes = frame::encode(v);
                        rig.line.arrive({bytes[0], bytes[1], bytes[2]});
                    }
                });
            if (script)
                script();
        };
    }
    // What else happens in the run, scheduled once it has started.
    std::function<void()> script;
    // Virtual time of second k of the run (its beginning).
    [[nodiscard]] qint64 second(int k) const { return start + 1000 * k; }
    Rig &rig;
    std::function<int(int)> reading;
    int length;
    qint64 start = -1;
};

int countOf(const std::vector<int> &bytes, int b) { return int(std::count(bytes.begin(), bytes.end(), b)); }

std::array<LooseValue, 6> stampAt(qint64 ms)
{
    const QDateTime t = QDateTime(QDate(2024, 5, 9), QTime(14, 3, 27)).addMSecs(ms);
    return {t.date().year(), t.date().month(),  t.date().day(),
            t.time().hour(), t.time().minute(), t.time().second()};
}

} // namespace

class TestRunLine : public QObject
{
    Q_OBJECT

private slots:
    void cablePutBackWhileNoticeStaysOpen();
    void cablePulledTwentyTimesInOneRun();
    void stopCommunicateDuringOutageEndsRetries();
    void replugAfterOvenMovedFilterFollows();
    void stopWithPortFailingAfterThreeBytes();
    void stopWhileCableIsOut();
    void stopCommunicateUnderStopsWaits();
    void junkAtRunStartCostsAFewFrames_data();
    void junkAtRunStartCostsAFewFrames();
    void firstReadingAboveLimitDoesNotLockFilter();
    void lateFirstReadingFarFromLastRun();
    void brokenThermocoupleToldOnce();
    void faultOutsideRunIsToldAndNothingEnds();
    void loadWithPortThatCannotOpenChangesNothing();
    void loadClosedUnderItsWaitNeverResumes();
    void startByteThatCannotGoOutStartsNoRun();
    void runsInsideSilentLoadKeepStackFlat();
    void adapterNameChosenWhereItExists();
};

void TestRunLine::cablePutBackWhileNoticeStaysOpen()
{
    Rig rig;
    Oven oven(rig, [](int k) { return 150 + k / 4; });
    oven.script = [&rig, &oven] {
        rig.world.at(oven.second(10) + 700, [&rig] { rig.line.unplug(); });
        rig.world.at(oven.second(20), [&rig] { rig.line.replug(); });
        rig.world.at(oven.second(40) + 300, [&rig] { stopcomm_Click(rig.c); });
    };
    std::array<LooseValue, SharedState::kSampleCount> live;
    rig.world.at(40'000, [&] { live = rig.c.state.samples; });
    rig.run([&rig] { from8031_Click(rig.c); });

    // Nothing held the monitor off: no modal box at all, two notices.
    QVERIFY2(rig.messages.texts.isEmpty(), qPrintable(rig.messages.texts.join(u'|')));
    QCOMPARE(rig.messages.notices.size(), 2);
    QVERIFY(rig.messages.notices[0].contains(QStringLiteral("lost")));
    QVERIFY(rig.messages.notices[0].contains(QStringLiteral("port1 disappeared")));
    QVERIFY(rig.messages.notices[1].contains(QStringLiteral("back")));
    QCOMPARE(rig.messages.noticeAt[0], oven.second(10) + 700);
    QVERIFY(rig.messages.noticeAt[1] <= oven.second(21));
    // The clock kept its pace; the seconds of the outage have no reading; the
    // readings after the cable came back landed at their own seconds.
    QCOMPARE(rig.c.state.runTicks, LooseValue(40));
    for (int k = 0; k < 40; ++k) {
        if (k > 10 && k < 20)
            QVERIFY2(live[std::size_t(k)].isEmpty(), qPrintable(QString::number(k)));
        else
            QCOMPARE(live[std::size_t(k)], LooseValue(150 + k / 4));
    }
    // Stop Communicate's clean-up leaves them empty: no reading came.
    for (int k = 11; k < 20; ++k)
        QVERIFY(rig.c.state.samples[std::size_t(k)].isEmpty());
    QCOMPARE(rig.sample(20), 155.0);
    QCOMPARE(rig.line.opens, 2);
    // Stopped at the operator's moment, not a box's.
    QCOMPARE(rig.c.state.runStamp, stampAt(oven.second(40) + 300));
    QVERIFY(!runBook(rig.c).runLine.outage);
}

void TestRunLine::cablePulledTwentyTimesInOneRun()
{
    Rig rig;
    Oven oven(
            rig, [](int k) { return 100 + k / 10; }, 70);
    oven.script = [&rig, &oven] {
        for (int i = 0; i < 20; ++i) {
            rig.world.at(oven.second(3 * i + 2) + 700, [&rig] { rig.line.unplug(); });
            rig.world.at(oven.second(3 * i + 3) + 800, [&rig] { rig.line.replug(); });
        }
        rig.world.at(oven.second(65) + 100, [&rig] { stopcomm_Click(rig.c); });
    };
    std::array<LooseValue, SharedState::kSampleCount> live;
    rig.world.at(64'000, [&] { live = rig.c.state.samples; });
    rig.run([&rig] { from8031_Click(rig.c); });
    QVERIFY(rig.messages.texts.isEmpty());
    QCOMPARE(rig.messages.notices.size(), 40);
    QCOMPARE(rig.line.opens, 21);
    QVERIFY2(rig.world.maxDepth <= 2, qPrintable(QString::number(rig.world.maxDepth)));
    QCOMPARE(rig.c.state.runTicks, LooseValue(65));
    // Out from x.7 of second 3i+2 to the retry at 3i+4: second 3i+3 has no
    // reading, every other second has its own.
    for (int k = 0; k < 62; ++k) {
        if (k >= 3 && k % 3 == 0)
            QVERIFY2(live[std::size_t(k)].isEmpty(), qPrintable(QString::number(k)));
        else
            QCOMPARE(live[std::size_t(k)], LooseValue(100 + k / 10));
    }
}

void TestRunLine::stopCommunicateDuringOutageEndsRetries()
{
    Rig rig;
    Oven oven(rig, [](int) { return 120; });
    oven.script = [&rig, &oven] {
        rig.world.at(oven.second(5) + 200, [&rig] { rig.line.unplug(); });
        rig.world.at(oven.second(8) + 100, [&rig] { stopcomm_Click(rig.c); });
        rig.world.at(oven.second(12), [&rig] { rig.line.replug(); });
    };
    rig.world.endMs = 30'000;
    rig.run([&rig] { from8031_Click(rig.c); });
    QCOMPARE(rig.messages.notices.size(), 1); // lost; never back
    QCOMPARE(rig.line.opens, 1);
    QVERIFY(!rig.line.isOpen());
    QCOMPARE(rig.c.state.runTicks, LooseValue(8));
    QCOMPARE(rig.c.state.runStamp, stampAt(oven.second(8) + 100));
    QVERIFY(!rig.timer1.isEnabled());
}

void TestRunLine::replugAfterOvenMovedFilterFollows()
{
    Rig rig;
    Oven oven(rig, [](int k) { return k < 10 ? 100 : 140; });
    oven.script = [&rig, &oven] {
        rig.world.at(oven.second(6) + 700, [&rig] { rig.line.unplug(); });
        rig.world.at(oven.second(14), [&rig] { rig.line.replug(); });
        rig.world.at(oven.second(30) + 100, [&rig] { stopcomm_Click(rig.c); });
    };
    std::array<LooseValue, SharedState::kSampleCount> live;
    rig.world.at(30'000, [&] { live = rig.c.state.samples; });
    rig.run([&rig] { from8031_Click(rig.c); });
    // Three readings held at the old reference, then the oven's own.
    for (int k = 14; k <= 16; ++k)
        QCOMPARE(live[std::size_t(k)], LooseValue(100));
    for (int k = 17; k < 30; ++k)
        QCOMPARE(live[std::size_t(k)], LooseValue(140));
    QCOMPARE(rig.c.state.prevTemp, 140.0);
    // The clean-up holds three more, and then follows the oven too.
    for (int k = 17; k <= 19; ++k)
        QCOMPARE(rig.sample(k), 100.0);
    for (int k = 20; k < 30; ++k)
        QCOMPARE(rig.sample(k), 140.0);
}

void TestRunLine::stopWithPortFailingAfterThreeBytes()
{
    Rig rig;
    Oven oven(rig, [](int) { return 200; });
    oven.script = [&rig, &oven] {
        rig.world.at(oven.second(5) + 100, [&rig] {
            rig.line.failWritesAfter = 3;
            stop_Click(rig.c);
        });
    };
    rig.world.endMs = 20'000;
    rig.run([&rig] { from8031_Click(rig.c); });
    QCOMPARE(countOf(rig.line.sent, 0xBB), 3);
    QVERIFY(!rig.messages.texts.contains(QStringLiteral("Vone Stoped")));
    QVERIFY(rig.messages.texts.isEmpty());
    const QString warning = rig.messages.notices.last();
    QCOMPARE(rig.messages.noticeTopics.back(), MessageService::Topic::Stop);
    QVERIFY2(warning.contains(QStringLiteral("NOT")) && warning.contains(QStringLiteral("3 of the 11")),
             qPrintable(warning));
    // Stop Communicate was carried out all the same.
    QVERIFY(!rig.line.isOpen());
    QVERIFY(!rig.timer1.isEnabled());
    QVERIFY(!rig.timer3.isEnabled());
    QCOMPARE(rig.c.state.runFlag, LooseValue(0));
    QVERIFY(!runBook(rig.c).runLine.live && !runBook(rig.c).runLine.outage);
}

void TestRunLine::stopWhileCableIsOut()
{
    Rig rig;
    Oven oven(rig, [](int) { return 200; });
    oven.script = [&rig, &oven] {
        rig.world.at(oven.second(3) + 700, [&rig] { rig.line.unplug(); });
        rig.world.at(oven.second(6) + 100, [&rig] { stop_Click(rig.c); });
    };
    rig.world.endMs = 20'000;
    rig.run([&rig] { from8031_Click(rig.c); });
    QCOMPARE(countOf(rig.line.sent, 0xBB), 0);
    QVERIFY(rig.messages.texts.isEmpty()); // nothing modal: the run is not held
    QCOMPARE(rig.messages.notices.size(), 2);
    QVERIFY2(rig.messages.notices[1].contains(QStringLiteral("0 of the 11"))
                     && rig.messages.notices[1].contains(QStringLiteral("cannot be opened")),
             qPrintable(rig.messages.notices[1]));
    QCOMPARE(rig.c.state.runStamp, stampAt(oven.second(6) + 100));
    QCOMPARE(rig.c.state.runTicks, LooseValue(6));
    QVERIFY(!rig.timer1.isEnabled());
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
    Oven oven(
            rig, [](int k) { return 25 + 2 * k; }, 40);
    oven.script = [&rig, &oven, junkBytes, seed] {
        QRandomGenerator random(seed);
        QByteArray junk;
        for (int i = 0; i < junkBytes; ++i)
            junk.append(char(random.bounded(256)));
        rig.world.at(oven.second(0) + 100, [&rig, junk] { rig.line.arrive(junk); });
        rig.world.at(oven.second(40) + 100, [&rig] { stopcomm_Click(rig.c); });
    };
    rig.run([&rig] { from8031_Click(rig.c); });
    QVERIFY2(rig.messages.notices.count(QStringLiteral("Communication Error!")) <= 1,
             qPrintable(QString::number(rig.messages.notices.size())));
    // From the fifth second on every reading is the oven's own.
    for (int k = 5; k < 40; ++k)
        QCOMPARE(rig.sample(k), double(25 + 2 * k));
}

void TestRunLine::firstReadingAboveLimitDoesNotLockFilter()
{
    Rig rig;
    Oven oven(rig, [](int k) { return k == 0 ? 450 : 25; });
    rig.world.at(20'300, [&rig] { stopcomm_Click(rig.c); });
    rig.run([&rig] { from8031_Click(rig.c); });
    QCOMPARE(rig.messages.notices, QStringList{QStringLiteral("Communication Error!")});
    QCOMPARE(rig.sample(0), 450.0); // stored and told, but no reference
    for (int k = 1; k < 20; ++k)
        QCOMPARE(rig.sample(k), 25.0);
    QCOMPARE(rig.c.state.prevTemp, 25.0);
}

void TestRunLine::lateFirstReadingFarFromLastRun()
{
    Rig rig;
    int run = 0;
    std::array<LooseValue, SharedState::kSampleCount> live;
    rig.answerLoads(kProfile);
    rig.onRunStart = [&](qint64 t) {
        if (++run == 1) {
            for (int k = 0; k < 10; ++k)
                rig.frameAt(t + 500 + 1000 * k, 200);
            rig.world.at(t + 10'200, [&rig] { stopcomm_Click(rig.c); });
            rig.world.at(t + 12'000, [&rig] { from8031_Click(rig.c); });
            return;
        }
        // A stray byte starts the clock; the first reading comes in second 4,
        // 100 ℃ below the last run's.
        rig.world.at(t + 100, [&rig] { rig.line.arrive({0x42}); });
        for (int k = 4; k < 20; ++k)
            rig.world.at(t + 600 + 1000 * k, [&rig] { rig.line.arrive({0, 100, 100}); });
        rig.world.at(t + 20'300, [&] { live = rig.c.state.samples; });
        rig.world.at(t + 20'400, [&rig] { stopcomm_Click(rig.c); });
    };
    rig.run([&rig] { from8031_Click(rig.c); });
    QCOMPARE(run, 2);
    QVERIFY(rig.messages.texts.isEmpty());
    for (int k = 4; k <= 6; ++k) // held at the last run's reference three times
        QCOMPARE(live[std::size_t(k)], LooseValue(200));
    for (int k = 7; k < 20; ++k)
        QCOMPARE(live[std::size_t(k)], LooseValue(100));
}

void TestRunLine::brokenThermocoupleToldOnce()
{
    Rig rig;
    Oven oven(
            rig, [](int k) { return (k >= 5 && k < 15) || k >= 20 ? 999 : 30; }, 30);
    rig.world.at(30'300, [&rig] { stopcomm_Click(rig.c); });
    rig.run([&rig] { from8031_Click(rig.c); });
    // Two series above 400, each told once in a notice; a reading at 30
    // between re-arms. A jump above 400 is taken once it lasts three frames.
    // Nothing modal held the run: the seconds behind the notice have readings.
    QCOMPARE(rig.messages.notices.count(QStringLiteral("Communication Error!")), 2);
    QCOMPARE(rig.messages.noticeTopics.front(), MessageService::Topic::Reading);
    QVERIFY(rig.messages.texts.isEmpty());
    for (int k : {7, 8, 9, 10, 11, 12, 13, 14, 22, 23, 24, 25, 26, 27, 28, 29})
        QVERIFY2(!rig.c.state.samples[std::size_t(k)].isEmpty(), qPrintable(QString::number(k)));
    QCOMPARE(rig.c.state.prevTemp, 30.0); // never the reference
}

void TestRunLine::faultOutsideRunIsToldAndNothingEnds()
{
    Rig rig;
    rig.c.state.runStamp = stampAt(0);
    rig.c.state.runTicks = 12;
    rig.line.onSent = [&](int b) {
        if (b == 1)
            rig.world.after(5, [&] { rig.line.arrive({77}); });
        if (b == 2)
            rig.world.after(5, [&] { rig.line.fail(QStringLiteral("the line on port1 hung up or failed")); });
    };
    rig.world.at(60'000, [] {});
    rig.run([&rig] { getcanshu_Click(rig.c); });
    QCOMPARE(rig.messages.texts.size(), 1);
    QVERIFY(rig.messages.texts[0].contains(QStringLiteral("hung up")));
    QVERIFY(rig.messages.notices.isEmpty());
    QVERIFY(!rig.line.isOpen());
    // Not a run: its stamp, clock and samples stay as they were.
    QCOMPARE(rig.c.state.runStamp, stampAt(0));
    QCOMPARE(rig.c.state.runTicks, LooseValue(12));
    // The next command opens the port again.
    rig.line.onSent = {};
    rig.answerLoads(kProfile);
    rig.run([&rig] { getcanshu_Click(rig.c); });
    QCOMPARE(rig.form.fields[0], QStringLiteral("150"));
    QCOMPARE(rig.line.opens, 2);
}

void TestRunLine::loadWithPortThatCannotOpenChangesNothing()
{
    Rig rig;
    const QStringList typed{QStringLiteral("140"), QStringLiteral("50"),  QStringLiteral("210"),
                            QStringLiteral("80"),  QStringLiteral("235"), QStringLiteral("30")};
    for (int n = 1; n <= 6; ++n)
        rig.form.type(n, typed[n - 1]);
    const SharedState before = rig.c.state;
    rig.line.openError = QStringLiteral("no such device");
    rig.run([&rig] { getcanshu_Click(rig.c); });
    QCOMPARE(rig.messages.texts.size(), 1);
    QVERIFY(rig.line.sent.empty());
    QCOMPARE(rig.c.state.stageTemp, before.stageTemp);
    QCOMPARE(rig.c.state.stageTime, before.stageTime);
    for (int n = 1; n <= 6; ++n)
        QCOMPARE(rig.form.fields[n - 1], typed[n - 1]);
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
