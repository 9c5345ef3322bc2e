#include "fakes.h"
#include "test_files.h"

#include "records/record_file.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

using testfiles::readFile;
using testfiles::recordText;
using testfiles::writeFile;

// The state a stopped run of the given samples leaves, stamped 9 May 2024.
void stoppedRun(Rig &rig, const QList<int> &samples)
{
    SharedState &s = rig.c.state;
    s.runStamp = {2024, 5, 9, 14, 3, 27};
    s.recordStamp = s.runStamp;
    s.runTicks = int(samples.size());
    for (int k = 0; k < samples.size(); ++k)
        s.samples[std::size_t(k)] = samples[k];
    const QStringList profile{"150", "60", "230", "90", "220", "40"};
    for (int i = 0; i < 6; ++i)
        rig.form.type(i + 1, profile[i]);
}

} // namespace

class TestRecords : public QObject
{
    Q_OBJECT

private slots:
    void init() { QVERIFY(m_dir.isValid()); }

    void exampleRecordByteForByte();
    void saveAndOpenGiveBackTheRun();
    void openShowsStampWithBlanksAndDrawsCurve();
    void saveAfterOpenWritesLastRunsStampAndCount();
    void dialogsOfferRecordFilter();
    void cancelledSaveWritesNothing();
    void cancelledOpenLeavesChartBlank();
    void failedSaveSaysSoAndKeepsRun();
    void damagedRecordsAreRefusedWithLine_data();
    void damagedRecordsAreRefusedWithLine();
    void countLineLimitsSamplesRead();
    void sampleThatIsNoNumberSkipsItsSegment();
    void bareLineFeedsAreLineEnds();
    void shortCounts_data();
    void shortCounts();
    void savedBeforeAnyRunOpensAgain();
    void foreignBytesSurviveOpenAndSave();

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QTemporaryDir m_dir;
};

void TestRecords::exampleRecordByteForByte()
{
    Rig rig;
    stoppedRun(rig, {25, 26, 28});
    rig.files.answers << path("example.dbf");
    savefile_Click(rig.c);
    QCOMPARE(rig.messages.texts, QStringList{QStringLiteral("OK")});
    const QByteArray expected = " 2024 \r\n 5 \r\n 9 \r\n 14 \r\n 3 \r\n 27 \r\n 3 \r\n"
                                "150\r\n60\r\n230\r\n90\r\n220\r\n40\r\n"
                                " 25 \r\n 26 \r\n 28 \r\n";
    QCOMPARE(readFile(path("example.dbf")), expected);
    QCOMPARE(rig.c.state.loopIndex, LooseValue(3));
}

void TestRecords::saveAndOpenGiveBackTheRun()
{
    Rig rig;
    QList<int> samples;
    for (int k = 0; k < 300; ++k)
        samples << 20 + k % 200;
    stoppedRun(rig, samples);
    rig.c.state.samples[7] = LooseValue(); // a second without a reading
    rig.form.type(5, QStringLiteral(" 12abc"));
    rig.files.answers << path("run.dbf");
    savefile_Click(rig.c);
    QCOMPARE(readFile(path("run.dbf")).count("\r\n"), 313);

    Rig other;
    other.c.state.runTicks = 42;
    other.files.answers << path("run.dbf");
    openfile_Click(other.c);
    QVERIFY(other.messages.texts.isEmpty());
    const SharedState &s = other.c.state;
    QCOMPARE(s.fileSampleCount, LooseValue(" 300 "));
    QCOMPARE(s.fileSampleCount.strictValue(), std::optional<double>(300));
    for (int k = 0; k < 300; ++k) {
        if (k == 7)
            QCOMPARE(s.samples[7], LooseValue(QString()));
        else
            QCOMPARE(s.samples[std::size_t(k)].strictValue(), std::optional<double>(samples[k]));
    }
    QCOMPARE(s.stageTemp[3], LooseValue(" 12abc"));
    QCOMPARE(other.form.fields[4], QStringLiteral(" 12abc"));
    QCOMPARE(s.stageTime[2], LooseValue("90"));
    QCOMPARE(s.runTicks, LooseValue(42)); // Open leaves the run clock alone
    QCOMPARE(s.loopIndex, LooseValue(9555));
}

