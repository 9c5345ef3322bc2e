#include "fakes.h"
#include "test_files.h"

#include "records/record_file.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

namespace {

using testfiles::readFile;
using testfiles::recordText;
using testfiles::writeFile;

const QString kFilter = QStringLiteral("All Files (*.*)|*.*|Text Files(*.dbf)|*.dbf");
const QByteArray kProfileLines = "150\r\n60\r\n230\r\n90\r\n220\r\n40\r\n";

// The profile typed, and the state a stopped run of the given samples
// (numbers or texts) leaves, stamped 9 May 2024; no run at all when there are
// none. Seconds past the room for samples only count.
void stoppedRun(Rig &rig, const QVariantList &samples)
{
    SharedState &s = rig.c.state;
    if (!samples.isEmpty()) {
        s.runStamp = {2024, 5, 9, 14, 3, 27};
        s.recordStamp = s.runStamp;
        s.runTicks = int(samples.size());
    }
    for (int k = 0; k < samples.size() && k < SharedState::kSampleCount; ++k) {
        const QVariant &v = samples[k];
        s.samples[std::size_t(k)] = v.typeId() == QMetaType::QString ? LooseValue(v.toString())
                                                                     : v.toDouble();
    }
    const QList<QByteArray> profile = kProfileLines.split('\r');
    for (int i = 0; i < 6; ++i)
        rig.form.type(i + 1, QString::fromLatin1(profile[i].trimmed()));
}

} // namespace

class TestRecords : public QObject
{
    Q_OBJECT

private slots:
    void saveWritesTheRun_data();
    void saveWritesTheRun();
    void openStoresAndDraws_data();
    void openStoresAndDraws();
    void openShowsStampAndSkipsWhatIsNoTemperature();
    void foreignBytesSurviveOpenAndSave();
};

void TestRecords::saveWritesTheRun_data()
{
    QTest::addColumn<QVariantList>("samples");
    QTest::addColumn<QString>("target"); // empty: the dialog cancelled
    QTest::addColumn<QString>("message"); // the one message; empty: none
    QTest::addColumn<QByteArray>("bytes"); // the file written; null: none
    QTest::addColumn<int>("loopIndex");
    QTest::newRow("a run of three seconds") << QVariantList{25, -2.5, "28x"} << "example.dbf"
                                            << "OK"
                                            << " 2024 \r\n 5 \r\n 9 \r\n 14 \r\n 3 \r\n 27 \r\n 3 \r\n"
                                                       + kProfileLines + " 25 \r\n-2.5 \r\n28x\r\n"
                                            << 3;
    // An empty stamp and the count 0, so that it opens again.
    QTest::newRow("before any run") << QVariantList{} << "early.dbf"
                                    << "OK" << QByteArray("\r\n").repeated(6) + " 0 \r\n" + kProfileLines
                                    << 0;
    QTest::newRow("more seconds than a record holds")
            << QVariantList(512, 1) << "long.dbf"
            << "The run was not saved: the run has more seconds (512) than can be recorded." << QByteArray()
            << 512;
    QTest::newRow("cancelled") << QVariantList{1, 2} << ""
                               << "" << QByteArray() << 77;
}

void TestRecords::saveWritesTheRun()
{
    QFETCH(QVariantList, samples);
    QFETCH(QString, target);
    QFETCH(QString, message);
    QFETCH(QByteArray, bytes);
    QTemporaryDir dir;
    Rig rig;
    stoppedRun(rig, samples);
    rig.timer1.setEnabled(true);
    rig.c.state.loopIndex = 77;
    rig.files.answers << (target.isEmpty() ? target : dir.filePath(target));
    savefile_Click(rig.c);
    QVERIFY(!rig.timer1.isEnabled());
    QCOMPARE(rig.files.lastFilter, kFilter);
    QCOMPARE(rig.files.lastSelected, 2);
    QCOMPARE(rig.messages.texts, message.isEmpty() ? QStringList() : QStringList{message});
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), bytes.isNull() ? QStringList() : QStringList{target});
    if (!bytes.isNull())
        QCOMPARE(readFile(dir.filePath(target)), bytes);
    QTEST(int(rig.c.state.loopIndex.leadingNumber()), "loopIndex");
}

void TestRecords::openStoresAndDraws_data()
{
    QTest::addColumn<QByteArray>("content"); // null: the dialog cancelled
    QTest::addColumn<QString>("message"); // in the one message; empty: none
    QTest::addColumn<int>("strokes"); // -1: not even the grid drawn
    QTest::addColumn<int>("stored"); // sample lines taken
    QTest::addColumn<int>("loopIndex");
    QList<QByteArray> lines;
    for (int k = 0; k < 520; ++k)
        lines << " " + QByteArray::number(100 + k % 150) + " ";
    QTest::newRow("cancelled") << QByteArray() << "" << -1 << 0 << 0;
    // After a drawn record the counter is where the grid's loop left it. The
    // lines past the count are no samples.
    QTest::newRow("511 samples, the most") << recordText(511, lines) << "" << 510 << 511 << 9555;
    QTest::newRow("n = 1") << recordText(1, {" 5 "}) << "" << 0 << 1 << 9555;
    QTest::newRow("a negative count") << recordText(-1, {" 99 "}) << "" << 0 << 0 << 9555;
    QTest::newRow("saved before any run: no stamp, n = 0")
            << QByteArray("\r\n").repeated(6) + " 0 \r\n" + kProfileLines + " 5 \r\n"
            << "" << 0 << 0 << 9555;
    // Refused: nothing drawn, the counter where the reading stopped.
    QTest::newRow("refused in the samples")
            << recordText(3, {" 1 ", " 2 "}) << "\nLine 16: the file ends where sample 2" << -1 << 2 << 2;
}

