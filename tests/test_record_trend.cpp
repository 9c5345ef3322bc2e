// orvalen-record across runs: control-chart figures and signals against hand
// arithmetic, stamps and journal names, and the runs and trend subcommands
// as a user runs them.
#include "control_chart.h"
#include "programs.h"
#include "run_files.h"
#include "test_files.h"

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

using namespace controlchart;
using Opt = std::optional<double>;
using programs::Run;

namespace {

// A record stamped "Y M D h m s" whose samples are the given lines.
QByteArray record(const QByteArray &stamp, const QList<QByteArray> &samples)
{
    QByteArray r;
    for (const QByteArray &f : stamp.split(' '))
        r += ' ' + f + " \r\n";
    r += ' ' + QByteArray::number(samples.size()) + " \r\n150\r\n60\r\n230\r\n90\r\n220\r\n40\r\n";
    for (const QByteArray &s : samples)
        r += s + "\r\n";
    return r;
}

[[nodiscard]] bool put(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    return testfiles::writeFile(dir.filePath(name), bytes);
}

programs::Run tool(const QStringList &args, const QString &dir)
{
    return programs::run(QStringLiteral(ORVALEN_RECORD), args, dir);
}

std::vector<int> flagged(const std::vector<Flags> &flags, bool Flags::*which)
{
    std::vector<int> out;
    for (std::size_t i = 0; i < flags.size(); ++i)
        if (flags[i].*which)
            out.push_back(int(i));
    return out;
}

} // namespace

class TestRecordTrend : public QObject
{
    Q_OBJECT

private slots:
    void figuresByHand_data();
    void figuresByHand();
    void runsOfEightAndBeyondLimits_data();
    void runsOfEightAndBeyondLimits();
    void stampsAndJournalNames();

    void trendJsonOrderAndExitStatuses();
    void trendChartAndOutputs();
    void runsListsNewestFirstWithHowTheyEnded();
};

void TestRecordTrend::figuresByHand_data()
{
    QTest::addColumn<std::vector<double>>("values");
    QTest::addColumn<Opt>("mean");
    QTest::addColumn<Opt>("sd");
    QTest::addColumn<Opt>("sigma");
    QTest::addColumn<Opt>("cpk");
    QTest::addColumn<Opt>("ppk");
    // Limits 0-12. Mean 4, squares 4+0+4 over 2, moving ranges 2 and 2.
    QTest::newRow("drift") << std::vector<double>{2, 4, 6} << Opt(4) << Opt(2) << Opt(2 / 1.128)
                           << Opt(4 / (3 * 2 / 1.128)) << Opt(4.0 / 6);
    // Mean 2, squares 4 x 1 over 3, moving ranges 0 2 0 over 3.
    QTest::newRow("step") << std::vector<double>{1, 1, 3, 3} << Opt(2) << Opt(std::sqrt(4.0 / 3))
                          << Opt(2.0 / 3 / 1.128) << Opt(2 / (3 * 2.0 / 3 / 1.128))
                          << Opt(2 / (3 * std::sqrt(4.0 / 3)));
    QTest::newRow("all the same") << std::vector<double>(10, 0.1) << Opt(0.1) << Opt(0) << Opt(0) << Opt()
                                  << Opt();
    QTest::newRow("equal but for the last bits")
            << std::vector<double>{2.5, 2.4999999999999996, 2.5000000000000004} << Opt(2.5) << Opt(0)
            << Opt(0) << Opt() << Opt();
    QTest::newRow("one run") << std::vector<double>{7} << Opt(7) << Opt() << Opt() << Opt() << Opt();
    QTest::newRow("none") << std::vector<double>{} << Opt() << Opt() << Opt() << Opt() << Opt();
}

void TestRecordTrend::figuresByHand()
{
    QFETCH(std::vector<double>, values);
    const Figures f = figuresOf(values, recordstats::Range{0, 12});
    QCOMPARE(f.n, int(values.size()));
    QTEST(f.mean, "mean");
    QTEST(f.center, "mean");
    QTEST(f.sd, "sd");
    QTEST(f.sigma, "sigma");
    QTEST(f.cpk, "cpk");
    QTEST(f.ppk, "ppk");
    if (f.sigma) {
        QCOMPARE(*f.ucl, *f.mean + 3 * *f.sigma);
        QCOMPARE(*f.lcl, *f.mean - 3 * *f.sigma);
    } else {
        QVERIFY(!f.ucl && !f.lcl);
    }
    QCOMPARE(figuresOf(values, std::nullopt).cpk, std::nullopt); // no window, no index
}

