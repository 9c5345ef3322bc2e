// orvalen-record: its statistics against hand-computed values, window files,
// and the program itself as a user runs it, with no display and no
// environment of its own.
#include "programs.h"
#include "record_stats.h"
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

#ifdef Q_OS_UNIX
#include "file_size_limit.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#endif

using namespace recordstats;
using programs::Run;

namespace {

QByteArray record(const QList<QByteArray> &samples)
{
    return testfiles::recordText(int(samples.size()), samples);
}

QStringList lines(const QList<QByteArray> &samples)
{
    QStringList out;
    for (const QByteArray &s : samples)
        out << QString::fromLatin1(s);
    return out;
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

} // namespace

class TestRecordTool : public QObject
{
    Q_OBJECT

private slots:
    void statisticsByHand_data();
    void statisticsByHand();
    void judgedWithoutAValue();
    void processWindowIndexAtMiddleAndEdge();
    void windowFileMatchesBuiltIn();
    void badWindowFiles_data();
    void badWindowFiles();

    void exitStatusesAndRefusedRecords();
    void csvOfRecordWithGaps();
    void reportIsThePrintedPage();
    void chartHasGridAndCurveWhereOpenDrawsThem();
    void tableAndJsonKeepEveryValue();
    void outputsNeverReplaceWhatIsNoFile_data();
    void outputsNeverReplaceWhatIsNoFile();
    void failedWritesAreErrors();
    void namesAreBytesAndWrittenFilesKeepModeAndOwner();

private:
    QString write(const QString &name, const QByteArray &bytes)
    {
        const QString path = m_dir.filePath(name);
        if (!testfiles::writeFile(path, bytes))
            qFatal("cannot write %s", qPrintable(name));
        return path;
    }
    QTemporaryDir m_dir;
};

void TestRecordTool::statisticsByHand_data()
{
    using O = std::optional<double>;
    QTest::addColumn<QList<QByteArray>>("samples");
    QTest::addColumn<int>("slope"); // seconds
    QTest::addColumn<std::vector<O>>("stats"); // peak_c peak_s tal_s soak_s max_rise max_fall
    // Up by 50 a second, three seconds at 250 (at or above 217), down by 50;
    // 150 and 200 before the peak are both ends of the soak range.
    QTest::newRow("trapezoid") << QList<QByteArray>{" 100 ", " 150 ", " 200 ", " 250 ", " 250 ",
                                                    " 250 ", " 200 ", " 150 ", " 100 "}
                               << 2 << std::vector<O>{250, 3, 3, 2, 50, 50};
    // An empty line, "265 C" and "x" are seconds without a value; blanks and
    // tabs around a number are allowed. Slopes span the gaps.
    const QList<QByteArray> gaps{" 100 ", "", " 120 ", "265 C", " 130 ", "x", " 125 ", "  140\t"};
    QTest::newRow("gaps, 2 s slopes") << gaps << 2 << std::vector<O>{140, 7, 0, 0, 10, 2.5};
    QTest::newRow("gaps, 1 s slopes: only 6 to 7") << gaps << 1 << std::vector<O>{140, 7, 0, 0, 15, {}};
    // Counted from the first peak: 180 after it is no soak.
    QTest::newRow("peak reached twice") << QList<QByteArray>{" 200 ", " 240 ", " 180 ", " 240 ", " 100 "} << 1
                                        << std::vector<O>{240, 1, 2, 1, 60, 140};
    QTest::newRow("no value at all") << QList<QByteArray>{"", "x"} << 1 << std::vector<O>(6);
}

void TestRecordTool::statisticsByHand()
{
    QFETCH(QList<QByteArray>, samples);
    QFETCH(int, slope);
    QFETCH(std::vector<std::optional<double>>, stats);
    const Stats st = computeStats(sampleValues(lines(samples)), *builtinWindow(QStringLiteral("sac305")),
                                  slope);
    const std::vector<std::optional<double>> got{st.peakC, st.peakS,   st.talS,
                                                 st.soakS, st.maxRise, st.maxFall};
    QCOMPARE(got, stats);
}

void TestRecordTool::judgedWithoutAValue()
{
    const Window w = *builtinWindow(QStringLiteral("sac305"));
    const Samples v = sampleValues(lines({" 100 ", "", " 120 ", "265 C", " 130 ", "x", " 125 ", "  140\t"}));
    QCOMPARE(v[3], std::nullopt);
    const Judgement j = judge(computeStats(v, w, 1), w);
    QCOMPARE(j.pwi, std::nullopt); // a limited statistic without a value
    QVERIFY(!j.inWindow);
    QCOMPARE(j.worst, std::optional<Stat>(Stat::MaxFall));
}

void TestRecordTool::processWindowIndexAtMiddleAndEdge()
{
    const Window w = window("peak_c = 200 300\n");
    auto judged = [&](double peak) { return judge(computeStats({peak}, w, 5), w); };
    QCOMPARE(judged(250).pwi, std::optional<double>(0));
    QVERIFY(judged(250).inWindow);
    QCOMPARE(judged(300).pwi, std::optional<double>(100));
    QVERIFY(!judged(300).inWindow); // the edge is outside
    QCOMPARE(judged(200).pwi, std::optional<double>(100));
    QCOMPARE(judged(275).pwiByStat[std::size_t(Stat::PeakC)], std::optional<double>(50));
    QCOMPARE(judged(275).pwiByStat[std::size_t(Stat::TalS)], std::nullopt); // not limited
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
    QCOMPARE(w.soakRange->low, 150.0);
    QCOMPARE(w.soakRange->high, 200.0);
    for (Stat s : kStats) {
        QCOMPARE(w.limit(s)->low, b.limit(s)->low);
        QCOMPARE(w.limit(s)->high, b.limit(s)->high);
    }
    QCOMPARE(builtinWindow(QStringLiteral("sn63pb37"))->liquidus, std::optional<double>(183));
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

void TestRecordTool::exitStatusesAndRefusedRecords()
{
    const QString dir = m_dir.path();
    write(QStringLiteral("in.dbf"), record({" 240 ", " 250 "}));
    write(QStringLiteral("out.dbf"), record({" 240 ", " 310 "}));
    write(QStringLiteral("cut.dbf"), " 2024 \r\n 5 \r\n");
    write(QStringLiteral("w.txt"), "peak_c = 200 300\n");
    write(QStringLiteral("bad.txt"), "liquidus = 217\npeak_c = 300\n");

    QCOMPARE(tool({"analyze", "in.dbf", "--window", "w.txt"}, dir).status, 0);
    Run r = tool({"analyze", "in.dbf", "out.dbf", "--window", "w.txt"}, dir);
    QCOMPARE(r.status, 1);
    QVERIFY2(r.out.contains("out.dbf") && r.out.contains("peak_c"), r.out.constData()); // the worst named
    // A refused record is told with its line, and the others are still judged.
    r = tool({"analyze", "cut.dbf", "in.dbf", "--json", "--window", "w.txt"}, dir);
    QCOMPARE(r.status, 2);
    QVERIFY2(r.err.contains(QStringLiteral(
                     "cut.dbf cannot be read further.\nLine 3: the file ends where the day should be.")),
             qPrintable(r.err));
    const QJsonArray all = QJsonDocument::fromJson(r.out).array();
    QCOMPARE(all.size(), 1);
    const QJsonObject o = all[0].toObject();
    QStringList keys = o.keys();
    keys.sort();
    QCOMPARE(keys.join(u' '), QStringLiteral("count file in_window max_fall_c_per_s max_rise_c_per_s peak_c "
                                             "peak_s profile pwi pwi_by_stat soak_s stamp tal_s window"));
    QCOMPARE(o[QStringLiteral("file")].toString(), QStringLiteral("in.dbf"));
    QCOMPARE(o[QStringLiteral("pwi")].toDouble(-1), 0.0);
    QVERIFY(o[QStringLiteral("max_fall_c_per_s")].isNull());
    QCOMPARE(o[QStringLiteral("pwi_by_stat")].toObject().keys(), QStringList{QStringLiteral("peak_c")});
    QCOMPARE(o[QStringLiteral("stamp")].toArray()[0].toString(), QStringLiteral("2024"));
    QCOMPARE(o[QStringLiteral("profile")].toArray()[2].toString(), QStringLiteral("230"));

    r = tool({"analyze", "in.dbf", "--window", "bad.txt"}, dir);
    QCOMPARE(r.status, 2);
    QVERIFY2(r.err.contains(QStringLiteral("line 2")), qPrintable(r.err));
    QCOMPARE(tool({"analyze", "in.dbf", "--window", "sac306"}, dir).status, 2);
    QCOMPARE(tool({"analyze", "in.dbf", "--slope-window", "0"}, dir).status, 2);
    QCOMPARE(tool({"csv", "cut.dbf"}, dir).status, 2);
    QCOMPARE(tool({"chart", "cut.dbf", "-o", "c.png"}, dir).status, 2);
    QCOMPARE(tool({"csv", "in.dbf", "-o", "in.dbf"}, dir).status, 2); // never over a record
    QCOMPARE(tool({"frobnicate"}, dir).status, 2);
}

void TestRecordTool::csvOfRecordWithGaps()
{
    write(QStringLiteral("gaps.dbf"), record({" 100 ", "", " 120.5 ", "265 C", "-3 "}));
    const Run r = tool({"csv", "gaps.dbf"}, m_dir.path());
    QCOMPARE(r.status, 0);
    QCOMPARE(r.out, QByteArray("second,temperature_c\n0,100\n1,\n2,120.5\n3,\n4,-3\n"));
}

void TestRecordTool::reportIsThePrintedPage()
{
    if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
        QSKIP("pdftotext (poppler-utils) is not installed");
    write(QStringLiteral("r.dbf"), record({" 100 ", " 150 ", " 200 "}));
    QCOMPARE(tool({"report", "r.dbf", "-o", "r.pdf"}, m_dir.path()).status, 0);
    const QString pdf = m_dir.filePath(QStringLiteral("r.pdf"));
    const QString html = programs::pdfWords(pdf);
    const QStringList misplaced = programs::misplacedReportWords(html);
    QVERIFY2(misplaced.isEmpty(), qPrintable(misplaced.join(u'\n')));
    // The stage and stamp values of the record, in print form.
    QVERIFY(html.contains(QStringLiteral(">2024</word>")) && html.contains(QStringLiteral(">230</word>")));
}

void TestRecordTool::chartHasGridAndCurveWhereOpenDrawsThem()
{
    write(QStringLiteral("c.dbf"), record({" 100 ", " 100 ", " 200 "}));
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

void TestRecordTool::tableAndJsonKeepEveryValue()
{
    QByteArray text = record({" 25 ", " 1e307 "});
    text.replace("150\r\n", "150\xf0\x9f\x98\x80\r\n"); // a character beyond 16 bits
    write(QStringLiteral("big.dbf"), text);
    Run r = tool({"analyze", "big.dbf"}, m_dir.path());
    QVERIFY2(r.out.contains(" 1E+307 ") && !r.out.contains("Infinity"), r.out.constData());
    r = tool({"analyze", "big.dbf", "--json"}, m_dir.path());
    const QJsonObject o = QJsonDocument::fromJson(r.out).array()[0].toObject();
    QCOMPARE(o[QStringLiteral("peak_c")].toDouble(), 1e307);
    QCOMPARE(o[QStringLiteral("profile")].toArray()[0].toString(), QStringLiteral("150\U0001F600"));
}

void TestRecordTool::outputsNeverReplaceWhatIsNoFile_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("kind");
#ifdef Q_OS_UNIX
    QTest::newRow("report onto a pipe") << "report" << int(S_IFIFO);
    QTest::newRow("chart onto a device") << "chart" << int(S_IFCHR);
    QTest::newRow("csv onto a folder") << "csv" << int(S_IFDIR);
#endif
}

void TestRecordTool::outputsNeverReplaceWhatIsNoFile()
{
#ifdef Q_OS_UNIX
    QFETCH(QString, command);
    QFETCH(int, kind);
    QTemporaryDir dir;
    QVERIFY(testfiles::writeFile(dir.filePath(QStringLiteral("r.dbf")), record({" 25 "})));
    const QByteArray node = QFile::encodeName(dir.filePath(QStringLiteral("node")));
    // A null device of the test's own, never one of the machine's.
    if ((kind == S_IFDIR ? mkdir(node.constData(), 0777)
                         : mknod(node.constData(), mode_t(kind) | 0666, makedev(1, 3)))
        != 0)
        QSKIP("such a node cannot be made here");
    struct stat before
    {
    }, after{};
    QCOMPARE(stat(node.constData(), &before), 0);
    const Run r = tool({command, "r.dbf", "-o", "node"}, dir.path());
    QCOMPARE(r.status, 2);
    QVERIFY2(r.err.contains(QStringLiteral("is not a regular file")), qPrintable(r.err));
    QCOMPARE(stat(node.constData(), &after), 0);
    QVERIFY(after.st_ino == before.st_ino && after.st_mode == before.st_mode);
#endif
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

QTEST_GUILESS_MAIN(TestRecordTool)
#include "test_record_tool.moc"
