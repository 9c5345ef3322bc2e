// The frame decoder and the spike filter on their own: byte strings in,
// readings out.
#include "link/frame.h"
#include "link/frame_decoder.h"
#include "run/spike_filter.h"

#include <QTest>

#include <algorithm>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes operator+(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes framesOf(const std::vector<int> &readings)
{
    Bytes out;
    for (int r : readings)
        for (std::uint8_t b : frame::encode(r))
            out.push_back(b);
    return out;
}

std::vector<int> decode(const Bytes &bytes, int *aboveLimit = nullptr)
{
    frame::Decoder d;
    std::vector<int> out;
    for (std::uint8_t b : bytes) {
        const frame::Decoder::Step s = d.feed(b);
        if (s.reading)
            out.push_back(*s.reading);
        if (aboveLimit && s.aboveLimit)
            ++*aboveLimit;
    }
    return out;
}

// Whether `out` is `truth` without some of the frames `loose`, and the frames
// of `loose` that came out are within `slack` ℃ of the oven's.
bool faithful(const std::vector<int> &truth, const std::vector<int> &out, std::vector<int> loose, int slack)
{
    for (unsigned drop = 0; drop < 1u << loose.size(); ++drop) {
        std::vector<int> kept;
        for (int k = 0; k < int(truth.size()); ++k) {
            const auto at = std::find(loose.begin(), loose.end(), k);
            if (at == loose.end() || !(drop >> (at - loose.begin()) & 1))
                kept.push_back(k);
        }
        bool same = kept.size() == out.size();
        for (std::size_t i = 0; same && i < kept.size(); ++i) {
            const bool isLoose = std::count(loose.begin(), loose.end(), kept[i]) > 0;
            same = std::abs(out[i] - truth[std::size_t(kept[i])]) <= (isLoose ? slack : 0);
        }
        if (same)
            return true;
    }
    return false;
}

} // namespace

class TestFrameDecoder : public QObject
{
    Q_OBJECT

private slots:
    void byteStrings_data();
    void byteStrings();
    void oneDamagedByteNeverInventsAReading_data();
    void oneDamagedByteNeverInventsAReading();
    void spikeFilter();
};

void TestFrameDecoder::byteStrings_data()
{
    QTest::addColumn<Bytes>("bytes");
    QTest::addColumn<std::vector<int>>("readings");
    QTest::addColumn<int>("aboveLimit");
    QTest::newRow("230 and 300") << Bytes{0, 0xE6, 0xE6, 1, 0x2C, 0x2D} << std::vector<int>{230, 300} << 0;
    QTest::newRow("a frame that fails costs itself")
            << framesOf({50, 51}) + Bytes{0, 52, 9} + framesOf({53, 54}) << std::vector<int>{50, 51, 53, 54}
            << 0;
    QTest::newRow("first reading above 400 is taken")
            << framesOf({450, 25}) << std::vector<int>{450, 25} << 1;
    QTest::newRow("256 and a lost byte never reads 1")
            << framesOf({256, 256}) + Bytes{1, 1} + framesOf({256, 256, 256})
            << std::vector<int>{256, 256, 256, 256, 256} << 0;
    QTest::newRow("25 with its check byte doubled never reads 6400")
            << framesOf({25, 25}) + Bytes{25} + framesOf({25, 25}) << std::vector<int>{25, 25, 25, 25} << 0;
    // A thermocouple that breaks: a jump above 400 is taken once it lasts.
    QTest::newRow("a series above 400 after three frames")
            << framesOf({30, 999, 999, 999, 999}) << std::vector<int>{30, 999, 999} << 2;
    QTest::newRow("junk then frames") << Bytes{7, 200, 13, 99} + framesOf({100, 103, 106, 109})
                                      << std::vector<int>{100, 103, 106, 109} << 0;
}

void TestFrameDecoder::byteStrings()
{
    QFETCH(Bytes, bytes);
    QFETCH(std::vector<int>, readings);
    QFETCH(int, aboveLimit);
    int told = 0;
    QCOMPARE(decode(bytes, &told), readings);
    QCOMPARE(told, aboveLimit);
}

