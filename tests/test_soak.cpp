#include "fakes.h"
#include "process_memory.h"

#include "records/record_file.h"
#include "run/run_start.h"
#include "run/run_stop.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

long residentKb() { return processStatusKb("VmRSS"); }

} // namespace

// Many short runs, stops, saves and opens back to back in one program life.
class TestSoak : public QObject
{
    Q_OBJECT

private slots:
    void runsStopsSavesAndOpensStayFlat();
};

void TestSoak::runsStopsSavesAndOpensStayFlat()
{
    constexpr int kCycles = 1500;
    constexpr int kWarmUp = 100;
    QTemporaryDir dir;
    const QString record = dir.filePath(QStringLiteral("soak.dbf"));
    Rig rig;
    int cycle = 0;
    long residentAfterWarmUp = 0;
    std::function<void()> next = [&] {
        // Each cycle: stop the run, save it, open it back, and run again.
        stop_Click(rig.c);
        rig.files.answers << record << record;
        savefile_Click(rig.c);
        openfile_Click(rig.c);
        if (++cycle == kWarmUp)
            residentAfterWarmUp = residentKb();
        if (cycle < kCycles) {
            rig.world.after(4'500, next);
            from8031_Click(rig.c);
        }
    };
    rig.world.at(4'500, next);
    rig.runOven({100, 101, 102, 103});

    QCOMPARE(cycle, kCycles);
    QCOMPARE(rig.messages.texts.count(QStringLiteral("Vone Stoped")), kCycles);
    QCOMPARE(rig.messages.texts.count(QStringLiteral("OK")), kCycles);
    QCOMPARE(rig.messages.texts.size(), 2 * kCycles); // nothing else went wrong
#if !defined(__SANITIZE_ADDRESS__)
    // (Under AddressSanitizer freed memory is held back on purpose, and
    // LeakSanitizer checks for leaks instead.)
    const long growth = residentKb() - residentAfterWarmUp;
    QVERIFY2(growth < 4 * 1024, qPrintable(QStringLiteral("%1 kB").arg(growth)));
#endif
    for (int k = 0; k < 4; ++k) // the last run as recorded, opened back
        QCOMPARE(rig.c.state.samples[std::size_t(k)].strictValue(), std::optional<double>(100 + k));
}

QTEST_GUILESS_MAIN(TestSoak)
#include "test_soak.moc"
