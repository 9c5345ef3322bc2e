#include "pty_peer.h"

#include "link/frame.h"
#include "records/record_format.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

// The real program, fed at line rate, killed (SIGKILL) at random moments of
// its run: each time its journal reads back whole and holds every second the
// monitor had closed two seconds before the kill, as the monitor stored it.
class TestJournalKill : public QObject
{
    Q_OBJECT

private slots:
    void killedProgramLeavesWholeJournal();
    void exitEndsAtOnceWhileTheJournalHangs();
};

void TestJournalKill::killedProgramLeavesWholeJournal()
{
    const int kills = qEnvironmentVariableIsSet("ORVALEN_JOURNAL_KILLS")
                              ? qEnvironmentVariableIntValue("ORVALEN_JOURNAL_KILLS")
                              : 4;
    for (int round = 0; round < kills; ++round) {
        QTemporaryDir home;
        PtyPeer peer;
        QVERIFY(peer.ok());
        int frames = 0;
        QTimer feed; // a frame every 12 ms: the line's 240 bytes a second
        feed.setTimerType(Qt::PreciseTimer);
        connect(&feed, &QTimer::timeout, [&] {
            const auto b = frame::encode(150 + frames++ / 40 % 8);
            (void)peer.write(QByteArray(reinterpret_cast<const char *>(b.data()), 3));
        });
        peer.onReceive([&](unsigned char b) {
            if (b >= 1 && b <= 6)
                (void)peer.write(QByteArray(1, char(100 + b)));
            else if (b == 0xAA)
                feed.start(12);
        });
        QProcess probe;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), home.path());
        probe.setProcessEnvironment(env);
        QElapsedTimer clock;
        clock.start();
        QStringList stored; // second k's reading, as the monitor stored it
        std::vector<qint64> storedAt;
        connect(&probe, &QProcess::readyReadStandardOutput, [&] {
            while (probe.canReadLine()) {
                const QList<QByteArray> f = probe.readLine().trimmed().split(' ');
                if (f.value(0) == "S" && f.value(1).toInt() == stored.size()) {
                    stored << QString::fromLatin1(f.value(2));
                    storedAt.push_back(clock.elapsed());
                }
            }
        });
        probe.start(QStringLiteral(WINDOW_PROBE), {QStringLiteral("journal"), peer.path()});
        QTRY_VERIFY_WITH_TIMEOUT(feed.isActive(), 20'000);
        const qint64 killAt = clock.elapsed() + 1500 + QRandomGenerator::global()->bounded(5000);
        QTRY_VERIFY_WITH_TIMEOUT(clock.elapsed() >= killAt, 10'000);
        probe.kill();
        QVERIFY(probe.waitForFinished(5000));
        feed.stop();

        const QStringList files = QDir(home.filePath(QStringLiteral("orvalen/runs")))
                                          .entryList({QStringLiteral("*.dbf")}, QDir::Files);
        QCOMPARE(files.size(), 1);
        QFile file(home.filePath(QStringLiteral("orvalen/runs/") + files[0]));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const RecordContent r = readRecord(file);
        QVERIFY2(r.complete(), qPrintable(files[0])); // its name and stamp are test_journal's
        const auto n = qsizetype(*r.countValue);
        const auto due = std::count_if(storedAt.begin(), storedAt.end(),
                                       [killAt](qint64 t) { return t <= killAt - 2000; });
        QVERIFY2(n >= due && n <= stored.size() + 1,
                 qPrintable(QStringLiteral("%1 seconds kept, %2 due, %3 stored")
                                    .arg(n)
                                    .arg(due)
                                    .arg(stored.size())));
        for (qsizetype k = 0; k < std::min(n, stored.size()); ++k)
            QCOMPARE(r.samples[k].trimmed(), stored[k]);
    }
}

void TestJournalKill::exitEndsAtOnceWhileTheJournalHangs()
{
    QTemporaryDir home;
    PtyPeer peer;
    QVERIFY(peer.ok());
    peer.onReceive([&peer](unsigned char b) {
        if (b >= 1 && b <= 6)
            (void)peer.write(QByteArray(1, char(100 + b)));
        else if (b == 0xAA)
            (void)peer.write(QByteArray("\x00\x64\x64\x00\x64\x64", 6)); // readings: a journal is due
    });
    QProcess probe;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), home.path());
    probe.setProcessEnvironment(env);
    probe.start(QStringLiteral(WINDOW_PROBE),
                {QStringLiteral("journal"), peer.path(), QStringLiteral("hung")});
    QByteArray out;
    QTRY_VERIFY2_WITH_TIMEOUT((out += probe.readAllStandardOutput()).contains("exiting"), out.constData(),
                              20'000);
    QElapsedTimer exiting;
    exiting.start();
    QVERIFY(probe.waitForFinished(5000));
    QVERIFY2(exiting.elapsed() < 1000, qPrintable(QString::number(exiting.elapsed())));
    QCOMPARE(probe.exitStatus(), QProcess::NormalExit);
    QVERIFY(QDir(home.filePath(QStringLiteral("orvalen/runs")))
                    .entryList({QStringLiteral("*.dbf")})
                    .isEmpty());
}

QTEST_GUILESS_MAIN(TestJournalKill)
#include "test_journal_kill.moc"
