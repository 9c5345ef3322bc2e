// orvalen-record: its statistics and control-chart figures against
// hand-worked values, window files, stamps and journal names, and the program
// itself as a user runs it, with no display and no environment of its own.
#include "control_chart.h"
#include "programs.h"
#include "record_stats.h"
#include "run_files.h"
#include "test_files.h"

#include "state/chart.h"

#include <QDir>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

#ifdef Q_OS_UNIX
#include "file_size_limit.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#endif

using namespace recordstats;
using namespace controlchart;
using Opt = std::optional<double>;
using Worst = std::optional<Stat>;
using programs::Run;

namespace {

QByteArray record(const QList<QByteArray> &samples, const QByteArray &stamp = "2024 5 9 14 3 27")
{
    return testfiles::recordText(int(samples.size()), samples, stamp);
}

Window window(const char *text)
{
    WindowError error;
    const std::optional<Window> w = parseWindow(QString::fromUtf8(text), QStringLiteral("test"), error);
    if (!w)
        qFatal("window refused: line %d: %s", error.line, qPrintable(error.reason));
    return *w;
}

programs::Run tool(const QStringList &args, const QString &dir, const QString &stdoutFile = {})
{
    return programs::run(QStringLiteral(ORVALEN_RECORD), args, dir, stdoutFile);
}

// Equal to within the hand-worked values' last decimal, or both without one.
bool near(Opt a, Opt b) { return a.has_value() == b.has_value() && (!a || std::abs(*a - *b) < 1e-4); }

std::vector<int> flagged(const std::vector<Flags> &flags, bool Flags::*which)
{
    std::vector<int> out;
    for (std::size_t i = 0; i < flags.size(); ++i)
        if (flags[i].*which)
            out.push_back(int(i));
    return out;
}

} // namespace

class TestRecordTool : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void statisticsByHand_data();
    void statisticsByHand();
    void windowFileMatchesBuiltIn();
    void badWindowFiles_data();
    void badWindowFiles();
    void figuresByHand_data();
    void figuresByHand();
    void runsOfEightAndBeyondLimits_data();
    void runsOfEightAndBeyondLimits();
    void stampsAndJournalNames();

    void commands_data();
    void commands();
    void analyzeJudgesWhatItCanReadAndKeepsEveryValue();
    void reportIsThePrintedPage();
    void chartHasGridAndCurveWhereOpenDrawsThem();
    void failedWritesAreErrors();
    void namesAreBytesAndWrittenFilesKeepModeAndOwner();
    void trendJsonInStampOrder();
    void trendChartShowsSignals();
    void runsListsNewestFirstWithHowTheyEnded();

private:
    [[nodiscard]] bool put(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
    {
        return testfiles::writeFile(dir.filePath(name), bytes);
    }
    QTemporaryDir m_dir; // what the commands read, and outputs they must not replace
};

void TestRecordTool::initTestCase()
{
    QVERIFY(put(m_dir, "in.dbf", record({" 240 ", " 250 "})));
    QVERIFY(put(m_dir, "out.dbf", record({" 240 ", " 310 "})));
    QVERIFY(put(m_dir, "cut.dbf", " 2024 \r\n 5 \r\n"));
    QVERIFY(put(m_dir, "gaps.dbf", record({" 100 ", "", " 120.5 ", "265 C", "-3 "})));
    QByteArray big = record({" 25 ", " 1e307 "});
    big.replace("150\r\n", "150\xf0\x9f\x98\x80\r\n"); // a character beyond 16 bits
    QVERIFY(put(m_dir, "big.dbf", big));
    QVERIFY(put(m_dir, "w.txt", "peak_c = 200 300\n"));
    QVERIFY(put(m_dir, "bad.txt", "liquidus = 217\npeak_c = 300\n"));
    QVERIFY(QDir(m_dir.path()).mkdir(QStringLiteral("folder")));
    QVERIFY(QDir(m_dir.path()).mkdir(QStringLiteral("empty")));
#ifdef Q_OS_UNIX
    const QByteArray dir = QFile::encodeName(m_dir.path());
    QCOMPARE(mkfifo((dir + "/fifo").constData(), 0666), 0);
    // A null device of the test's own, never one of the machine's; its row is
    // skipped where it cannot be made.
    (void)mknod((dir + "/device").constData(), S_IFCHR | 0666, makedev(1, 3));
#endif
}