void TestRecords::openStoresAndDraws()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, message);
    QFETCH(int, strokes);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("r.dbf"));
    Rig rig;
    const LooseValue unset(QStringLiteral("unset"));
    rig.c.state.samples.fill(unset);
    rig.c.state.loopIndex = 9;
    rig.timer1.setEnabled(true);
    if (!content.isNull()) {
        QVERIFY(writeFile(file, content));
        rig.files.answers << file;
    }
    openfile_Click(rig.c);
    QVERIFY(!rig.timer1.isEnabled());
    QCOMPARE(rig.files.lastFilter, kFilter);
    QCOMPARE(rig.files.lastSelected, 2);
    const QStringList &texts = rig.messages.texts;
    QCOMPARE(texts.size(), message.isEmpty() ? 0 : 1);
    if (!message.isEmpty())
        QVERIFY2(texts[0].startsWith(QStringLiteral("The record %1 ").arg(file))
                         && texts[0].contains(message),
                 qPrintable(texts[0]));
    QCOMPARE(rig.form.drawing.clears, 1);
    QCOMPARE(rig.form.drawing.gridLines, strokes < 0 ? 0 : 26);
    QCOMPARE(int(rig.form.drawing.strokes.size()), std::max(strokes, 0));
    QTEST(int(std::count_if(rig.c.state.samples.begin(), rig.c.state.samples.end(),
                            [&](const LooseValue &v) { return v != unset; })),
          "stored");
    QTEST(int(rig.c.state.loopIndex.leadingNumber()), "loopIndex");
    if (strokes >= 0) { // the profile shown
        QCOMPARE(rig.form.fields[0], QStringLiteral("150"));
        QCOMPARE(rig.form.fields[5], QStringLiteral("40"));
    }
}

void TestRecords::openShowsStampAndSkipsWhatIsNoTemperature()
{
    // Seconds 1 (empty) and 3 ("x") are not drawn; each counts as 0 where a
    // segment starts from it. Only the text that is no number is told.
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("r.dbf"));
    QVERIFY(writeFile(file, recordText(6, {" 100 ", "", " 110 ", "x", " 120 ", " 130 "})));
    Rig rig;
    rig.files.answers << file;
    openfile_Click(rig.c);
    QCOMPARE(rig.form.caption(Form::Caption::Label5), QStringLiteral(" 2024 - 5 - 9 "));
    QCOMPARE(rig.form.caption(Form::Caption::Label6), QStringLiteral(" 14 : 3 : 27 "));
    QCOMPARE(rig.messages.texts.size(), 1);
    QVERIFY2(rig.messages.texts[0].contains(QStringLiteral("line 17 holds \"x\"")),
             qPrintable(rig.messages.texts[0]));
    const auto &strokes = rig.form.drawing.strokes;
    QCOMPARE(strokes.size(), std::size_t(3));
    QCOMPARE(strokes[0][1], float(chart::yOf(0)));
    QCOMPARE(strokes[0][3], float(chart::yOf(110)));
    QCOMPARE(strokes[1][1], float(chart::yOf(0)));
    QCOMPARE(strokes[2][0], float(chart::xOf(4)));
    QCOMPARE(strokes[2][1], float(chart::yOf(120)));
    QCOMPARE(strokes[2][3], float(chart::yOf(130)));
}

void TestRecords::foreignBytesSurviveOpenAndSave()
{
    // A record of 300 seconds written on another machine: in the profile a
    // degree sign of a Windows code page, every byte from 0x80 up, a UTF-8
    // sign, a cut-short one; among the samples an empty one and a foreign one.
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
    QByteArray body;
    for (const QByteArray &line : profile)
        body += line + "\r\n";
    for (int k = 0; k < 300; ++k)
        body += (k == 7   ? QByteArray()
                 : k == 8 ? "\xb0"
                          : " " + QByteArray::number(20 + k % 200) + " ")
                + "\r\n";
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath(QStringLiteral("foreign.dbf")),
                      " 2024 \r\n 5 \r\n 9 \r\n 14 \r\n 3 \r\n 27 \r\n 300 \r\n" + body));

    // Saved after a run of 302 seconds, a second later: the stamp and the
    // count are the run's, and its samples follow where the record ends.
    Rig rig;
    stoppedRun(rig, QVariantList(302, 0));
    rig.c.state.runStamp[5] = 28;
    rig.files.answers << dir.filePath(QStringLiteral("foreign.dbf"))
                      << dir.filePath(QStringLiteral("again.dbf"));
    openfile_Click(rig.c);
    QCOMPARE(rig.form.fields[2], QStringLiteral("℃")); // valid text stays text
    savefile_Click(rig.c);
    QCOMPARE(rig.messages.texts.size(), 2); // the foreign sample is told, then saved
    QCOMPARE(rig.messages.texts.last(), QStringLiteral("OK"));
    QCOMPARE(readFile(dir.filePath(QStringLiteral("again.dbf"))),
             " 2024 \r\n 5 \r\n 9 \r\n 14 \r\n 3 \r\n 28 \r\n 302 \r\n" + body + " 0 \r\n 0 \r\n");
}

QTEST_GUILESS_MAIN(TestRecords)
#include "test_records.moc"
