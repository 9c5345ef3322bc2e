#include "pty_peer.h"
#include "real_rig.h"

#include "link/load.h"
#include "run/run_start.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTest>
#include <QTimer>

#include <unistd.h>

namespace {

QString helper() { return QCoreApplication::applicationDirPath() + QStringLiteral("/port_helper"); }

} // namespace

class TestSerialFaults : public QObject
{
    Q_OBJECT

private slots:
    void portThatDoesNotExist();
    void portInUseByAnotherProgram();
    void portThatMayNotBeOpened();
    void cablePulledDuringRun();
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
    QVERIFY(!rig.line.isOpen());
    QVERIFY(!rig.c.monitorActive);
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
    QVERIFY2(m.section(u':', -1).trimmed().size() > 3, qPrintable(m)); // a reason is given
    qInfo() << m;
    QVERIFY(peer.readAvailable().isEmpty()); // nothing went out
    holder.closeWriteChannel();
    QVERIFY(holder.waitForFinished(5000));
    // Once the other program lets go, the next command works.
    rig.messages.texts.clear();
    peer.onReceive([&](unsigned char b) { peer.write(QByteArray(1, char(b * 10))); });
    getcanshu_Click(rig.c);
    QVERIFY(rig.messages.texts.isEmpty());
    QCOMPARE(rig.form.fields[0], QStringLiteral("10"));
}

void TestSerialFaults::portThatMayNotBeOpened()
{
    if (geteuid() != 0)
        QSKIP("needs root, to start the program as a user the port does not belong to");
    PtyPeer peer;
    QVERIFY(peer.ok());
    QProcess p;
    p.start(helper(), {QStringLiteral("load-as-nobody"), peer.path()});
    QVERIFY(p.waitForFinished(10000));
    const QString out = QString::fromLocal8Bit(p.readAll());
    QCOMPARE(p.exitCode(), 0);
    QVERIFY2(out.contains(QStringLiteral("message: Cannot open the serial port %1").arg(peer.path())), qPrintable(out));
    QVERIFY2(out.contains(QStringLiteral("ermission")), qPrintable(out));
    QVERIFY2(out.contains(QStringLiteral("returned")), qPrintable(out));
}

void TestSerialFaults::cablePulledDuringRun()
{
    auto peer = std::make_unique<PtyPeer>();
    QVERIFY(peer->ok());
    PtyRig rig(peer->path());
    QTimer frames;
    int reading = 100;
    connect(&frames, &QTimer::timeout, [&] {
        const char frame[3] = {0, char(reading), char(reading)};
        peer->write(QByteArray(frame, 3));
        ++reading;
    });
    peer->onReceive([&](unsigned char b) {
        if (b >= 1 && b <= 6)
            peer->write(QByteArray(1, char(b)));
        if (b == 0xAA)
            frames.start(250);
    });
    long pumpsAfterFault = -1;
    QElapsedTimer sinceFault;
    rig.messages.whileOpen = [&](const QString &) { sinceFault.start(); };
    QTimer::singleShot(2600, [&] {
        frames.stop();
        peer->hangUp(); // the USB adapter is pulled
    });
    rig.pump.onPump = [&] {
        if (sinceFault.isValid() && pumpsAfterFault < 0 && sinceFault.elapsed() > 0)
            pumpsAfterFault = 0;
        if (pumpsAfterFault >= 0)
            ++pumpsAfterFault;
        if (sinceFault.isValid() && sinceFault.elapsed() > 1500)
            rig.pump.end = true;
    };
    try {
        from8031_Click(rig.c);
    } catch (const ScriptEnded &) {
    }
    QCOMPARE(rig.messages.texts.size(), 1); // told once
    QVERIFY2(rig.messages.texts[0].contains(QStringLiteral("lost")), qPrintable(rig.messages.texts[0]));
    QVERIFY(!rig.line.isOpen());
    QCOMPARE(rig.c.state.runFlag, LooseValue(0));
    QVERIFY(!rig.timer1.isEnabled());
    // What was recorded stays: the first seconds hold the readings sent.
    const double ticks = rig.c.state.runTicks.leadingNumber();
    QVERIFY2(ticks >= 1, qPrintable(QString::number(ticks)));
    QVERIFY(rig.c.state.samples[0].leadingNumber() >= 100);
    // Asleep afterwards: the heartbeat comes once a second; a spinning
    // port would pump many thousands of times.
    qInfo() << "pumps in the 1.5 s after the fault:" << pumpsAfterFault;
    QVERIFY2(pumpsAfterFault < 30, qPrintable(QString::number(pumpsAfterFault)));
}

QTEST_GUILESS_MAIN(TestSerialFaults)
#include "test_serial_faults.moc"