void TestRecordTrend::runsOfEightAndBeyondLimits_data()
{
    QTest::addColumn<std::vector<double>>("values");
    QTest::addColumn<std::vector<int>>("beyond");
    QTest::addColumn<std::vector<int>>("run");
    const std::vector<double> eight(8, 1);
    QTest::newRow("eight above") << eight << std::vector<int>{} << std::vector<int>{7};
    std::vector<double> ten = eight;
    ten.insert(ten.end(), {2, 3});
    QTest::newRow("ten above") << ten << std::vector<int>{} << std::vector<int>{7, 8, 9};
    std::vector<double> broken(7, -1);
    broken.insert(broken.end(), {0, -1, -1}); // on the center line: the run starts again
    QTest::newRow("center breaks") << broken << std::vector<int>{} << std::vector<int>{};
    std::vector<double> crossed(7, 1);
    crossed.insert(crossed.end(), {-1, 1});
    QTest::newRow("side changes") << crossed << std::vector<int>{} << std::vector<int>{};
    QTest::newRow("on the line but for the last bits")
            << std::vector<double>(9, 1e-12) << std::vector<int>{} << std::vector<int>{};
    QTest::newRow("limits") << std::vector<double>{11, -11, 10, -10} << std::vector<int>{0, 1}
                            << std::vector<int>{};
}

void TestRecordTrend::runsOfEightAndBeyondLimits()
{
    QFETCH(std::vector<double>, values);
    Figures f;
    f.center = 0;
    f.ucl = 10;
    f.lcl = -10;
    const std::vector<Flags> flags = signalsOf(values, f);
    QCOMPARE(flags.size(), values.size());
    QTEST(flagged(flags, &Flags::beyondLimits), "beyond");
    QTEST(flagged(flags, &Flags::runOf8), "run");
}

void TestRecordTrend::stampsAndJournalNames()
{
    using runfiles::stampOf;
    QCOMPARE(stampOf({" 2024 ", " 5 ", " 9 ", " 14 ", " 3 ", " 27 "})->text(),
             QStringLiteral("2024-05-09T14:03:27"));
    // Daylight saving does not apply: the oven's clock has no zone.
    QVERIFY(stampOf({"2026", "3", "29", "2", "30", "0"}));
    for (const QStringList &bad : {QStringList{"2024", "2", "30", "1", "1", "1"},
                                   {"2024", "5", "9", "24", "0", "0"},
                                   {"2024", "5", "9", "1", "1", "1.5"},
                                   {"2024", "5", "9", "1", "1", ""},
                                   {"2024", "5", "9", "1", "1"}})
        QVERIFY2(!stampOf(bad), qPrintable(bad.join(u',')));
    QCOMPARE(runfiles::journalStamp(QStringLiteral("2024-05-09_14-03-27-2.dbf")),
             stampOf({"2024", "5", "9", "14", "3", "27"}));
    for (const char *bad : {"2024-05-09_14-03-27.txt", "2024-5-09_14-03-27.dbf", "2024-05-09_14-03-27-0.dbf",
                            "2024-13-09_14-03-27.dbf", "run.dbf"})
        QVERIFY2(!runfiles::journalStamp(QString::fromLatin1(bad)), bad);
    QStringList names{"b-10.dbf", "b.dbf", "a.dbf", "b-2.dbf", "B.dbf"};
    std::sort(names.begin(), names.end(), runfiles::nameLess);
    QCOMPARE(names, (QStringList{"B.dbf", "a.dbf", "b.dbf", "b-2.dbf", "b-10.dbf"}));
}