void TestRecords::openShowsStampWithBlanksAndDrawsCurve()
{
    Rig rig;
    QVERIFY(writeFile(path("r.dbf"), recordText(4, {" 100 ", " 110 ", " 120 ", " 130 "})));
    rig.files.answers << path("r.dbf");
    rig.timer1.setEnabled(true);
    openfile_Click(rig.c);
    QCOMPARE(rig.form.caption(Form::Caption::Label5), QStringLiteral(" 2024 - 5 - 9 "));
    QCOMPARE(rig.form.caption(Form::Caption::Label6), QStringLiteral(" 14 : 3 : 27 "));
    QVERIFY(!rig.timer1.isEnabled());
    QCOMPARE(rig.form.drawing.clears, 1);
    QCOMPARE(rig.form.drawing.gridLines, 26);
    QCOMPARE(rig.form.drawing.strokes.size(), std::size_t(3));
    const auto &last = rig.form.drawing.strokes.back();
    QCOMPARE(last[0], float(chart::xOf(2)));
    QCOMPARE(last[1], float(chart::yOf(120)));
    QCOMPARE(last[3], float(chart::yOf(130)));
    // The stroke passes within a pixel of the segment's middle.
    const RetainedChart &image = rig.form.image();
    const QPoint mid = image.pixelOf(chart::xOf(2) + 7.35, chart::yOf(125));
    bool red = false;
    for (int dx = -1; dx <= 1; ++dx)
        for (int dy = -1; dy <= 1; ++dy)
            red = red || image.image().pixelColor(mid + QPoint(dx, dy)) == chart::kCurveColour;
    QVERIFY(red);
}

void TestRecords::saveAfterOpenWritesLastRunsStampAndCount()
{
    Rig rig;
    stoppedRun(rig, {1, 2, 3, 4, 5});
    QVERIFY(writeFile(path("old.dbf"), recordText(2, {" 70 ", " 71 "})));
    rig.files.answers << path("old.dbf") << path("new.dbf");
    openfile_Click(rig.c);
    savefile_Click(rig.c);
    const QByteArray saved = readFile(path("new.dbf"));
    QVERIFY(saved.startsWith(" 2024 \r\n 5 \r\n 9 \r\n 14 \r\n 3 \r\n 27 \r\n 5 \r\n"));
    // The opened record's samples where it reached, the run's after.
    QVERIFY(saved.endsWith("40\r\n 70 \r\n 71 \r\n 3 \r\n 4 \r\n 5 \r\n"));
}

void TestRecords::dialogsOfferRecordFilter()
{
    Rig rig;
    openfile_Click(rig.c);
    QCOMPARE(rig.files.lastFilter, QStringLiteral("All Files (*.*)|*.*|Text Files(*.dbf)|*.dbf"));
    QCOMPARE(rig.files.lastSelected, 2);
    savefile_Click(rig.c);
    QCOMPARE(rig.files.lastFilter, QStringLiteral("All Files (*.*)|*.*|Text Files(*.dbf)|*.dbf"));
    QCOMPARE(rig.files.lastSelected, 2);
}

void TestRecords::cancelledSaveWritesNothing()
{
    Rig rig;
    stoppedRun(rig, {1, 2});
    QVERIFY(writeFile(path("keep.dbf"), "precious"));
    rig.timer1.setEnabled(true);
    rig.c.state.loopIndex = 77;
    savefile_Click(rig.c); // no answer: cancelled
    QVERIFY(!rig.timer1.isEnabled());
    QVERIFY(rig.messages.texts.isEmpty());
    QCOMPARE(readFile(path("keep.dbf")), QByteArray("precious"));
    QCOMPARE(rig.c.state.loopIndex, LooseValue(77));
}

void TestRecords::cancelledOpenLeavesChartBlank()
{
    Rig rig;
    rig.c.state.loopIndex = 9;
    openfile_Click(rig.c);
    QCOMPARE(rig.form.drawing.clears, 1);
    QCOMPARE(rig.form.drawing.gridLines, 0);
    QCOMPARE(rig.c.state.loopIndex, LooseValue(0));
    QVERIFY(rig.messages.texts.isEmpty());
}

