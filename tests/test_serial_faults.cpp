#include "pty_peer.h"
#include "real_rig.h"

#include "link/load.h"
#include "run/run_book.h"
#include "run/run_start.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

QString helper() { return QCoreApplication::applicationDirPath() + QStringLiteral("/port_helper"); }

} // namespace

class TestSerialFaults : public QObject
{
    Q_OBJECT

private slots:
    void portThatDoesNotExist();
    void portInUseByAnotherProgram();
    void malformedSettingsFailTheOpen_data();
    void malformedSettingsFailTheOpen();
    void cablePulledAndPutBackDuringRun();
};

void TestSerialFaults::portThatDoesNotExist()
{
    PtyRig rig(QStringLiteral("/dev/ttyORVALEN9"));
    getcanshu_Click(rig.c);
    from8031_Click(rig.c); // Run gives up at its first step too
    QCOMPARE(rig.messages.texts.size(), 2);
    for (const QString &m : rig.messages.texts) {
        QVERIFY2(m.contains(QStringLiteral("/dev/ttyORVALEN9")), qPrintable(m));
        QVERIFY2(m.contains(QStringLiteral("No such file")), qPrintable(m));
    }
    QVERIFY(!runBook(rig.c).monitorActive);
    // The line that never opened counts nothing and takes every call quietly.
    QVERIFY(!rig.line.isOpen());
    QCOMPARE(rig.line.bytesWaiting(), 0);
    QVERIFY(rig.line.readAll().isEmpty());
    rig.line.discardReceived();
    rig.line.close();
}

void TestSerialFaults::portInUseByAnotherProgram()
{
    PtyPeer peer;
    QVERIFY(peer.ok());
    QProcess holder;
    holder.start(helper(), {QStringLiteral("hold"), peer.path()});
    QVERIFY(holder.waitForReadyRead(5000));
    QCOMPARE(holder.readLine().trimmed(), QByteArray("held"));
    PtyRig rig(peer.path());
    getcanshu_Click(rig.c);
    QCOMPARE(rig.messages.texts.size(), 1);
    const QString m = rig.messages.texts[0];
    QVERIFY2(m.contains(peer.path()), qPrintable(m));
    QVERIFY2(m.contains(QStringLiteral("in use")), qPrintable(m));
    QVERIFY(peer.readAvailable().isEmpty()); // nothing went out
    holder.closeWriteChannel();
    QVERIFY(holder.waitForFinished(5000));
    // Once the other program lets go, the next command works.
    rig.messages.texts.clear();
    peer.onReceive([&](unsigned char b) { QVERIFY(peer.write(QByteArray(1, char(b * 10)))); });
    getcanshu_Click(rig.c);
    QVERIFY(rig.messages.texts.isEmpty());
    QCOMPARE(rig.form.fields[0], QStringLiteral("10"));
}

void TestSerialFaults::malformedSettingsFailTheOpen_data()
{
    QTest::addColumn<QString>("settings");
    QTest::newRow("three parts") << QStringLiteral("2400,N,8");
    QTest::newRow("speed not a number") << QStringLiteral("fast,N,8,1");
    QTest::newRow("unknown parity") << QStringLiteral("2400,X,8,1");
    QTest::newRow("nine data bits") << QStringLiteral("2400,N,9,1");
    QTest::newRow("three stop bits") << QStringLiteral("2400,N,8,3");
}

void TestSerialFaults::malformedSettingsFailTheOpen()
{
    QFETCH(QString, settings);
    PtyPeer peer;
    QVERIFY(peer.ok());
    QtSerialLine line(peer.path());
    line.setSettings(settings);
    const Status refused = line.open();
    QVERIFY(!refused);
    QVERIFY(!line.isOpen());
    QVERIFY2(refused.error().contains(u'"' + settings + u'"'), qPrintable(refused.error()));
    // Settings that are understood clear the refusal.
    line.setSettings(QStringLiteral("2400,n,8,1"));
    const Status opened = line.open();
    QVERIFY2(opened, qPrintable(opened.error()));
    QVERIFY(line.isOpen());
}