void TestRecordTool::statisticsByHand_data()
{
    QTest::addColumn<QStringList>("samples");
    QTest::addColumn<int>("slope"); // seconds
    QTest::addColumn<std::vector<Opt>>("stats"); // peak_c peak_s tal_s soak_s max_rise max_fall, pwi
    QTest::addColumn<Worst>("worst"); // the farthest from its range's middle, or the first without a value
    // Up by 50 a second, three seconds at 250 (at or above 217), down by 50;
    // 150 and 200 before the peak are both ends of the soak range.
    QTest::newRow("trapezoid") << QStringList{" 100 ", " 150 ", " 200 ", " 250 ", " 250 ",
                                              " 250 ", " 200 ", " 150 ", " 100 "}
                               << 2 << std::vector<Opt>{250, 3, 3, 2, 50, 50, 4800} << Worst(Stat::MaxRise);
    // An empty line, "265 C" and "x" are seconds without a value; blanks and
    // tabs around a number are allowed. Slopes span the gaps.
    const QStringList gaps{" 100 ", "", " 120 ", "265 C", " 130 ", "x", " 125 ", "  140\t"};
    QTest::newRow("gaps, 2 s slopes")
            << gaps << 2 << std::vector<Opt>{140, 7, 0, 0, 10, 2.5, 1366.66667} << Worst(Stat::PeakC);
    // No index where a limited statistic has no value; it is the worst.
    QTest::newRow("gaps, 1 s slopes: only 6 to 7")
            << gaps << 1 << std::vector<Opt>{140, 7, 0, 0, 15, {}, {}} << Worst(Stat::MaxFall);
    // Counted from the first peak: 180 after it is no soak.
    QTest::newRow("peak reached twice")
            << QStringList{" 200 ", " 240 ", " 180 ", " 240 ", " 100 "} << 1
            << std::vector<Opt>{240, 1, 2, 1, 60, 140, 9166.66667} << Worst(Stat::MaxFall);
    QTest::newRow("no value at all") << QStringList{"", "x"} << 1 << std::vector<Opt>(7)
                                     << Worst(Stat::PeakC);
}

void TestRecordTool::statisticsByHand()
{
    QFETCH(QStringList, samples);
    QFETCH(int, slope);
    QFETCH(std::vector<Opt>, stats);
    const Window w = *builtinWindow(QStringLiteral("sac305"));
    const Stats st = computeStats(sampleValues(samples), w, slope);
    const Judgement j = judge(st, w);
    const std::vector<Opt> got{st.peakC, st.peakS, st.talS, st.soakS, st.maxRise, st.maxFall, j.pwi};
    for (std::size_t i = 0; i < got.size(); ++i)
        QVERIFY2(near(got[i], stats[i]), qPrintable(QStringLiteral("figure %1").arg(i)));
    QTEST(j.worst, "worst");
    QVERIFY(!j.inWindow);
}

void TestRecordTool::windowFileMatchesBuiltIn()
{
    const Window w = window("# SAC305 as written by hand\r\n"
                            "liquidus = 217\r\n"
                            "\n"
                            "soak_range = 150 200   # both ends included\n"
                            "soak_s = 60 120\n tal_s = 45\t90\npeak_c = 235 250\n"
                            "max_rise_c_per_s = 1 3\nmax_fall_c_per_s = 1 4\n");
    const Window b = *builtinWindow(QStringLiteral("sac305"));
    QCOMPARE(w.liquidus, b.liquidus);
    QCOMPARE(w.soakRange->low, b.soakRange->low);
    QCOMPARE(w.soakRange->high, b.soakRange->high);
    for (Stat s : kStats) {
        QCOMPARE(w.limit(s)->low, b.limit(s)->low);
        QCOMPARE(w.limit(s)->high, b.limit(s)->high);
    }
    QCOMPARE(builtinWindow(QStringLiteral("sn63pb37"))->liquidus, Opt(183));
    QVERIFY(!builtinWindow(QStringLiteral("SAC305")));
}

