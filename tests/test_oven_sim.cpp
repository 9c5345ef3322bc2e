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
    void answersReadRequests();
    void takesProfileWriteAtItsPace();
    void streamsFramesWithCheckByteUntilStopped();
    void ovenHeatsHoldsEachStageThenCools();
    void spedUpOvenStaysWithinSpikeFilter();
    void faultsAreInjectedOnce();
    void silentControllerSendsNothing();
};

void TestOvenSim::answersReadRequests()
{
    Controller c(sim::Options{});
    Bytes answers;
    for (std::uint8_t k = 1; k <= 6; ++k)
        answers.push_back(c.receive(k, 0).at(0));
    QCOMPARE(answers, (Bytes{150, 60, 130, 90, 120, 40}));
    QVERIFY(c.receive(7, 0).empty()); // not a command it knows
}

void TestOvenSim::takesProfileWriteAtItsPace()
{
    Controller c(sim::Options{});
    QCOMPARE(c.receive(100, 0).size(), std::size_t(1)); // asks for slot 1
    const Bytes profile{160, 40, 110, 30, 135, 25};
    for (std::size_t i = 0; i < 6; ++i) {
        const Bytes reply = c.receive(profile[i], 0);
        QCOMPARE(reply.size(), std::size_t(i < 5 ? 1 : 0)); // nothing after slot 6
    }
    QCOMPARE(Bytes(c.profile().begin(), c.profile().end()), profile);
    // Slot values that look like commands were taken as values, not obeyed.
    QVERIFY(!c.running());
    QCOMPARE(c.receive(3, 0), Bytes{110});
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

void TestOvenSim::silentControllerSendsNothing()
{
    sim::Options o;
    o.faults.silent = true;
    Controller c(o);
    QVERIFY(c.receive(1, 0).empty());
    QVERIFY(c.receive(0xAA, 0).empty());
    QVERIFY(c.due(100).empty());
}

QTEST_APPLESS_MAIN(TestOvenSim)
#include "test_oven_sim.moc"