void TestRecords::failedSaveSaysSoAndKeepsRun()
{
    Rig rig;
    stoppedRun(rig, {11, 12, 13});
    rig.files.answers << path("no-such-folder/run.dbf") << path("later.dbf");
    savefile_Click(rig.c);
    QCOMPARE(rig.messages.texts.size(), 1);
    QVERIFY(rig.messages.texts[0].contains(QStringLiteral("NOT saved")));
    QVERIFY(!rig.messages.texts.contains(QStringLiteral("OK")));
    // Still in memory: it can be saved elsewhere.
    savefile_Click(rig.c);
    QCOMPARE(rig.messages.texts.last(), QStringLiteral("OK"));
    QVERIFY(readFile(path("later.dbf")).endsWith(" 11 \r\n 12 \r\n 13 \r\n"));
}

void TestRecords::damagedRecordsAreRefusedWithLine_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("what");
    QTest::newRow("empty file") << QByteArray() << 1 << "the year";
    QTest::newRow("ends in the profile")
            << QByteArray(" 2024 \r\n 5 \r\n 9 \r\n 14 \r\n 3 \r\n 27 \r\n 3 \r\n150\r\n") << 9
            << "stage 1 time";
    QTest::newRow("count with letters")
            << recordText(3, {}).replace(" 3 \r\n150", "3x\r\n150") << 7 << "no number";
    QTest::newRow("empty count") << recordText(3, {}).replace(" 3 \r\n150", "\r\n150") << 7 << "no number";
    QTest::newRow("count above 511") << recordText(512, {}) << 7 << "above 511";
    QTest::newRow("count of a billion") << recordText(1000000000, {}) << 7 << "above 511";
    QTest::newRow("too few samples") << recordText(3, {" 1 ", " 2 "}) << 16 << "sample 2";
    QTest::newRow("huge line") << QByteArray(100000, '7') << 1 << "longer than";
    QTest::newRow("binary") << QByteArray("\x00\xff\x01\r\n", 5) << 2 << "the month";
}

void TestRecords::damagedRecordsAreRefusedWithLine()
{
    QFETCH(QByteArray, content);
    QFETCH(int, line);
    QFETCH(QString, what);
    Rig rig;
    QVERIFY(writeFile(path("bad.dbf"), content));
    rig.files.answers << path("bad.dbf");
    openfile_Click(rig.c);
    QCOMPARE(rig.messages.texts.size(), 1);
    const QString m = rig.messages.texts[0];
    QVERIFY2(m.contains(QStringLiteral("Line %1:").arg(line)), qPrintable(m));
    QVERIFY2(m.contains(what), qPrintable(m));
    QCOMPARE(rig.form.drawing.gridLines, 0); // abandoned before drawing
}

void TestRecords::countLineLimitsSamplesRead()
{
    Rig rig;
    QList<QByteArray> lines;
    for (int k = 0; k < 300; ++k)
        lines << " " + QByteArray::number(k) + " ";
    QVERIFY(writeFile(path("r.dbf"), recordText(100, lines)));
    rig.files.answers << path("r.dbf");
    openfile_Click(rig.c);
    QVERIFY(rig.messages.texts.isEmpty());
    QCOMPARE(rig.c.state.samples[99], LooseValue(" 99 "));
    QVERIFY(rig.c.state.samples[100].isEmpty());
    QCOMPARE(rig.form.drawing.strokes.size(), std::size_t(99));
}

void TestRecords::sampleThatIsNoNumberSkipsItsSegment()
{
    Rig rig;
    QVERIFY(writeFile(path("r.dbf"), recordText(5, {" 10 ", "", " 30 ", "x40", " 50 "})));
    rig.files.answers << path("r.dbf");
    openfile_Click(rig.c);
    // Segments to 1 (empty) and to 3 (x40) skipped; from 3, "x40" counts as 0.
    const auto &strokes = rig.form.drawing.strokes;
    QCOMPARE(strokes.size(), std::size_t(2));
    QCOMPARE(strokes[0][1], float(chart::yOf(0))); // from the empty line, as 0
    QCOMPARE(strokes[1][1], float(chart::yOf(0))); // from "x40", as 0
    QCOMPARE(strokes[1][3], float(chart::yOf(50)));
    QCOMPARE(rig.messages.texts.size(), 1);
    QVERIFY2(rig.messages.texts[0].contains(QStringLiteral("line 17")), qPrintable(rig.messages.texts[0]));
}