void TestRecordTool::badWindowFiles_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("reason");
    QTest::newRow("no =") << QByteArray("# c\npeak_c 235 250\n") << 2 << "key = value";
    QTest::newRow("one limit") << QByteArray("peak_c = 235\n") << 1 << "two numbers";
    QTest::newRow("low above high") << QByteArray("\n\npeak_c = 250 235\n") << 3 << "below";
    QTest::newRow("not a number") << QByteArray("peak_c = 235 2x0\n") << 1 << "\"2x0\"";
    QTest::newRow("unknown key") << QByteArray("peak_c = 235 250\npeak_s = 1 2\n") << 2 << "unknown key";
    QTest::newRow("twice") << QByteArray("peak_c = 1 2\npeak_c = 1 2\n") << 2 << "twice";
    QTest::newRow("tal without liquidus") << QByteArray("peak_c = 1 2\ntal_s = 45 90\n") << 2 << "liquidus";
    QTest::newRow("soak without range") << QByteArray("soak_s = 60 120\n") << 1 << "soak_range";
    QTest::newRow("nothing to judge") << QByteArray("liquidus = 217\n# only this\n") << 3 << "no statistic";
}

void TestRecordTool::badWindowFiles()
{
    QFETCH(QByteArray, text);
    WindowError error;
    QVERIFY(!parseWindow(QString::fromUtf8(text), QStringLiteral("w"), error));
    QTEST(error.line, "line");
    QFETCH(QString, reason);
    QVERIFY2(error.reason.contains(reason), qPrintable(error.reason));
}

void TestRecordTool::figuresByHand_data()
{
    QTest::addColumn<std::vector<double>>("values");
    QTest::addColumn<std::vector<Opt>>("figures"); // mean sd sigma cpk ppk
    // Limits 0-12. Squares 4+0+4 over 2; moving ranges 2 and 2 over d2 = 1.128;
    // the nearer limit 4 away, over 3 sigma and over 3 sd.
    QTest::newRow("drift") << std::vector<double>{2, 4, 6}
                           << std::vector<Opt>{4, 2, 1.77305, 0.75200, 0.66667};
    // Squares 4 x 1 over 3; moving ranges 0 2 0 over 3; 2 from the lower limit.
    QTest::newRow("step") << std::vector<double>{1, 1, 3, 3}
                          << std::vector<Opt>{2, 1.15470, 0.59102, 1.12800, 0.57735};
    QTest::newRow("all the same") << std::vector<double>(10, 0.1) << std::vector<Opt>{0.1, 0, 0, {}, {}};
    QTest::newRow("equal but for the last bits")
            << std::vector<double>{2.5, 2.4999999999999996, 2.5000000000000004}
            << std::vector<Opt>{2.5, 0, 0, {}, {}};
    QTest::newRow("one run") << std::vector<double>{7} << std::vector<Opt>{7, {}, {}, {}, {}};
    QTest::newRow("none") << std::vector<double>{} << std::vector<Opt>(5);
}

void TestRecordTool::figuresByHand()
{
    QFETCH(std::vector<double>, values);
    QFETCH(std::vector<Opt>, figures);
    const Figures f = figuresOf(values, recordstats::Range{0, 12});
    QCOMPARE(f.n, int(values.size()));
    QCOMPARE(f.center, f.mean);
    const std::vector<Opt> got{f.mean, f.sd, f.sigma, f.cpk, f.ppk};
    for (std::size_t i = 0; i < got.size(); ++i)
        QVERIFY2(near(got[i], figures[i]), qPrintable(QStringLiteral("figure %1").arg(i)));
    // The control limits lie 3 sigma either side of the center.
    QVERIFY(f.sigma ? near(f.ucl, *f.mean + 3 * *f.sigma) && near(f.lcl, *f.mean - 3 * *f.sigma)
                    : !f.ucl && !f.lcl);
    QCOMPARE(figuresOf(values, std::nullopt).cpk, std::nullopt); // no window, no index
}

void TestRecordTool::runsOfEightAndBeyondLimits_data()
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