void TestSerialFaults::cablePulledAndPutBackDuringRun()
{
    // Port 1 is a link to the controller's pseudo-terminal, so that the cable
    // can be put back as a new terminal under the same name.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString port = dir.filePath(QStringLiteral("port1"));
    auto peer = std::make_unique<PtyPeer>();
    QVERIFY(peer->ok());
    QVERIFY(QFile::link(peer->path(), port));
    PtyRig rig(port);
    QTimer frames;
    int reading = 100;
    int writtenBeforePull = 0;
    connect(&frames, &QTimer::timeout, [&] {
        if (!peer)
            return; // the cable is out
        const char frame[3] = {0, char(reading), char(reading)};
        QVERIFY(peer->write(QByteArray(frame, 3)));
    });
    auto answer = [&](unsigned char b) {
        if (b >= 1 && b <= 6)
            QVERIFY(peer->write(QByteArray(1, char(b))));
        if (b == 0xAA)
            frames.start(250);
    };
    peer->onReceive(answer);
    QElapsedTimer outage;
    long pumpsInOutage = 0;
    QTimer::singleShot(2600, [&] {
        writtenBeforePull = 1;
        peer->hangUp(); // the USB adapter is pulled, and its device goes
        peer.reset();
        // Gone, as an unplugged adapter's name is: a terminal another program
        // opens meanwhile may get the old number, and must not be taken for it.
        QFile::remove(port);
        outage.start();
    });
    QTimer::singleShot(4600, [&] {
        // Put back: a new terminal under the same name, with the oven 5 ℃ on.
        peer = std::make_unique<PtyPeer>();
        QFile::remove(port);
        QVERIFY(QFile::link(peer->path(), port));
        peer->onReceive(answer);
        reading = 105;
        outage.invalidate();
    });
    QTimer::singleShot(7600, [&] {
        stopcomm_Click(rig.c);
        rig.pump.end = true;
    });
    rig.pump.onPump = [&] {
        if (outage.isValid() && outage.elapsed() > 200)
            ++pumpsInOutage;
    };
    try {
        from8031_Click(rig.c);
    } catch (const ScriptEnded &) {
    }
    QVERIFY(writtenBeforePull);
    QVERIFY2(rig.messages.texts.isEmpty(), qPrintable(rig.messages.texts.join(u'|')));
    QVERIFY2(rig.messages.notices.size() == 2,
             qPrintable(rig.messages.notices.join(u'|'))); // lost once, back once
    const QString lost = rig.messages.notices[0];
    QVERIFY2(lost.contains(QStringLiteral("lost")) && lost.contains(port), qPrintable(lost));
    QVERIFY2(lost.contains(QStringLiteral("hung up")) || lost.contains(QStringLiteral("disappeared")),
             qPrintable(lost));
    QVERIFY2(!lost.contains(QStringLiteral("ioctl")), qPrintable(lost));
    QVERIFY2(rig.messages.notices[1].contains(QStringLiteral("back")), qPrintable(rig.messages.notices[1]));
    // The same run went on: its clock kept its pace through the outage, and
    // the readings after the cable came back were recorded.
    const double ticks = rig.c.state.runTicks.leadingNumber();
    QVERIFY2(ticks >= 6 && ticks <= 8, qPrintable(QString::number(ticks)));
    QCOMPARE(rig.c.state.samples[1].leadingNumber(), 100.0);
    QCOMPARE(rig.c.state.samples[std::size_t(ticks) - 1].leadingNumber(), 105.0);
    // Asleep while the cable was out: retries once a second, heartbeat once.
    qInfo() << "pumps during 1.8 s of outage:" << pumpsInOutage;
    QVERIFY2(pumpsInOutage < 30, qPrintable(QString::number(pumpsInOutage)));
}

QTEST_GUILESS_MAIN(TestSerialFaults)
#include "test_serial_faults.moc"