void TestRecords::bareLineFeedsAreLineEnds()
{
    Rig rig;
    QByteArray r = recordText(2, {" 5 ", " 6 "});
    r.replace("\r\n", "\n");
    QVERIFY(writeFile(path("lf.dbf"), r));
    rig.files.answers << path("lf.dbf");
    openfile_Click(rig.c);
    QVERIFY(rig.messages.texts.isEmpty());
    QCOMPARE(rig.c.state.samples[1], LooseValue(" 6 "));
    QCOMPARE(rig.form.fields[5], QStringLiteral("40"));
}

void TestRecords::shortCounts_data()
{
    QTest::addColumn<int>("count");
    QTest::newRow("n = 0") << 0;
    QTest::newRow("n = 1") << 1;
}

void TestRecords::shortCounts()
{
    QFETCH(int, count);
    Rig rig;
    QVERIFY(writeFile(path("r.dbf"), recordText(count, {" 5 "})));
    rig.files.answers << path("r.dbf");
    openfile_Click(rig.c);
    QVERIFY(rig.messages.texts.isEmpty());
    QCOMPARE(rig.form.drawing.gridLines, 26);
    QVERIFY(rig.form.drawing.strokes.empty());
}

void TestRecords::savedBeforeAnyRunOpensAgain()
{
    Rig rig;
    rig.form.type(1, QStringLiteral("150"));
    rig.form.type(6, QStringLiteral("40"));
    rig.files.answers << path("early.dbf") << path("early.dbf");
    savefile_Click(rig.c);
    QCOMPARE(rig.messages.texts, QStringList{QStringLiteral("OK")});
    // Empty stamp, the count 0, the profile as typed, no samples.
    QCOMPARE(readFile(path("early.dbf")),
             QByteArray("\r\n\r\n\r\n\r\n\r\n\r\n 0 \r\n150\r\n\r\n\r\n\r\n\r\n40\r\n"));

    Rig other;
    other.files.answers << path("early.dbf");
    openfile_Click(other.c);
    QVERIFY2(other.messages.texts.isEmpty(), qPrintable(other.messages.texts.join(u'|')));
    QCOMPARE(other.form.fields[0], QStringLiteral("150"));
    QCOMPARE(other.form.fields[5], QStringLiteral("40"));
    QCOMPARE(other.form.drawing.gridLines, 26);
    QVERIFY(other.form.drawing.strokes.empty());
}

void TestRecords::foreignBytesSurviveOpenAndSave()
{
    // Profile and sample lines written on another machine: a degree sign of a
    // Windows code page, every byte from 0x80 up, a UTF-8 sign, a cut-short one.
    QByteArray high;
    for (int b = 0x80; b <= 0xff; ++b)
        high += char(b);
    // "15\xb0" "0" is one line: the split ends the hex escape before the 0.
    // NOLINTNEXTLINE(bugprone-suspicious-missing-comma)
    const QList<QByteArray> profile{"15\xb0"
                                    "0",
                                    high,
                                    "\xe2\x84\x83",
                                    "caf\xe9",
                                    "\xe2\x84",
                                    "40"};
    QByteArray record = " 2024 \r\n 5 \r\n 9 \r\n 14 \r\n 3 \r\n 27 \r\n 3 \r\n";
    for (const QByteArray &line : profile)
        record += line + "\r\n";
    record += " 25 \r\n\xb0\r\n 28 \r\n";
    QVERIFY(writeFile(path("foreign.dbf"), record));

    Rig rig;
    stoppedRun(rig, {1, 2, 3}); // the stamp and count Save writes are the run's
    rig.files.answers << path("foreign.dbf") << path("again.dbf");
    openfile_Click(rig.c);
    savefile_Click(rig.c);
    QCOMPARE(rig.messages.texts.last(), QStringLiteral("OK"));
    QCOMPARE(readFile(path("again.dbf")), record);
    QCOMPARE(rig.form.fields[2], QStringLiteral("℃")); // valid text stays text
}

QTEST_GUILESS_MAIN(TestRecords)
#include "test_records.moc"