void TestRecordTool::runsOfEightAndBeyondLimits()
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

void TestRecordTool::stampsAndJournalNames()
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

void TestRecordTool::commands_data()
{
    QTest::addColumn<QStringList>("args"); // run in the folder initTestCase fills
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("out"); // found in standard output
    QTest::addColumn<QString>("err"); // found in standard error
    QTest::addColumn<QString>("kept"); // what the command must leave as it is
    const QString notAFile = QStringLiteral("is not a regular file");
    const QString reading = QStringLiteral("is a record being read; it is never written");
    const auto row = [](const char *name, const QStringList &args, int status, const QByteArray &out = {},
                        const QString &err = {}, const QString &kept = {}) {
        QTest::newRow(name) << args << status << out << err << kept;
    };
    row("in its window", {"analyze", "in.dbf", "--window", "w.txt"}, 0);
    row("out of its window, the worst named", {"analyze", "in.dbf", "out.dbf", "--window", "w.txt"}, 1,
        "120         no  peak_c");
    row("window file refused", {"analyze", "in.dbf", "--window", "bad.txt"}, 2, {}, "line 2");
    row("unknown window", {"analyze", "in.dbf", "--window", "sac306"}, 2, {}, "unknown window");
    row("no slope window", {"analyze", "in.dbf", "--slope-window", "0"}, 2, {}, "--slope-window takes");
    row("csv of a refused record", {"csv", "cut.dbf"}, 2, {},
        "cut.dbf cannot be read further.\nLine 3: the file ends where the day should be.");
    row("chart of a refused record", {"chart", "cut.dbf", "-o", "c.png"}, 2);
    row("csv over a record", {"csv", "in.dbf", "-o", "in.dbf"}, 2, {}, reading, "in.dbf");
    row("unknown command", {"frobnicate"}, 2, {}, "usage:");
    row("csv with gaps", {"csv", "gaps.dbf"}, 0, "second,temperature_c\n0,100\n1,\n2,120.5\n3,\n4,-3\n");
    row("csv onto a folder", {"csv", "in.dbf", "-o", "folder"}, 2, {}, notAFile, "folder");
#ifdef Q_OS_UNIX
    row("report onto a pipe", {"report", "in.dbf", "-o", "fifo"}, 2, {}, notAFile, "fifo");
    row("chart onto a device", {"chart", "in.dbf", "-o", "device"}, 2, {}, notAFile, "device");
#endif
    row("trend out of its window", {"trend", "in.dbf", "out.dbf", "--window", "w.txt"}, 1);
    row("trend, unknown window", {"trend", "in.dbf", "--window", "nonesuch"}, 2, {}, "unknown window");
    row("trend of the last 0", {"trend", "in.dbf", "--last", "0"}, 2, {}, "--last takes");
    // Of one second, by name: out.dbf is the newer.
    row("trend of the last 1", {"trend", "in.dbf", "out.dbf", "--window", "w.txt", "--last", "1", "--json"},
        1, "\"peak_c\": {\"n\": 1, \"mean\": 310,");
    row("trend of no run", {"trend", "empty", "--json"}, 0, {}, "no run");
    row("trend chart onto a folder", {"trend", "in.dbf", "--chart", "folder"}, 2, {}, notAFile, "folder");
    row("trend chart over a record", {"trend", "in.dbf", "--chart", "in.dbf"}, 2, {}, reading, "in.dbf");
    row("runs of no folder", {"runs", "none"}, 2, {}, "none is not a folder");
}

void TestRecordTool::commands()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, out);
    QFETCH(QString, err);
    QFETCH(QString, kept);
    const QString keptPath = m_dir.filePath(kept);
    const QByteArray before = testfiles::whatIsAt(keptPath);
    if (before == "nothing")
        QSKIP("such a node cannot be made here");
    const Run r = tool(args, m_dir.path());
    QTEST(r.status, "status");
    QVERIFY2(r.out.contains(out), r.out.constData());
    QVERIFY2(r.err.contains(err), qPrintable(r.err));
    if (!kept.isEmpty())
        QCOMPARE(testfiles::whatIsAt(keptPath), before);
}

