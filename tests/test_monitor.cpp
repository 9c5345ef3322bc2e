#include "fakes.h"

#include "link/transfer.h"
#include "run/monitor.h"
#include "run/run_start.h"
#include "run/run_stop.h"

#include <QTest>

namespace {

// A Run whose readings come one a second, ended by Stop Communicate at stopAtMs.
void runWith(Rig &rig, const std::vector<int> &readings, qint64 stopAtMs)
{
    rig.world.at(stopAtMs, [&rig] { stopcomm_Click(rig.c); });
    rig.runOven(readings);
}

} // namespace

class TestMonitor : public QObject
{
    Q_OBJECT

private slots:
    void profileFieldsFollowEachFrame();
    void clockStopsAfterFiveHundredSeconds();
    void dateFollowsCalendarWithoutData();
    void stopWithLeftOverTickEndsFirstWaitAtOnce();
    void stopCommunicateCleansCurve_data();
    void stopCommunicateCleansCurve();
    void stopCommunicateTwiceOnlyRenewsStamp();
    void runInsideTransferAbandonsTheTransfer();
};

void TestMonitor::profileFieldsFollowEachFrame()
{
    // The operator's edit during a run is put back from the elements at the
    // next frame, stored as text by the change handling.
    Rig rig;
    rig.world.at(2'000, [&rig] {
        rig.form.type(1, QStringLiteral("999"));
        rig.c.state.stageTemp[1] = 175;
    });
    runWith(rig, {100, 101, 102}, 3'000);
    QCOMPARE(rig.form.fields[0], QStringLiteral("175"));
    QCOMPARE(rig.c.state.stageTemp[1], LooseValue("175"));
    QVERIFY(!rig.form.caption(Form::Caption::Label5).isEmpty());
    QVERIFY(!rig.form.caption(Form::Caption::Label6).isEmpty());
}