void TestRecordTrend::trendJsonOrderAndExitStatuses()
{
    QTemporaryDir d;
    const QString dir = d.path();
    // Peaks 240 242 244 250 in stamp order, which is not the names' order;
    // the last two in the same second, ordered by name.
    QVERIFY(put(d, "d.dbf", record("2024 5 9 14 3 27", {" 240 "})));
    QVERIFY(put(d, "a.dbf", record("2024 5 10 8 0 0", {" 242 "})));
    QVERIFY(put(d, "c-10.dbf", record("2024 5 11 8 0 0", {" 250 "})));
    QVERIFY(put(d, "c-2.dbf", record("2024 5 11 8 0 0", {" 244 "})));
    QVERIFY(put(d, "gap.dbf",
                record("2024 5 12 8 0 0", {"", "x"}))); // no peak: in no statistic, out of its window
    QVERIFY(put(d, "undated.dbf", record("2024 5 32 8 0 0", {" 240 "})));
    QVERIFY(put(d, "w.txt", "peak_c = 230 250\n"));

    Run r = tool({"trend", ".", "--window", "w.txt", "--json"}, dir);
    QCOMPARE(r.status, 2); // the undated record
    QVERIFY2(r.err.contains(QStringLiteral("./undated.dbf is left out")), qPrintable(r.err));
    const QJsonObject all = QJsonDocument::fromJson(r.out).object();
    QCOMPARE(all[QStringLiteral("window")].toString(), QStringLiteral("w.txt"));
    QStringList order;
    const QJsonArray runs = all[QStringLiteral("runs")].toArray();
    for (const QJsonValue &v : runs)
        order << v[QStringLiteral("file")].toString();
    QCOMPARE(order, (QStringList{"./d.dbf", "./a.dbf", "./c-2.dbf", "./c-10.dbf", "./gap.dbf"}));
    QCOMPARE(runs[0][QStringLiteral("stamp")].toString(), QStringLiteral("2024-05-09T14:03:27"));
    QCOMPARE(runs[1][QStringLiteral("pwi")].toDouble(), 20.0);
    QVERIFY(runs[4][QStringLiteral("pwi")].isNull());
    QCOMPARE(runs[3][QStringLiteral("signals")].toArray()[0].toObject(),
             (QJsonObject{{"signal", "out_of_window"}, {"stat", "peak_c"}})); // 250 is on the edge
    QVERIFY(runs[0][QStringLiteral("signals")].toArray().isEmpty());

    const QJsonObject peak = all[QStringLiteral("stats")][QStringLiteral("peak_c")].toObject();
    QCOMPARE(peak.keys(),
             (QStringList{"center", "cpk", "lcl", "max", "mean", "min", "n", "ppk", "sd", "sigma", "ucl"}));
    const double sigma = 10.0 / 3 / 1.128; // moving ranges 2 2 6
    const double sd = std::sqrt(56.0 / 3); // deviations -4 -2 0 6
    const std::pair<const char *, double> expected[] = {{"n", 4},
                                                        {"mean", 244},
                                                        {"sd", sd},
                                                        {"min", 240},
                                                        {"max", 250},
                                                        {"sigma", sigma},
                                                        {"ucl", 244 + 3 * sigma},
                                                        {"lcl", 244 - 3 * sigma},
                                                        {"cpk", 6 / (3 * sigma)},
                                                        {"ppk", 6 / (3 * sd)}};
    for (const auto &[key, value] : expected)
        QVERIFY2(qFuzzyCompare(peak[QLatin1String(key)].toDouble(), value), key);
    QCOMPARE(all[QStringLiteral("stats")][QStringLiteral("pwi")][QStringLiteral("cpk")].type(),
             QJsonValue::Null);
    QCOMPARE(all[QStringLiteral("stats")].toObject().keys(), (QStringList{"peak_c", "pwi"}));

    // The newest two: one out of its window (1), once the undated one is gone.
    QVERIFY(QFile::remove(d.filePath(QStringLiteral("undated.dbf"))));
    r = tool({"trend", "d.dbf", "a.dbf", "c-2.dbf", "--window", "w.txt", "--last", "2", "--json"}, dir);
    QCOMPARE(r.status, 0);
    QCOMPARE(QJsonDocument::fromJson(
                     r.out)[QStringLiteral("stats")][QStringLiteral("peak_c")][QStringLiteral("n")]
                     .toInt(),
             2);
    QCOMPARE(tool({"trend", ".", "--window", "w.txt"}, dir).status, 1);
    QCOMPARE(tool({"trend", ".", "--window", "nonesuch"}, dir).status, 2);
    QCOMPARE(tool({"trend", ".", "--last", "0"}, dir).status, 2);
    // Identical runs: no spread, no index, no NaN.
    QTemporaryDir same;
    for (const char *name : {"1.dbf", "2.dbf", "3.dbf"})
        QVERIFY(testfiles::writeFile(same.filePath(QLatin1String(name)),
                                     record("2024 5 9 14 3 27", {" 240 "})));
    r = tool({"trend", same.path(), "--window", "w.txt", "--json"}, dir);
    QCOMPARE(r.status, 0);
    QVERIFY2(!r.out.contains("nan") && !r.out.contains("inf"), r.out.constData());
    QVERIFY(QJsonDocument::fromJson(
                    r.out)[QStringLiteral("stats")][QStringLiteral("peak_c")][QStringLiteral("ppk")]
                    .isNull());
    QTemporaryDir empty;
    r = tool({"trend", empty.path(), "--json"}, dir);
    QCOMPARE(r.status, 0);
    QVERIFY2(r.err.contains(QStringLiteral("no run")), qPrintable(r.err));
}

