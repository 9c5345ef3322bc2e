#include "test_files.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

// The reading frames the simulator logged after its last start byte.
std::vector<int> framesSent(const QString &log)
{
    std::vector<int> bytes;
    bool running = false;
    static const QRegularExpression line(QStringLiteral("^\\s*[\\d.]+ (<-|->) ([0-9a-f]{2})$"));
    for (const QString &l : log.split(u'\n')) {
        const auto m = line.match(l);
        if (!m.hasMatch())
            continue;
        const int b = m.captured(2).toInt(nullptr, 16);
        if (m.captured(1) == u"<-") {
            if (b == 0xAA) {
                running = true;
                bytes.clear();
            } else if (b == 0xBB) {
                running = false;
            }
        } else if (running) {
            bytes.push_back(b);
        }
    }
    std::vector<int> readings;
    for (std::size_t i = 0; i + 2 < bytes.size(); i += 3)
        readings.push_back(bytes[i] * 256 + bytes[i + 1]);
    return readings;
}

} // namespace

// The real program, bound to the simulator, driven through its menus in a
// process of its own: transfer, load back, run through all three stages,
// stop, save, reopen, print.
class TestSimulator : public QObject
{
    Q_OBJECT

private slots:
    void wholeSessionAgainstSimulatedOven();
};

void TestSimulator::wholeSessionAgainstSimulatedOven()
{
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("tour"));
    const QString simLog = dir.filePath(QStringLiteral("sim.log"));
    QProcess demo;
    demo.setProcessChannelMode(QProcess::MergedChannels);
    demo.start(QStringLiteral(ORVALEN_DEMO), {"--tour", out, "--seconds", "16", "--time-factor", "30",
                                              "--profile", "60,10,110,10,130,10", "--sim-log", simLog});
    QVERIFY(demo.waitForFinished(90'000));
    const QString said = QString::fromLocal8Bit(demo.readAll());
    QCOMPARE(demo.exitCode(), 0);
    for (const char *told :
         {"message: ok!", "loaded: 60,10,110,10,130,10", "message: Vone Stoped", "message: OK"})
        QVERIFY2(said.contains(QLatin1String(told)), qPrintable(said));
    QVERIFY2(!said.contains(QStringLiteral("cannot")), qPrintable(said));

    const QList<QByteArray> lines = testfiles::readFile(out + QStringLiteral("/run.dbf")).split('\n');
    QVERIFY(lines.size() > 14);
    const int n = lines[6].trimmed().toInt();
    QVERIFY2(n >= 14 && n <= 18, lines[6].constData());
    QCOMPARE(lines.size(), 13 + n + 1); // the last line end leaves an empty tail
    QCOMPARE(lines.mid(7, 6), (QList<QByteArray>{"60\r", "10\r", "110\r", "10\r", "130\r", "10\r"}));

    // Every recorded second holds one of the readings the oven sent, in order
    // (a second whose frame came during Stop's waits holds the one before,
    // as the clean-up leaves it).
    const std::vector<int> sent = framesSent(QString::fromLocal8Bit(testfiles::readFile(simLog)));
    QVERIFY(sent.size() >= std::size_t(n - 2));
    std::size_t at = 0;
    double peak = 0;
    for (int k = 0; k < n; ++k) {
        const int v = lines[13 + k].trimmed().toInt();
        const auto found = std::find(sent.begin() + qsizetype(at), sent.end(), v);
        QVERIFY2(found != sent.end(), qPrintable(QStringLiteral("second %1: %2").arg(k).arg(v)));
        at = std::size_t(found - sent.begin());
        peak = std::max(peak, double(v));
    }
    QCOMPARE(peak, 130.0); // reached the third stage
    QVERIFY(QFile::exists(out + QStringLiteral("/report.pdf")));
    QVERIFY(QFile::exists(out + QStringLiteral("/06-opened.png")));
}

QTEST_GUILESS_MAIN(TestSimulator)
#include "test_simulator.moc"
