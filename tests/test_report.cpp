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

namespace {

using Op = RecordingPage::Op;

const Op *textAt(const RecordingPage &page, float x, float y)
{
    for (const Op &op : page.ops)
        if (op.kind == Op::Text && op.x1 == x && op.y1 == y)
            return &op;
    return nullptr;
}

void printedRun(Rig &rig)
{
    SharedState &s = rig.c.state;
    s.recordStamp = {2024, 5, 9, 14, 3, 27};
    s.stageTemp[1] = "150";
    s.stageTime[1] = "60";
    s.stageTemp[2] = "230";
    s.stageTime[2] = "90";
    s.stageTemp[3] = "220";
    s.stageTime[3] = "40";
}

// A printer whose page cannot begin until the test lets it, and whose job
// is over at its n-th look (never where n is 0).
struct GatedDevice : PageDevice
{
    struct Shared
    {
        std::promise<void> open;
        std::shared_future<void> opened = open.get_future().share();
        std::atomic<bool> entered{false};
        std::atomic<int> looks{0};
        int overAt = 0;
    };
    struct CountedJob : Job
    {
        explicit CountedJob(std::shared_ptr<Shared> shared) : s(std::move(shared)) {}
        Look look(const GiveUp &) override { return {++s->looks == s->overAt, {}}; }
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
    void headerInPrintForm_data();
    void headerInPrintForm();
    void gridAndLabelsWherePlaced();
    void curveIsElevenDotsPerSecond();
    void curveSkipsZerosAndStopsAt460();
    void printerFaultIsToldAndNoPageCounted_data();
    void printerFaultIsToldAndNoPageCounted();
    void pdfPlacesTextWhereLayoutSays();
    void newsWaitsForOkOnlyOutsideARun();
    void quietPrintSystemIsToldThenItsAnswer();
    void pageGivenUpIsNeverPrintedLater();
    void jobIsFollowedForItsTimeOnly();
    void endsAtOnceWhileThePrintSystemHoldsIt();
};

void TestReport::headerInPrintForm_data()
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

void TestReport::headerInPrintForm()
{
    QFETCH(bool, recorded);
    QFETCH(QStringList, texts);
    Rig rig;
    if (recorded) {
        printedRun(rig);
        rig.c.state.stageTime[3] = "12abc";
    }
    printpaper_Click(rig.c);
    QCOMPARE(rig.printer.documents, 1);
    const RecordingPage &page = *rig.printer.page;
    QCOMPARE(page.ops[0].kind, Op::Font);
    QCOMPARE(page.ops[0].size, 18.0);
    for (const QString &t : texts) {
        const QStringList xyText = t.split(u' ');
        const Op *op = textAt(page, xyText[0].toFloat(), xyText[1].toFloat());
        QVERIFY2(op, qPrintable(t));
        QCOMPARE(op->text, t.section(u' ', 2));
    }
    QVERIFY(page.of(Op::Point).empty());
    QVERIFY(rig.messages.texts.isEmpty());
}

void TestReport::gridAndLabelsWherePlaced()
{
    Rig rig;
    printpaper_Click(rig.c);
    const RecordingPage &page = *rig.printer.page;
    const auto lines = page.of(Op::Line);
    QCOMPARE(lines.size(), std::size_t(17 + 47));
    QCOMPARE(lines[0].y1, 8000.f);
    QCOMPARE(lines[16].y1, 12992.f);
    QCOMPARE(lines[16].x2, 10600.f);
    QCOMPARE(lines[17].x1, 950.f);
    QCOMPARE(lines.back().x1, 10610.f);
    QCOMPARE(lines.back().y2, 13000.f);
    const QList<std::pair<int, int>> labels{
            {400, 7900},  {375, 8212},  {350, 8525},  {325, 8838},  {300, 9150},  {275, 9462},
            {250, 9775},  {225, 10088}, {200, 10400}, {175, 10712}, {150, 11025}, {125, 11338},
            {100, 11650}, {75, 11962},  {50, 12275},  {25, 12588},  {0, 12900}};
    for (const auto &[value, y] : labels) {
        const Op *op = textAt(page, 510, float(y));
        QVERIFY2(op, qPrintable(QString::number(value)));
        QCOMPARE(op->text, QStringLiteral(" %1 ").arg(value));
    }
    for (int i = 0; i < 10; ++i)
        QCOMPARE(textAt(page, float(860 + 1050 * i), 13200)->text, QStringLiteral(" %1 ").arg(50 * i));
    QVERIFY(!textAt(page, 860 + 10500, 13200)); // nothing for 500
    // Widths: 1 for the grid, 5 for the curve.
    const auto widths = page.of(Op::Width);
    QCOMPARE(widths.size(), std::size_t(2));
    QCOMPARE(widths[0].size, 1.0);
    QCOMPARE(widths[1].size, 5.0);
}

void TestReport::curveIsElevenDotsPerSecond()
{
    Rig rig;
    rig.c.state.samples[1] = 100;
    rig.c.state.samples[2] = 200;
    printpaper_Click(rig.c);
    const auto dots = rig.printer.page->of(Op::Point);
    QCOMPARE(dots.size(), std::size_t(11)); // second 1 is never drawn
    QCOMPARE(dots.front().x1, float(920 + 42 + 1));
    QCOMPARE(dots.front().y1, float(13000 - 6.25 * (200 + 200 * 1 / 21.0)));
    QCOMPARE(dots.back().x1, float(920 + 42 + 21));
    QCOMPARE(dots.back().y1, float(13000 - 6.25 * 400)); // 200 degrees
}

void TestReport::curveSkipsZerosAndStopsAt460()
{
    Rig rig;
    for (int k = 0; k <= 510; ++k)
        rig.c.state.samples[std::size_t(k)] = 50;
    rig.c.state.samples[10] = 0; // a gap of one second
    rig.c.state.samples[20] = "abc"; // no number counts as 0
    printpaper_Click(rig.c);
    const auto dots = rig.printer.page->of(Op::Point);
    // Seconds 2..460 less the two gaps.
    QCOMPARE(dots.size(), std::size_t(11 * (459 - 2)));
    // Second 11 rises from 0 degrees towards 50.
    bool risingFromZero = false;
    for (const Op &d : dots)
        if (d.x1 == float(920 + 21 * 11 + 1))
            risingFromZero = d.y1 > float(13000 - 6.25 * 100 * 2 / 21.0 - 1);
    QVERIFY(risingFromZero);
    QVERIFY(dots.back().x1 <= float(920 + 21 * 460 + 21));
}

void TestReport::printerFaultIsToldAndNoPageCounted_data()
{
    QTest::addColumn<bool>("atBegin");
    QTest::addColumn<QString>("told");
    QTest::newRow("no printer") << true << "no default printer is set up on this computer.";
    QTest::newRow("fails at the end") << false << "The report was not printed: the printer reported an error";
}

void TestReport::printerFaultIsToldAndNoPageCounted()
{
    QFETCH(bool, atBegin);
    QFETCH(QString, told);
    Rig rig;
    (atBegin ? rig.printer.beginError : rig.printer.endError) = told.section(u':', -1).trimmed();
    printpaper_Click(rig.c);
    QCOMPARE(rig.printer.documents, 0);
    QCOMPARE(rig.messages.texts.size(), 1);
    QVERIFY2(rig.messages.texts[0].contains(told), qPrintable(rig.messages.texts[0]));
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

void TestReport::newsWaitsForOkOnlyOutsideARun()
{
    for (const bool monitor : {false, true})
        for (const bool starting : {false, true}) {
            Rig rig;
            runBook(rig.c).monitorActive = monitor;
            runBook(rig.c).runStarting = starting;
            tellPrintNews(rig.c,
                          {PrintNews::Kind::NotPrinted, QStringLiteral("the printer p aborted the job.")});
            const QStringList told{
                    QStringLiteral("The report was not printed: the printer p aborted the job.")};
            QCOMPARE(rig.messages.texts, monitor || starting ? QStringList() : told);
            QCOMPARE(rig.messages.notices, monitor || starting ? told : QStringList());
        }
}

void TestReport::quietPrintSystemIsToldThenItsAnswer()
{
    auto device = std::make_unique<GatedDevice>();
    const auto gated = device->s;
    gated->overAt = 1;
    BackgroundPrinter printer(std::move(device), {.answerMs = 300, .followMs = 1000, .lookMs = 50});
    QList<PrintNews> news;
    printer.print([](PrintSurface &) {}, [&news](const PrintNews &n) { news << n; });
    QTRY_COMPARE(news.size(), 1);
    QVERIFY(news[0].kind == PrintNews::Kind::Unsure);
    QVERIFY2(news[0].reason.contains(QStringLiteral("not answered for 0.3 seconds")),
             qPrintable(news[0].reason));
    gated->open.set_value();
    QTRY_COMPARE(news.size(), 2);
    QVERIFY(news[1].kind == PrintNews::Kind::Resolved);
    QTest::qWait(200);
    QCOMPARE(news.size(), 2);
}

void TestReport::pageGivenUpIsNeverPrintedLater()
{
    auto device = std::make_unique<GatedDevice>();
    const auto gated = device->s;
    gated->overAt = 1;
    BackgroundPrinter printer(std::move(device), {.answerMs = 300, .followMs = 1000, .lookMs = 50});
    std::atomic<int> drawn{0};
    QList<PrintNews> news;
    for (int page = 0; page < 2; ++page) // the second waits behind the first
        printer.print([&drawn](PrintSurface &) { ++drawn; }, [&news](const PrintNews &n) { news << n; });
    QTRY_COMPARE(news.size(), 2);
    QVERIFY(news[1].kind == PrintNews::Kind::NotPrinted);
    gated->open.set_value();
    QTRY_COMPARE(news.size(), 3); // the first page's answer
    QTest::qWait(300);
    QCOMPARE(drawn.load(), 1); // told as not printed: so it never is
}

void TestReport::jobIsFollowedForItsTimeOnly()
{
    auto device = std::make_unique<GatedDevice>();
    const auto gated = device->s;
    gated->open.set_value();
    BackgroundPrinter printer(std::move(device), {.answerMs = 5000, .followMs = 1000, .lookMs = 50});
    printer.print([](PrintSurface &) {}, [](const PrintNews &) {});
    QTest::qWait(1500);
    // A job never over: looked at for a second, once every 50 ms.
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