void TestRecordTrend::trendChartAndOutputs()
{
    QTemporaryDir d;
    const QString dir = d.path();
    // Nine runs at 240 and 241 and a tenth far beyond the control limits.
    for (int i = 0; i < 10; ++i)
        QVERIFY(put(d, QStringLiteral("%1.dbf").arg(i),
                    record("2024 5 9 14 3 " + QByteArray::number(i), {i == 9  ? " 249 "
                                                                      : i % 2 ? " 240 "
                                                                              : " 241 "})));
    Run r = tool({"trend", ".", "--chart", "t.png"}, dir);
    QCOMPARE(r.status, 1);
    QVERIFY2(r.out.contains("./9.dbf  2024-05-09 14:03:09  beyond_limits peak_c"), r.out.constData());
    const QImage png(d.filePath(QStringLiteral("t.png")));
    QVERIFY(png.width() > 800 && png.height() > 600);
    int red = 0;
    for (int y = 0; y < png.height(); ++y)
        for (int x = 0; x < png.width(); ++x)
            red += png.pixelColor(x, y) == QColor(215, 25, 25);
    QVERIFY2(red > 20, qPrintable(QString::number(red))); // the signalled points
    QVERIFY(QDir(dir).mkdir(QStringLiteral("out.png")));
    QCOMPARE(tool({"trend", ".", "--chart", "out.png"}, dir).status, 2); // not a regular file
    QCOMPARE(tool({"trend", ".", "--chart", "3.dbf"}, dir).status, 2); // a record being read
    QCOMPARE(testfiles::readFile(d.filePath(QStringLiteral("3.dbf"))), record("2024 5 9 14 3 3", {" 240 "}));
}

void TestRecordTrend::runsListsNewestFirstWithHowTheyEnded()
{
    QTemporaryDir d;
    QVERIFY(put(d, "2024-05-09_14-03-27.dbf",
                record("2024 5 9 14 8 0", {" 240 ", " 245 "}))); // stopped at 14:08
    QVERIFY(put(d, "2024-05-09_14-03-27-2.dbf", record("2024 5 9 14 3 27", {" 240 "}))); // cut off
    QVERIFY(put(d, "2024-05-10_08-00-00.dbf", " 2024 \r\n 5 \r\n")); // unreadable
    QVERIFY(put(d, "saved.dbf", record("2024 5 1 9 0 0", {" 200 "})));
    QVERIFY(put(d, "w.txt", "peak_c = 235 250\n"));
    const Run r = tool({"runs", d.path(), "--json", "--window", "w.txt"}, d.path());
    QCOMPARE(r.status, 2);
    QVERIFY2(r.err.contains(QStringLiteral("2024-05-10_08-00-00.dbf cannot be read further")),
             qPrintable(r.err));
    const QJsonArray rows = QJsonDocument::fromJson(r.out).array();
    QStringList seen;
    for (const QJsonValue &v : rows)
        seen << QStringLiteral("%1 %2 %3 %4")
                        .arg(v[QStringLiteral("started")].toString(), v[QStringLiteral("ended")].toString())
                        .arg(v[QStringLiteral("seconds")].toDouble())
                        .arg(v[QStringLiteral("peak_c")].toDouble());
    QCOMPARE(seen, (QStringList{"2024-05-09T14:03:27 cut off 1 240", "2024-05-09T14:03:27 stopped 2 245",
                                "2024-05-01T09:00:00 unknown 1 200"}));
    QCOMPARE(rows[0][QStringLiteral("file")].toString(),
             d.filePath(QStringLiteral("2024-05-09_14-03-27-2.dbf")));
    QCOMPARE(rows[1][QStringLiteral("pwi")].toDouble(), 100 * 2.5 / 7.5); // 245 in 235-250
    QCOMPARE(tool({"runs", d.filePath(QStringLiteral("none"))}, d.path()).status, 2);
}

QTEST_GUILESS_MAIN(TestRecordTrend)
#include "test_record_trend.moc"