void TestFrameDecoder::oneDamagedByteNeverInventsAReading_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<int>("slack");
    // An extra byte between a frame's first two bytes can make a frame that
    // checks one ℃ below a reading of 257 to 400: no byte tells it apart.
    for (const char *d : {"lost", "doubled", "corrupted", "inserted"})
        QTest::newRow(d) << QString::fromLatin1(d) << (d[0] == 'i' || d[0] == 'd' ? 1 : 0);
}

// Every steady temperature 0-400 and every ramp of +-3 ℃ a frame through it,
// with one byte of one frame lost, doubled, corrupted to any other value, or
// any byte inserted, at each of the three places.
void TestFrameDecoder::oneDamagedByteNeverInventsAReading()
{
    QFETCH(QString, damage);
    QFETCH(int, slack);
    constexpr int kFrames = 11, kDamaged = 5;
    int cases = 0;
    for (int step : {-3, 0, 3}) {
        for (int t = 0; t <= 400; ++t) {
            std::vector<int> truth;
            for (int k = 0; k < kFrames; ++k)
                truth.push_back(t + step * (k - kDamaged));
            if (truth.front() < 0 || truth.back() < 0 || truth.front() > 400 || truth.back() > 400)
                continue;
            const Bytes before = framesOf({truth.begin(), truth.begin() + kDamaged});
            const Bytes after = framesOf({truth.begin() + kDamaged + 1, truth.end()});
            for (int at = 0; at < 3; ++at) {
                const int values = damage == u"lost" || damage == u"doubled" ? 1 : 256;
                for (int v = 0; v < values; ++v) {
                    Bytes hit = framesOf({truth[kDamaged]});
                    if (damage == u"lost")
                        hit.erase(hit.begin() + at);
                    else if (damage == u"doubled")
                        hit.insert(hit.begin() + at, hit[std::size_t(at)]);
                    else if (damage == u"inserted")
                        hit.insert(hit.begin() + at, std::uint8_t(v));
                    else if (hit[std::size_t(at)] == v)
                        continue;
                    else
                        hit[std::size_t(at)] = std::uint8_t(v);
                    int above = 0;
                    const std::vector<int> out = decode(before + hit + after, &above);
                    // A lost byte's place is taken by the next frame's first; an
                    // extra byte before a frame sits beside the one before.
                    const std::vector<int> loose{kDamaged - 1, kDamaged, kDamaged + 1};
                    ++cases;
                    if (above || !faithful(truth, out, loose, slack))
                        QFAIL(qPrintable(QStringLiteral("%1 ℃, step %2, byte %3 %4 (%5)")
                                                 .arg(t)
                                                 .arg(step)
                                                 .arg(at)
                                                 .arg(damage)
                                                 .arg(v)));
                }
            }
        }
    }
    QVERIFY(cases > 3000);
}

void TestFrameDecoder::spikeFilter()
{
    SpikeFilter f;
    double ref = 900; // the last run's, not used before the third second
    const struct
    {
        double ticks, reading, value, reference;
        bool told;
    } rows[] = {
            {0, 50, 50, 50, false},  {3, 61, 50, 50, false},
            {3, 60, 60, 60, false}, // 11 away replaced, 10 kept
            {4, 90, 60, 60, false},  {4, 90, 60, 60, false},
            {5, 90, 60, 60, false}, // three in a row replaced,
            {5, 90, 90, 90, false}, // the fourth taken
            {6, 999, 90, 90, false}, {6, 999, 90, 90, false},
            {6, 999, 90, 90, false}, {7, 999, 999, 90, true},
            {7, 999, 90, 90, false}, {8, 400, 90, 90, false}, // told once, never the reference
            {1, 401, 401, 90, true}, {1, 401, 401, 90, false},
    };
    for (const auto &r : rows) {
        const SpikeFilter::Verdict v = f.take(ref, r.reading, r.ticks);
        QCOMPARE(v.value, r.value);
        QCOMPARE(ref, r.reference);
        QCOMPARE(v.tellAboveLimit, r.told);
    }
}

QTEST_GUILESS_MAIN(TestFrameDecoder)
#include "test_frame_decoder.moc"
