#include "test_files.h"

#include "records/record_format.h"
#include "state/shared_state.h"

#include <QBuffer>
#include <QTest>

namespace {

using testfiles::recordText;

RecordContent read(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return readRecord(buffer);
}

} // namespace

class TestRecordFormat : public QObject
{
    Q_OBJECT

private slots:
    void readKeepsWhatItRead_data();
    void readKeepsWhatItRead();
    void lineEnds_data();
    void lineEnds();
    void everyByteComesBackUnchanged();
    void validTextIsDecodedAsText();
};

void TestRecordFormat::readKeepsWhatItRead_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<int>("stampLines");
    QTest::addColumn<int>("profileLines");
    QTest::addColumn<int>("sampleLines");
    QTest::newRow("whole, lines past the count unread")
            << recordText(3, {" 25 ", "", "x", " 99 "}) << 0 << "" << 6 << 6 << 3;
    QTest::newRow("empty") << QByteArray() << 1 << "the year" << 0 << 0 << 0;
    const auto counted = [](const char *count) {
        return recordText(3, {" 1 ", " 2 ", " 3 "}).replace(" 3 \r\n150", count + QByteArray("\r\n150"));
    };
    QTest::newRow("count is text") << counted("three") << 7 << "\"three\" is no number" << 6 << 6 << 0;
    QTest::newRow("empty count") << counted("") << 7 << "is no number" << 6 << 6 << 0;
    QTest::newRow("count with a bare exponent") << counted("3e") << 7 << "is no number" << 6 << 6 << 0;
    QTest::newRow("count beyond any number") << counted("1e999") << 7 << "is no number" << 6 << 6 << 0;
    QTest::newRow("count above 511") << recordText(512, {}) << 7 << "above 511" << 6 << 6 << 0;
    QTest::newRow("count of a billion") << recordText(1000000000, {}) << 7 << "above 511" << 6 << 6 << 0;
    QTest::newRow("binary") << QByteArray("\x00\xff\x01\r\n", 5) << 2 << "the month" << 1 << 0 << 0;
}

void TestRecordFormat::readKeepsWhatItRead()
{
    QFETCH(QByteArray, content);
    QFETCH(int, line); // 0: read whole
    QFETCH(QString, reason);
    const RecordContent r = read(content);
    QCOMPARE(r.complete(), line == 0);
    QTEST(int(r.stamp.size()), "stampLines");
    QTEST(int(r.profile.size()), "profileLines");
    QTEST(int(r.samples.size()), "sampleLines");
    if (line == 0)
        return;
    QCOMPARE(r.refusal->line, line);
    QVERIFY2(r.refusal->reason.contains(reason), qPrintable(r.refusal->reason));
}

void TestRecordFormat::lineEnds_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<int>("end"); // what ends the reading
    const int end = int(RecordLineReader::Result::End);
    QTest::newRow("CR LF") << QByteArray("a\r\nb\r\n") << QStringList{"a", "b"} << end;
    QTest::newRow("bare CR") << QByteArray("a\rb\r") << QStringList{"a", "b"} << end;
    QTest::newRow("bare LF") << QByteArray("a\nb") << QStringList{"a", "b"} << end;
    QTest::newRow("empty lines") << QByteArray("\r\n\r\n\n") << QStringList{"", "", ""} << end;
    QTest::newRow("LF CR is two ends") << QByteArray("a\n\rb") << QStringList{"a", "", "b"} << end;
    // Text and CR LF straddle the reader's blocks at shifting offsets: the
    // lines come out whole and a LF after its CR never makes one.
    QByteArray blocks;
    QStringList blockLines;
    for (int i = 0; i < 40; ++i) {
        const QByteArray line(3000 + i, char('a' + i % 26));
        blocks += line + "\r\n";
        blockLines << QString::fromLatin1(line);
    }
    QTest::newRow("lines across read blocks") << blocks << blockLines << end;
    const QByteArray longest(RecordLineReader::kMaxLine, '7');
    QTest::newRow("the longest line, then one longer")
            << longest + "\r\n" + QByteArray(RecordLineReader::kMaxLine + 1, '8') + "\r\n"
            << QStringList{QString::fromLatin1(longest)} << int(RecordLineReader::Result::TooLong);
}

void TestRecordFormat::lineEnds()
{
    QFETCH(QByteArray, bytes);
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    RecordLineReader reader(buffer);
    QStringList got;
    QString line;
    RecordLineReader::Result r = RecordLineReader::Result::Line;
    while ((r = reader.next(line)) == RecordLineReader::Result::Line)
        got << line;
    QTEST(got, "expected");
    QTEST(int(r), "end");
}

void TestRecordFormat::everyByteComesBackUnchanged()
{
    QList<QByteArray> cases;
    QByteArray high;
    for (int b = 0x80; b <= 0xff; ++b) {
        cases << "1" + QByteArray(1, char(b)) + "5";
        high += char(b);
    }
    cases << high << "\xe2\x84" /* cut short */ << "\xed\xa0\x80" /* an encoded surrogate */
          << "\xc2\xb0\xb0"
             "C"
          << QByteArray("\x00\xdc", 2);
    // And a few thousand short byte strings, from a fixed seed.
    quint32 seed = 12345;
    for (int i = 0; i < 3000; ++i) {
        QByteArray bytes;
        for (int n = 1 + i % 9; n > 0; --n) {
            seed = seed * 1664525u + 1013904223u;
            bytes += char(seed >> 24);
        }
        cases << bytes;
    }
    for (const QByteArray &bytes : cases) {
        const QString text = decodeRecordText(bytes);
        QCOMPARE(encodeRecordText(text), bytes);
    }
}

void TestRecordFormat::validTextIsDecodedAsText()
{
    QCOMPARE(decodeRecordText("\xe2\x84\x83 150"), QStringLiteral("℃ 150"));
    QCOMPARE(encodeRecordText(QStringLiteral("℃")), QByteArray("\xe2\x84\x83"));
    const QString carried = decodeRecordText("15\xb0");
    QCOMPARE(carried.size(), 3);
    QVERIFY(!strictNumber(carried));
    QCOMPARE(readableRecordText(carried), QStringLiteral("15\uFFFD"));
}

QTEST_GUILESS_MAIN(TestRecordFormat)
#include "test_record_format.moc"