void TestMonitor::clockStopsAfterFiveHundredSeconds()
{
    Rig rig;
    std::vector<int> readings(505, 200);
    readings[504] = 205;
    runWith(rig, readings, 505'000);
    QCOMPARE(rig.c.state.runTicks, LooseValue(501));
    QCOMPARE(rig.sample(501), 205.0); // every later frame lands on 501
    QCOMPARE(rig.form.fields[7], QStringLiteral("501"));
    QVERIFY(rig.c.state.samples[502].isEmpty());
    QCOMPARE(rig.timer1.ticks, 501);
}

void TestMonitor::dateFollowsCalendarWithoutData()
{
    Rig rig;
    rig.world.setEpoch(QDateTime(QDate(2024, 5, 9), QTime(23, 59, 50)));
    runWith(rig, {}, 20'000); // a controller that never sends
    const QString first = shortDateText(QDateTime(QDate(2024, 5, 10), QTime(0, 0, 5)));
    QCOMPARE(rig.form.caption(Form::Caption::Label5), first);
    QCOMPARE(rig.c.state.runTicks, LooseValue(0)); // no data, no counting
}

void TestMonitor::stopWithLeftOverTickEndsFirstWaitAtOnce()
{
    Rig rig;
    rig.c.state.timer3Fired = 1;
    rig.run([&rig] { stop_Click(rig.c); });
    QCOMPARE(rig.line.sent.size(), std::size_t(11));
    QCOMPARE(rig.line.sentAt[1], qint64(0)); // the second byte went out at once
    QCOMPARE(rig.line.sentAt[2], qint64(100));
    QCOMPARE(rig.messages.texts, QStringList{QStringLiteral("Vone Stoped")});
    QCOMPARE(rig.line.opens, 1); // opened for the bytes, closed again
    QVERIFY(!rig.line.isOpen());
}

// A negative entry is a second without a reading. How a jump that lasts and
// a second the line was down come through the clean-up, the run's own tests
// show on whole runs.
void TestMonitor::stopCommunicateCleansCurve_data()
{
    QTest::addColumn<QList<double>>("before");
    QTest::addColumn<QList<double>>("after");
    QTest::newRow("10 apart stays") << QList<double>{0, 0, 0, 0, 10, 20, 30, 0}
                                    << QList<double>{0, 0, 0, 0, 10, 20, 30, 0};
    QTest::newRow("11 apart is held level")
            << QList<double>{5, 5, 5, 5, 16, 27, 38, 20} << QList<double>{5, 5, 5, 5, 5, 5, 5, 20};
    QTest::newRow("first four untouched")
            << QList<double>{0, 90, 0, 90, 90, 91, 0, 0} << QList<double>{0, 90, 0, 90, 90, 91, 91, 0};
    QTest::newRow("two silent seconds are filled, three stay empty")
            << QList<double>{50, 50, 50, 50, 80, -1, -1, 50, -1, -1, -1, 50, 50}
            << QList<double>{50, 50, 50, 50, 50, 50, 50, 50, -1, -1, -1, 50, 50};
}

void TestMonitor::stopCommunicateCleansCurve()
{
    QFETCH(QList<double>, before);
    QFETCH(QList<double>, after);
    Rig rig;
    for (int k = 0; k < before.size(); ++k)
        if (before[k] >= 0)
            rig.c.state.samples[std::size_t(k)] = before[k];
    const int ticks = int(before.size()) - 1; // the clock's last entry is never changed
    rig.c.state.runTicks = ticks;
    stopcomm_Click(rig.c);
    for (int k = 0; k < after.size(); ++k) {
        if (after[k] < 0)
            QVERIFY2(rig.c.state.samples[std::size_t(k)].isEmpty(), qPrintable(QString::number(k)));
        else
            QCOMPARE(rig.sample(k), after[k]);
    }
    QCOMPARE(rig.c.state.loopIndex, LooseValue(ticks));
}

void TestMonitor::stopCommunicateTwiceOnlyRenewsStamp()
{
    Rig rig;
    rig.c.state.runTicks = 3;
    stopcomm_Click(rig.c);
    QCOMPARE(rig.c.state.loopIndex, LooseValue(4)); // a short run leaves 4
    // A jump that lasts, held three seconds by the first clean-up only; Stop
    // after Stop Communicate cleans a second time too.
    for (int k = 0; k < 14; ++k)
        rig.c.state.samples[std::size_t(k)] = k < 6 ? 100 : 140;
    rig.c.state.runTicks = 14;
    stopcomm_Click(rig.c);
    const auto cleaned = rig.c.state.samples;
    QCOMPARE(rig.sample(8), 100.0);
    QCOMPARE(rig.sample(9), 140.0);
    rig.world.at(61'000, [] {});
    rig.run([&rig] { rig.world.pumpEvents(); });
    stopcomm_Click(rig.c);
    QCOMPARE(rig.line.opens, 0); // Stop Communicate opens no port
    rig.run([&rig] { stop_Click(rig.c); });
    QVERIFY(rig.c.state.samples == cleaned);
    QCOMPARE(rig.c.state.loopIndex, LooseValue(14));
    QCOMPARE(rig.c.state.runStamp[4], LooseValue(4)); // a minute later
}

void TestMonitor::runInsideTransferAbandonsTheTransfer()
{
    Rig rig;
    rig.form.typeProfile(QStringList(6, QStringLiteral("100")));
    rig.answerLoads();
    rig.onRunStart = [&rig](qint64 t) { rig.frameAt(t + 100, 200); };
    bool transferReturned = false;
    bool secondRunReturned = false;
    rig.world.at(5'000, [&] {
        to8031_Click(rig.c);
        transferReturned = true;
    });
    rig.world.at(6'000, [&] {
        from8031_Click(rig.c);
        secondRunReturned = true;
    });
    rig.world.at(9'000, [&rig] { stopcomm_Click(rig.c); });
    rig.run([&rig] { from8031_Click(rig.c); });
    QVERIFY(secondRunReturned);
    QVERIFY(transferReturned); // gave up on the way back to the monitor
    QVERIFY(!rig.messages.texts.contains(QStringLiteral("ok!")));
    QCOMPARE(std::count(rig.line.sent.begin(), rig.line.sent.end(), 0xAA), 2L);
    QVERIFY(rig.world.maxDepth <= 3);
    QCOMPARE(rig.form.fields[7], QStringLiteral("0")); // the one monitor began afresh: its clock at 0
}

QTEST_GUILESS_MAIN(TestMonitor)
#include "test_monitor.moc"
