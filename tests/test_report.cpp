#include "fakes.h"
#include "programs.h"

#include "report/pdf_printer.h"
#include "report/report.h"
#include "run/run_book.h"
#include "ui/background_printer.h"

#include <QFile>
#include <QGuiApplication>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <future>
#include <map>

namespace {

using Op = RecordingPage::Op;

const Op *textAt(const RecordingPage &page, float x, float y)
{
    for (const Op &op : page.ops)
        if (op.kind == Op::Text && op.x1 == x && op.y1 == y)
            return &op;
    return nullptr;
}

// A run as the report shows it: a stage time with letters after its number,
// a sample of 0 (a gap of one second) and one that is no number (counts as 0).
void printedRun(Rig &rig)
{
    SharedState &s = rig.c.state;
    s.recordStamp = {2024, 5, 9, 14, 3, 27};
    s.stageTemp = {LooseValue(), "150", "230", "220"};
    s.stageTime = {LooseValue(), "60", "90", "12abc"};
    for (std::size_t k = 1; k < SharedState::kSampleCount; ++k)
        s.samples[k] = k == 1 ? 100 : k == 2 ? 200 : 50;
    s.samples[10] = 0;
    s.samples[20] = "abc";
}

// A printer whose page cannot begin until the test lets it, and whose job
// is never over.
struct GatedDevice : PageDevice
{
    struct Shared
    {
        std::promise<void> open;
        std::shared_future<void> opened = open.get_future().share();
        std::atomic<bool> entered{false};
        std::atomic<int> looks{0};
    };
    struct CountedJob : Job
    {
        explicit CountedJob(std::shared_ptr<Shared> shared) : s(std::move(shared)) {}
        Look look(const GiveUp &) override
        {
            ++s->looks;
            return {false, {}};
        }
        std::shared_ptr<Shared> s;
    };
    Outcome<PrintSurface *> beginDocument() override
    {
        s->entered = true;
        s->opened.wait();
        return &page;
    }
    Status endDocument() override { return Done{}; }
    std::unique_ptr<Job> endedJob() override { return std::make_unique<CountedJob>(s); }
    std::shared_ptr<Shared> s = std::make_shared<Shared>();
    RecordingPage page;
};

} // namespace

class TestReport : public QObject
{
    Q_OBJECT

private slots:
    void pageShowsTheRunOnOneScale_data();
    void pageShowsTheRunOnOneScale();
    void printerFaultIsToldAsTheRunAllows_data();
    void printerFaultIsToldAsTheRunAllows();
    void pdfPlacesTextWhereLayoutSays();
    void quietPrintSystemIsToldAndPageBehindGivenUp();
    void endsAtOnceWhileThePrintSystemHoldsIt();
};

void TestReport::pageShowsTheRunOnOneScale_data()
{
    QTest::addColumn<bool>("recorded");
    QTest::addColumn<QStringList>("texts"); // "x y text", in twips
    QTest::newRow("a run") << true
                           << QStringList{"4000 1200 ORVALEN REFLOW PROFILE ",
                                          "1000 2000 Parameter1(TEMP): 150 ℃",
                                          "8000 2000 Date: 2024 - 5 - 9 ",
                                          "1000 2500 Parameter1(Time): 60 S",
                                          "8000 2500 Time: 14 : 3 : 27 ",
                                          "1000 3000 Parameter2(TEMP): 230 ℃",
                                          "1000 3500 Parameter2(Time): 90 S",
                                          "1000 4000 Parameter3(TEMP): 220 ℃",
                                          "1000 4500 Parameter3(Time): 12 S",
                                          "500 7600 TEMP(℃)",
                                          "10800 13200 (S)"};
    QTest::newRow("nothing recorded")
            << false
            << QStringList{"1000 2000 Parameter1(TEMP): 0 ℃", "8000 2000 Date: 0 - 0 - 0 ",
                           "8000 2500 Time: 0 : 0 : 0 "};
}

