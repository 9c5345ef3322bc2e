#include "oven_model.h"

#include <QTest>

using sim::Controller;
using sim::OvenModel;
using Bytes = std::vector<std::uint8_t>;

namespace {

std::vector<int> readings(const Bytes &frames)
{
    std::vector<int> out;
    for (std::size_t i = 0; i + 2 < frames.size(); i += 3) {
        out.push_back(frames[i] * 256 + frames[i + 1]);
        if (frames[i + 2] != std::uint8_t(frames[i] + frames[i + 1]))
            out.push_back(-1); // a bad check byte shows up as -1
    }
    return out;
}

} // namespace

class TestOvenSim : public QObject
{
    Q_OBJECT

private slots:
    void answersTheProgramsBytes_data();
    void answersTheProgramsBytes();
    void streamsFramesWithCheckByteUntilStopped();
    void ovenHeatsHoldsEachStageThenCools();
    void spedUpOvenStaysWithinSpikeFilter();
    void faultsAreInjectedOnce();
};

void TestOvenSim::answersTheProgramsBytes_data()
{
    QTest::addColumn<bool>("silent");
    QTest::addColumn<Bytes>("sent");
    QTest::addColumn<Bytes>("answers"); // one after the other
    QTest::newRow("read requests, then a byte it does not know")
            << false << Bytes{1, 2, 3, 4, 5, 6, 7} << Bytes{150, 60, 130, 90, 120, 40};
    // It asks for each slot in turn and for none after the sixth; slot values
    // that look like commands are values, not obeyed, as reading back shows.
    QTest::newRow("profile write, read back")
            << false << Bytes{100, 0xAA, 3, 100, 0xBB, 6, 1, 1, 2, 3, 4, 5, 6}
            << Bytes{1, 2, 3, 4, 5, 6, 0xAA, 3, 100, 0xBB, 6, 1};
    QTest::newRow("silent controller") << true << Bytes{1, 100, 0xAA} << Bytes{};
}

void TestOvenSim::answersTheProgramsBytes()
{
    QFETCH(bool, silent);
    QFETCH(Bytes, sent);
    QFETCH(Bytes, answers);
    sim::Options o;
    o.faults.silent = silent;
    Controller c(o);
    Bytes got;
    for (std::uint8_t b : sent)
        for (std::uint8_t answer : c.receive(b, 0))
            got.push_back(answer);
    QCOMPARE(got, answers);
    QVERIFY(!c.running());
    QVERIFY(c.due(100).empty());
}

void TestOvenSim::streamsFramesWithCheckByteUntilStopped()
{
    sim::Options o;
    o.framesPerSecond = 2;
    o.noise = 0;
    Controller c(o);
    QVERIFY(c.receive(0xAA, 0).empty());
    QCOMPARE(c.nextDue(), 0.5);
    const Bytes frames = c.due(10.0);
    QCOMPARE(frames.size(), std::size_t(3 * 20));
    const std::vector<int> r = readings(frames);
    QCOMPARE(r.size(), std::size_t(20));
    QVERIFY(std::find(r.begin(), r.end(), -1) == r.end());
    QVERIFY(r.back() > r.front()); // heating
    c.receive(0xBB, 10.2);
    QVERIFY(c.due(20.0).empty());
    QCOMPARE(c.nextDue(), -1.0);
}

void TestOvenSim::ovenHeatsHoldsEachStageThenCools()
{
    OvenModel oven(1, 0);
    oven.start({100, 20, 50, 20, 80, 20}); // 100, 150, 180 degrees
    std::vector<double> trace;
    for (int s = 0; s < 200; ++s) {
        oven.advance(1);
        trace.push_back(oven.temperature());
    }
    const double peak = *std::max_element(trace.begin(), trace.end());
    QCOMPARE(peak, 180.0);
    // Holds 100 and 150 degrees for their 20 seconds before heating on (the
    // second it arrives counts too).
    QCOMPARE(std::count(trace.begin(), trace.end(), 100.0), 21L);
    QCOMPARE(std::count(trace.begin(), trace.end(), 150.0), 21L);
    QVERIFY(trace.back() < 180); // cooling
    for (std::size_t i = 1; i < trace.size(); ++i)
        QVERIFY(std::abs(trace[i] - trace[i - 1]) <= OvenModel::kHeatRate + 1e-9);
}

void TestOvenSim::spedUpOvenStaysWithinSpikeFilter()
{
    sim::Options o;
    o.timeFactor = 30;
    o.noise = 1;
    Controller c(o);
    c.receive(0xAA, 0);
    const std::vector<int> r = readings(c.due(120));
    QVERIFY(*std::max_element(r.begin(), r.end()) >= 219); // reached stage 3
    for (std::size_t i = 1; i < r.size(); ++i)
        QVERIFY2(std::abs(r[i] - r[i - 1]) <= 10, qPrintable(QString::number(i)));
}

void TestOvenSim::faultsAreInjectedOnce()
{
    sim::Options o;
    o.noise = 0;
    o.faults.spikeAt = 3;
    o.faults.over400At = 6;
    o.faults.burstAt = 9;
    o.faults.burstBytes = 30;
    o.faults.loseByteAt = 12;
    Controller c(o);
    c.receive(0xAA, 0);
    const Bytes bytes = c.due(15.01);
    // 15 frames, a burst of 10 in place of one, and one byte lost.
    QCOMPARE(bytes.size(), std::size_t(3 * (15 - 1 + 10) - 1));
    const std::vector<int> sent = c.readingsSent();
    QVERIFY(std::abs(sent[2] - sent[1] - 60) <= 3); // the spike, on a 2.5 degree rise
    QCOMPARE(sent[5], 450);
    QCOMPARE(std::count(sent.begin(), sent.end(), 450), 1L);
}

QTEST_APPLESS_MAIN(TestOvenSim)
#include "test_oven_sim.moc"