void TestRecordTool::analyzeJudgesWhatItCanReadAndKeepsEveryValue()
{
    // A refused record is told with its line, and the others are still judged.
    Run r = tool({"analyze", "cut.dbf", "in.dbf", "big.dbf", "--window", "w.txt"}, m_dir.path());
    QVERIFY2(r.out.contains(" 1E+307 ") && !r.out.contains("Infinity"), r.out.constData());
    r = tool({"analyze", "cut.dbf", "in.dbf", "big.dbf", "--json", "--window", "w.txt"}, m_dir.path());
    QCOMPARE(r.status, 2);
    QVERIFY2(r.err.contains(QStringLiteral("cut.dbf cannot be read further")), qPrintable(r.err));
    const QJsonArray all = QJsonDocument::fromJson(r.out).array();
    QCOMPARE(all.size(), 2);
    const QJsonObject o = all[0].toObject();
    QCOMPARE(o.keys().join(u' '),
             QStringLiteral("count file in_window max_fall_c_per_s max_rise_c_per_s peak_c "
                            "peak_s profile pwi pwi_by_stat soak_s stamp tal_s window"));
    QCOMPARE(o[QStringLiteral("file")].toString(), QStringLiteral("in.dbf"));
    QCOMPARE(o[QStringLiteral("pwi")].toDouble(-1), 0.0);
    QVERIFY(o[QStringLiteral("max_fall_c_per_s")].isNull());
    QCOMPARE(o[QStringLiteral("pwi_by_stat")].toObject().keys(), QStringList{QStringLiteral("peak_c")});
    QCOMPARE(o[QStringLiteral("stamp")].toArray()[0].toString(), QStringLiteral("2024"));
    QCOMPARE(o[QStringLiteral("profile")].toArray()[2].toString(), QStringLiteral("230"));
    QCOMPARE(all[1][QStringLiteral("peak_c")].toDouble(), 1e307);
    QCOMPARE(all[1][QStringLiteral("profile")].toArray()[0].toString(), QStringLiteral("150\U0001F600"));
}

void TestRecordTool::reportIsThePrintedPage()
{
    if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
        QSKIP("pdftotext (poppler-utils) is not installed");
    QCOMPARE(tool({"report", "in.dbf", "-o", "r.pdf"}, m_dir.path()).status, 0);
    const QString pdf = m_dir.filePath(QStringLiteral("r.pdf"));
    const QString html = programs::pdfWords(pdf);
    const QStringList misplaced = programs::misplacedReportWords(html);
    QVERIFY2(misplaced.isEmpty(), qPrintable(misplaced.join(u'\n')));
    // The stage and stamp values of the record, in print form.
    QVERIFY(html.contains(QStringLiteral(">2024</word>")) && html.contains(QStringLiteral(">230</word>")));
}

void TestRecordTool::chartHasGridAndCurveWhereOpenDrawsThem()
{
    QVERIFY(put(m_dir, "c.dbf", record({" 100 ", " 100 ", " 200 "})));
    QCOMPARE(tool({"chart", "c.dbf", "-o", "c.png", "--scale", "3"}, m_dir.path()).status, 0);
    const QImage png(m_dir.filePath(QStringLiteral("c.png")));
    // The window's chart, three device pixels to a screen pixel at 96 dpi.
    const double perTwip = 96.0 * 3 / 1440;
    QCOMPARE(png.size(), QSize(qRound(7440 * perTwip), qRound(4476 * perTwip)));
    auto at = [&](double xTwips, double yTwips) {
        return png.pixelColor(int(xTwips * perTwip), int(yTwips * perTwip));
    };
    QCOMPARE(at(3000, 30), chart::kGridColour); // top grid line
    QCOMPARE(at(735, 2000), chart::kGridColour); // 50 s line
    QCOMPARE(at(3000, 2000), QColor(Qt::white));
    // The flat first second at 100 degrees, then the rise to 200.
    QCOMPARE(at(chart::xOf(0.5), chart::yOf(100)), chart::kCurveColour);
    bool red = false;
    const double x = chart::xOf(1.5), y = chart::yOf(150);
    for (int d = -2; d <= 2 && !red; ++d)
        red = at(x, y + d / perTwip) == chart::kCurveColour;
    QVERIFY(red);
}