// The header in print form; the grid, its labels and the curve on one scale:
// 12.5 twips a degree up from y = 13000, 21 twips a second.
void TestReport::pageShowsTheRunOnOneScale()
{
    QFETCH(bool, recorded);
    QFETCH(QStringList, texts);
    Rig rig;
    SharedState &s = rig.c.state;
    if (recorded)
        printedRun(rig);
    printpaper_Click(rig.c);
    QCOMPARE(rig.printer.documents, 1);
    QVERIFY(rig.messages.texts.isEmpty());
    const RecordingPage &page = *rig.printer.page;
    QCOMPARE(page.ops[0].kind, Op::Font);
    QCOMPARE(page.ops[0].size, 18.0);
    for (const QString &t : texts) {
        const QStringList xyText = t.split(u' ');
        const Op *op = textAt(page, xyText[0].toFloat(), xyText[1].toFloat());
        QVERIFY2(op, qPrintable(t));
        QCOMPARE(op->text, t.section(u' ', 2));
    }

    const auto yOf = [](double degrees) { return float(13000 - 12.5 * degrees); };
    const auto xOf = [](double second) { return float(950 + 21 * second); }; // the grid's
    // Labels each 100 twips above their degree, or 90 left of their second.
    QList<int> degrees, seconds, every25, every50;
    for (const Op &op : page.of(Op::Text)) {
        const int v = op.text.trimmed().toInt();
        const bool degree = op.x1 == 510 && std::abs(op.y1 + 100 - yOf(v)) <= 0.5f;
        if (degree || (op.y1 == 13200 && op.x1 + 90 == xOf(v))) {
            (degree ? degrees : seconds) << v;
            QCOMPARE(op.text, QStringLiteral(" %1 ").arg(v));
        }
    }
    for (int v = 400; v >= 0; v -= 25)
        every25 << v;
    for (int v = 0; v < 500; v += 50)
        every50 << v;
    QCOMPARE(degrees, every25);
    QCOMPARE(seconds, every50);
    // Grid lines across every 25 degrees (312 twips), down every 10 seconds.
    int across = 0, down = 0;
    for (const Op &l : page.of(Op::Line)) {
        const bool isAcross = l.y1 == l.y2;
        const int i = isAcross ? across++ : down++;
        if (isAcross)
            QVERIFY(l.x1 == xOf(0) && l.x2 == 10600 && l.y1 == yOf(400) + 312 * float(i));
        else
            QVERIFY(l.y1 == yOf(400) && l.y2 == yOf(0) && l.x1 == xOf(10 * i));
    }
    QCOMPARE(across, 17);
    QCOMPARE(down, 47);

    // The curve: seconds 2 to 460 whose sample is not 0, each eleven dots on
    // its way from the sample before (0 where that is none) to its own.
    std::map<int, std::vector<Op>> curve;
    for (const Op &d : page.of(Op::Point))
        curve[int(d.x1 - 921) / 21].push_back(d);
    std::vector<int> drawn;
    for (int k = 2; k <= 460; ++k)
        if (s.samples[std::size_t(k)].leadingNumber() != 0)
            drawn.push_back(k);
    QCOMPARE(curve.size(), drawn.size());
    for (int k : drawn) {
        const std::vector<Op> &dots = curve[k];
        const double from = s.samples[std::size_t(k - 1)].leadingNumber();
        const double to = s.samples[std::size_t(k)].leadingNumber();
        QCOMPARE(dots.size(), std::size_t(11));
        QCOMPARE(dots.front().x1, xOf(k - 1) - 8);
        QCOMPARE(dots.front().y1, yOf(from + (to - from) / 21));
        QCOMPARE(dots.back().x1, xOf(k) - 9);
        QCOMPARE(dots.back().y1, yOf(to));
    }
    // Widths: 1 for the grid, 5 for the curve.
    const auto widths = page.of(Op::Width);
    QCOMPARE(widths.size(), std::size_t(2));
    QCOMPARE(widths[0].size, 1.0);
    QCOMPARE(widths[1].size, 5.0);
}

