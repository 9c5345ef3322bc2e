// The frame decoder on its own: byte strings in, readings out. The spike
// filter behind it is held to its rules by the monitor's and the run's tests.
#include "link/frame.h"
#include "link/frame_decoder.h"

#include <QTest>

#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using Readings = std::vector<int>;

Bytes operator+(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes framesOf(const Readings &readings)
{
    Bytes out;
    for (int r : readings)
        for (std::uint8_t b : frame::encode(r))
            out.push_back(b);
    return out;
}

Readings decode(const Bytes &bytes, int &above)
{
    frame::Decoder d;
    Readings out;
    for (std::uint8_t b : bytes) {
        const frame::Decoder::Step s = d.feed(b);
        if (s.reading)
            out.push_back(*s.reading);
        above += s.aboveLimit;
    }
    return out;
}

constexpr int kFrames = 11, kDamaged = 5;

// The frames away from the damaged one come out as they were; of it and its
// two neighbours, those that come out are within `slack` ℃ of the oven's.
bool faithful(const Readings &truth, const Readings &out, int slack)
{
    const auto head = std::ptrdiff_t(kDamaged - 1), tail = std::ptrdiff_t(kFrames - kDamaged - 2);
    if (out.size() < std::size_t(head + tail) || out.size() > truth.size()
        || !std::equal(truth.begin(), truth.begin() + head, out.begin())
        || !std::equal(truth.end() - tail, truth.end(), out.end() - tail))
        return false;
    auto t = truth.begin() + head;
    for (auto o = out.begin() + head; o != out.end() - tail; ++o, ++t) {
        while (t != truth.begin() + head + 3 && std::abs(*o - *t) > slack)
            ++t;
        if (t == truth.begin() + head + 3)
            return false;
    }
    return true;
}

} // namespace

class TestFrameDecoder : public QObject
{
    Q_OBJECT

private slots:
    void byteStrings_data();
    void byteStrings();
    void oneDamagedByteNeverInventsAReading();
};

void TestFrameDecoder::byteStrings_data()
{
    QTest::addColumn<Bytes>("bytes");
    QTest::addColumn<Readings>("readings");
    QTest::addColumn<int>("above");
    QTest::newRow("230, 300") << Bytes{0, 0xE6, 0xE6, 1, 0x2C, 0x2D} << Readings{230, 300} << 0;
    QTest::newRow("the first above 400 is taken") << framesOf({450, 25}) << Readings{450, 25} << 1;
    QTest::newRow("a jump above 400 is taken once it lasts")
            << framesOf({30, 999, 999, 999, 999}) << Readings{30, 999, 999} << 2;
    QTest::newRow("junk, then frames")
            << Bytes{7, 200, 13, 99} + framesOf({100, 103, 106}) << Readings{100, 103, 106} << 0;
}

void TestFrameDecoder::byteStrings()
{
    QFETCH(Bytes, bytes);
    QFETCH(Readings, readings);
    QFETCH(int, above);
    int told = 0;
    QCOMPARE(decode(bytes, told), readings);
    QCOMPARE(told, above);
}

// Every steady temperature 0-400 and every ramp of +-3 ℃ a frame through it,
// with one byte of one frame lost, doubled, corrupted to any other value, or
// any byte inserted, at each of the three places. An extra byte before or
// between a frame's first two can make a frame that checks 1 ℃ off a reading
// of 257-400: no byte tells it apart, so extra bytes have 1 ℃ of slack there.
void TestFrameDecoder::oneDamagedByteNeverInventsAReading()
{
    enum Damage { Lost, Doubled, Corrupted, Inserted };
    int cases = 0;
    for (int step : {-3, 0, 3}) {
        for (int t = 0; t <= 400; ++t) {
            Readings truth;
            for (int k = 0; k < kFrames; ++k)
                truth.push_back(t + step * (k - kDamaged));
            if (std::min(truth.front(), truth.back()) < 0 || std::max(truth.front(), truth.back()) > 400)
                continue;
            const Bytes before = framesOf({truth.begin(), truth.begin() + kDamaged});
            const Bytes after = framesOf({truth.begin() + kDamaged + 1, truth.end()});
            for (Damage damage : {Lost, Doubled, Corrupted, Inserted}) {
                for (int at = 0; at < 3; ++at) {
                    for (int v = 0; v < (damage >= Corrupted ? 256 : 1); ++v) {
                        Bytes hit = framesOf({truth[kDamaged]});
                        const auto where = hit.begin() + at;
                        if (damage == Corrupted && *where == v)
                            continue;
                        if (damage == Lost)
                            hit.erase(where);
                        else if (damage == Corrupted)
                            *where = std::uint8_t(v);
                        else
                            hit.insert(where, damage == Doubled ? *where : std::uint8_t(v));
                        int above = 0;
                        const Readings out = decode(before + hit + after, above);
                        ++cases;
                        if (above || !faithful(truth, out, damage == Doubled || damage == Inserted ? 1 : 0))
                            QFAIL(qPrintable(QStringLiteral("%1 ℃, step %2, damage %3 at byte %4 (%5)")
                                                     .arg(t)
                                                     .arg(step)
                                                     .arg(damage)
                                                     .arg(at)
                                                     .arg(v)));
                    }
                }
            }
        }
    }
    QVERIFY(cases > 1'000'000);
}

QTEST_GUILESS_MAIN(TestFrameDecoder)
#include "test_frame_decoder.moc"