void TestRecordTool::failedWritesAreErrors()
{
#ifdef Q_OS_UNIX
    QTemporaryDir dir;
    QVERIFY(testfiles::writeFile(dir.filePath(QStringLiteral("r.dbf")), record({" 25 ", " 26 "})));
    const Run full = tool({"csv", "r.dbf"}, dir.path(),
                          QStringLiteral("/dev/full")); // opened, never replaced
    QCOMPARE(full.status, 2);
    QVERIFY2(full.err.contains(QStringLiteral("No space left")), qPrintable(full.err));
    // A disk that fills: the tool inherits the limit and the ignored signal.
    QVERIFY(testfiles::writeFile(dir.filePath(QStringLiteral("c.png")), "old"));
    const Run r = [&] {
        const FileSizeLimit limit(100);
        return tool({"chart", "r.dbf", "-o", "c.png"}, dir.path());
    }();
    QCOMPARE(r.status, 2);
    QCOMPARE(testfiles::readFile(dir.filePath(QStringLiteral("c.png"))), QByteArray("old"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2); // no temporary left
#else
    QSKIP("a full device and file size limits are POSIX");
#endif
}

void TestRecordTool::namesAreBytesAndWrittenFilesKeepModeAndOwner()
{
#ifdef Q_OS_UNIX
    QTemporaryDir dir;
    const QByteArray folder = QFile::encodeName(dir.path()) + '/';
    QVERIFY(testfiles::writeFile(dir.filePath(QStringLiteral("r.dbf")), record({" 25 "})));
    QCOMPARE(::link((folder + "r.dbf").constData(), (folder + "caf\xe9.dbf").constData()), 0); // no UTF-8
    QProcess sh; // hands the tool the bytes as they are
    sh.setWorkingDirectory(dir.path());
    sh.start(QStringLiteral("/bin/sh"),
             {QStringLiteral("-c"),
              QStringLiteral("\"$0\" csv \"$(printf 'caf\\351.dbf')\" -o \"$(printf 'out\\351.csv')\""),
              QStringLiteral(ORVALEN_RECORD)});
    QVERIFY(sh.waitForFinished(60000));
    QCOMPARE(sh.exitCode(), 0);
    for (const char *made : {"caf\xe9.dbf", "out\xe9.csv"}) // names the temporary folder cannot spell
        QCOMPARE(::unlink((folder + made).constData()), 0);

    // A file written over keeps its mode, and as root its owner.
    const QByteArray target = folder + "kept.csv";
    QVERIFY(testfiles::writeFile(QFile::decodeName(target), "old"));
    QCOMPARE(chmod(target.constData(), 0440), 0);
    const bool root = geteuid() == 0;
    if (root)
        QCOMPARE(chown(target.constData(), 65534, 65534), 0);
    const Run r = tool({"csv", "r.dbf", "-o", "kept.csv"}, dir.path());
    QCOMPARE(r.status, root ? 0 : 2); // else not this user's to write
    struct stat st
    {};
    QCOMPARE(stat(target.constData(), &st), 0);
    QCOMPARE(st.st_mode & 07777, mode_t(0440));
    QCOMPARE(st.st_uid, root ? uid_t(65534) : geteuid());
    QCOMPARE(testfiles::readFile(QFile::decodeName(target)).startsWith("second,"), root);
#else
    QSKIP("names as bytes, modes and owners are POSIX");
#endif
}

void TestRecordTool::trendJsonInStampOrder()
{
    QTemporaryDir d;
    // Peaks 240 242 244 250 in stamp order, which is not the names' order;
    // the last two in the same second, ordered by name.
    QVERIFY(put(d, "d.dbf", record({" 240 "}, "2024 5 9 14 3 27")));
    QVERIFY(put(d, "a.dbf", record({" 242 "}, "2024 5 10 8 0 0")));
    QVERIFY(put(d, "c-10.dbf", record({" 250 "}, "2024 5 11 8 0 0")));
    QVERIFY(put(d, "c-2.dbf", record({" 244 "}, "2024 5 11 8 0 0")));
    // No peak: in no statistic, out of its window.
    QVERIFY(put(d, "gap.dbf", record({"", "x"}, "2024 5 12 8 0 0")));
    QVERIFY(put(d, "undated.dbf", record({" 240 "}, "2024 5 32 8 0 0")));
    QVERIFY(put(d, "w.txt", "peak_c = 230 250\n"));

    const Run r = tool({"trend", ".", "--window", "w.txt", "--json"}, d.path());
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
    // 250 is on the edge.
    QCOMPARE(runs[3][QStringLiteral("signals")].toArray(),
             (QJsonArray{QJsonObject{{"signal", "out_of_window"}, {"stat", "peak_c"}}}));
    QVERIFY(runs[0][QStringLiteral("signals")].toArray().isEmpty());

    const QJsonObject peak = all[QStringLiteral("stats")][QStringLiteral("peak_c")].toObject();
    QCOMPARE(peak.keys(),
             (QStringList{"center", "cpk", "lcl", "max", "mean", "min", "n", "ppk", "sd", "sigma", "ucl"}));
    // Deviations -4 -2 0 6 and moving ranges 2 2 6; the upper limit 6 away.
    const std::pair<const char *, double> expected[] = {
            {"n", 4},           {"mean", 244},      {"sd", 4.32049},    {"min", 240},     {"max", 250},
            {"sigma", 2.95508}, {"ucl", 252.86525}, {"lcl", 235.13475}, {"cpk", 0.67680}, {"ppk", 0.46291}};
    for (const auto &[key, value] : expected)
        QVERIFY2(near(peak[QLatin1String(key)].toDouble(), value), key);
    QCOMPARE(all[QStringLiteral("stats")][QStringLiteral("pwi")][QStringLiteral("cpk")].type(),
             QJsonValue::Null);
    QCOMPARE(all[QStringLiteral("stats")].toObject().keys(), (QStringList{"peak_c", "pwi"}));
}

void TestRecordTool::trendChartShowsSignals()
{
    QTemporaryDir d;
    // Nine runs at 240 and 241 and a tenth far beyond the control limits.
    for (int i = 0; i < 10; ++i)
        QVERIFY(put(d, QStringLiteral("%1.dbf").arg(i),
                    record({i == 9  ? " 249 "
                            : i % 2 ? " 240 "
                                    : " 241 "},
                           "2024 5 9 14 3 " + QByteArray::number(i))));
    const Run r = tool({"trend", ".", "--chart", "t.png"}, d.path());
    QCOMPARE(r.status, 1);
    QVERIFY2(r.out.contains("./9.dbf  2024-05-09 14:03:09  beyond_limits peak_c"), r.out.constData());
    const QImage png(d.filePath(QStringLiteral("t.png")));
    QVERIFY(png.width() > 800 && png.height() > 600);
    int red = 0;
    for (int y = 0; y < png.height(); ++y)
        for (int x = 0; x < png.width(); ++x)
            red += png.pixelColor(x, y) == QColor(215, 25, 25);
    QVERIFY2(red > 20, qPrintable(QString::number(red))); // the signalled points
}

void TestRecordTool::runsListsNewestFirstWithHowTheyEnded()
{
    QTemporaryDir d;
    QVERIFY(put(d, "2024-05-09_14-03-27.dbf",
                record({" 240 ", " 245 "}, "2024 5 9 14 8 0"))); // stopped at 14:08
    QVERIFY(put(d, "2024-05-09_14-03-27-2.dbf", record({" 240 "}))); // cut off
    QVERIFY(put(d, "2024-05-10_08-00-00.dbf", " 2024 \r\n 5 \r\n")); // unreadable
    QVERIFY(put(d, "saved.dbf", record({" 200 "}, "2024 5 1 9 0 0")));
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
    QVERIFY(near(rows[1][QStringLiteral("pwi")].toDouble(), 33.33333)); // 245: 2.5 of 7.5 from the middle
}

QTEST_GUILESS_MAIN(TestRecordTool)
#include "test_record_tool.moc"