// A printer that fails is told, in a box of its own, or as a notice where a
// run is on or starting and must not wait for the operator's OK.
void TestReport::printerFaultIsToldAsTheRunAllows_data()
{
    QTest::addColumn<bool>("atBegin");
    QTest::addColumn<bool>("monitor");
    QTest::addColumn<bool>("starting");
    QTest::addColumn<QString>("told");
    const QString noPrinter = QStringLiteral(
            "The report was not printed: no default printer is set up on this computer.");
    const QString failed = QStringLiteral("The report was not printed: the printer reported an error");
    QTest::newRow("no printer") << true << false << false << noPrinter;
    QTest::newRow("fails at the end") << false << false << false << failed;
    QTest::newRow("no printer during a run") << true << true << false << noPrinter;
    QTest::newRow("fails at the end as a run starts") << false << false << true << failed;
}

void TestReport::printerFaultIsToldAsTheRunAllows()
{
    QFETCH(bool, atBegin);
    QFETCH(bool, monitor);
    QFETCH(bool, starting);
    QFETCH(QString, told);
    Rig rig;
    runBook(rig.c).monitorActive = monitor;
    runBook(rig.c).runStarting = starting;
    (atBegin ? rig.printer.beginError : rig.printer.endError) = told.section(u':', -1).trimmed();
    printpaper_Click(rig.c);
    QCOMPARE(rig.printer.documents, 0);
    QCOMPARE(rig.messages.texts, monitor || starting ? QStringList() : QStringList{told});
    QCOMPARE(rig.messages.notices, monitor || starting ? QStringList{told} : QStringList());
}

void TestReport::pdfPlacesTextWhereLayoutSays()
{
    if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
        QSKIP("pdftotext (poppler-utils) is not installed");
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("report.pdf"));
    // Made on the printing thread, as Print makes it.
    Rig rig;
    printedRun(rig);
    {
        BackgroundPrinter printer(std::make_unique<PdfPrinter>(pdf), {});
        printer.print([&rig](PrintSurface &page) { drawReport(page, rig.c.state); },
                      [](const PrintNews &news) { QFAIL(qPrintable(news.reason)); });
        QTRY_VERIFY(QFileInfo::exists(pdf)); // begun: it is finished before the printer goes
    }
    const QStringList misplaced = programs::misplacedReportWords(programs::pdfWords(pdf));
    QVERIFY2(misplaced.isEmpty(), qPrintable(misplaced.join(u'\n')));
}

// A print system that keeps quiet: the page is told as unsure, the page
// behind it as given up; once the system answers, the first is told as
// printed, and the one given up never is. A job that never ends is looked at
// for the time it is followed only, once every 50 ms.
void TestReport::quietPrintSystemIsToldAndPageBehindGivenUp()
{
    auto device = std::make_unique<GatedDevice>();
    const auto gated = device->s;
    BackgroundPrinter printer(std::move(device), {.answerMs = 300, .followMs = 1000, .lookMs = 50});
    std::atomic<int> drawn{0};
    QList<PrintNews> news;
    for (int page = 0; page < 2; ++page)
        printer.print([&drawn](PrintSurface &) { ++drawn; }, [&news](const PrintNews &n) { news << n; });
    QTRY_COMPARE(news.size(), 2);
    QVERIFY(news[0].kind == PrintNews::Kind::Unsure);
    QVERIFY2(news[0].reason.contains(QStringLiteral("not answered for 0.3 seconds")),
             qPrintable(news[0].reason));
    QVERIFY(news[1].kind == PrintNews::Kind::NotPrinted);
    gated->open.set_value();
    QTRY_COMPARE(news.size(), 3);
    QVERIFY(news[2].kind == PrintNews::Kind::Resolved);
    QTest::qWait(1500);
    QCOMPARE(news.size(), 3);
    QCOMPARE(drawn.load(), 1);
    QVERIFY2(gated->looks >= 5 && gated->looks <= 21, qPrintable(QString::number(gated->looks)));
}

void TestReport::endsAtOnceWhileThePrintSystemHoldsIt()
{
    auto device = std::make_unique<GatedDevice>();
    const auto gated = device->s;
    auto printer = std::make_unique<BackgroundPrinter>(std::move(device), BackgroundPrinter::Bounds{});
    printer->print([](PrintSurface &) {}, [](const PrintNews &) {});
    QTRY_VERIFY(gated->entered);
    QElapsedTimer clock;
    clock.start();
    printer.reset();
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    gated->open.set_value(); // the thread left behind ends on its own
}

QTEST_MAIN(TestReport)
#include "test_report.moc"
