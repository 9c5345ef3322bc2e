#include "fakes.h"
#include "pty_peer.h"
#include "real_rig.h"

#include "link/frame.h"
#include "link/load.h"
#include "link/port.h"
#include "link/protocol.h"
#include "link/qt_serial_line.h"
#include "run/monitor.h"
#include "run/run_start.h"
#include "run/run_stop.h"
#include "state/profile.h"
#include "ui/qt_platform.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

class TestSerialPty : public QObject
{
    Q_OBJECT

private slots:
    void parameterLoadOverRealPort();
    void flushDiscardsBytesHeldBySystem();
    void burstArrivesWholeAndInOrder();
    void byteInHandIsPolledWithoutSleeping();
    void heartbeatOnlyWhereWanted();
    void closedPortCountsZero();
    void pulledCableIsToldOnceAndRunKept();
    void wholeRunAndStopOverRealPort();
};

void TestSerialPty::parameterLoadOverRealPort()
{
    PtyPeer peer;
    QVERIFY(peer.ok());
    PtyRig rig(peer.path());
    QVERIFY(peer.write(QByteArray("\x55\x66", 2))); // stale bytes before the command: never answers
    QByteArray requests;
    const QByteArray answers("\x96\x3c\x82\x5a\x78\x28", 6); // 150 60 130 90 120 40
    peer.onReceive([&](unsigned char b) {
        requests.append(char(b));
        if (b >= 1 && b <= 6)
            QVERIFY(peer.write(answers.mid(b - 1, 1)));
    });
    // The stale bytes are written before the port opens; the open sequence
    // discards them (and flushInput would, had they come later).
    getcanshu_Click(rig.c);
    QCOMPARE(requests, QByteArray("\x01\x02\x03\x04\x05\x06", 6));
    const QStringList expected{"150", "60", "230", "90", "220", "40"};
    for (int i = 0; i < 6; ++i)
        QCOMPARE(rig.form.fields[i], expected[i]);
    QVERIFY(rig.line.isOpen());
    QVERIFY(rig.messages.texts.isEmpty());
}

void TestSerialPty::flushDiscardsBytesHeldBySystem()
{
    PtyPeer peer;
    QVERIFY(peer.ok());
    PtyRig rig(peer.path());
    QVERIFY(ensurePortOpen(rig.c));
    QVERIFY(peer.write(QByteArray(100, 'x')));
    for (int i = 0; i < 200 && rig.line.bytesWaiting() == 0; ++i)
        pumpEvents(rig.c);
    QVERIFY(rig.line.bytesWaiting() >= 1); // in hand, or still with the system
    QCOMPARE(rig.line.readAll().size(), 1); // a read hands over one byte
    flushInput(rig.c);
    QCOMPARE(rig.line.bytesWaiting(), 0);
    QVERIFY(peer.write(QByteArray("\x2a", 1)));
    const std::optional<int> v = awaitByte(rig.c);
    QCOMPARE(v, std::optional<int>(42));
}

void TestSerialPty::burstArrivesWholeAndInOrder()
{
    PtyPeer peer;
    QVERIFY(peer.ok());
    PtyRig rig(peer.path());
    QVERIFY(ensurePortOpen(rig.c));
    QByteArray burst;
    for (int i = 0; i < 3000; ++i)
        burst.append(char(i * 7 % 256));
    QVERIFY(peer.write(burst));
    QByteArray got;
    while (got.size() < burst.size()) {
        const std::optional<int> b = awaitByte(rig.c);
        QVERIFY(b);
        QCOMPARE(rig.c.state.rxBuffer.size(), 1); // every read takes one byte
        got.append(char(*b));
    }
    QCOMPARE(got, burst);
}

// Counts how the protocol pumps: sleeping, or only what is pending.
class CountingPump : public EventPump
{
public:
    void pumpEvents() override
    {
        ++sleeping;
        m_inner.pumpEvents();
    }
    void pumpPending() override
    {
        ++pending;
        m_inner.pumpPending();
    }
    int sleeping = 0;
    int pending = 0;

private:
    QtEventPump m_inner;
};

void TestSerialPty::byteInHandIsPolledWithoutSleeping()
{
    PtyPeer peer;
    QVERIFY(peer.ok());
    PtyRig rig(peer.path());
    CountingPump pump;
    Context c(Services{.form = rig.form,
                       .line = rig.line,
                       .pump = pump,
                       .Timer1 = rig.timer1,
                       .Timer3 = rig.timer3,
                       .messages = rig.messages,
                       .files = rig.files,
                       .printer = rig.printer,
                       .clock = rig.clock,
                       .terminator = rig.terminator});
    QVERIFY(ensurePortOpen(c));
    const QByteArray sent("\x01\x2c\x2d\x00\xe6\xe6", 6);
    QVERIFY(peer.write(sent));
    // The poll cycle of the monitor: pump, then take one byte.
    QByteArray got;
    int sleptWithByteInHand = 0;
    while (got.size() < sent.size()) {
        const bool inHand = rig.line.bytesWaiting() > 0;
        const int slept = pump.sleeping;
        pumpEvents(c);
        if (inHand && pump.sleeping != slept)
            ++sleptWithByteInHand;
        if (const std::optional<int> b = pollByte(c)) {
            QCOMPARE(c.state.rxBuffer.size(), 1);
            got.append(char(*b));
        }
    }
    QCOMPARE(got, sent);
    QCOMPARE(sleptWithByteInHand, 0);
    QVERIFY(pump.pending >= sent.size() - 1); // the bytes came in one read, not one wake-up each
}

void TestSerialPty::heartbeatOnlyWhereWanted()
{
    // Passes of a wait loop over 2.2 s in which nothing else happens.
    auto passes = [](bool wanted) {
        QtEventPump pump;
        pump.setHeartbeatWanted([wanted] { return wanted; });
        bool done = false;
        QTimer::singleShot(2200, [&done] { done = true; });
        QCoreApplication::processEvents(); // what was pending before the wait
        int n = 0;
        while (!done) {
            pump.pumpEvents();
            ++n;
        }
        return n;
    };
    QCOMPARE(passes(false), 1); // asleep until the one event
    QVERIFY(passes(true) >= 3); // and once at each turn of the second
}

void TestSerialPty::closedPortCountsZero()
{
    QtSerialLine line(QStringLiteral("/dev/null-port1"));
    QCOMPARE(line.bytesWaiting(), 0);
    QVERIFY(line.readAll().isEmpty());
    line.discardReceived(); // nothing to do, nothing raised
    line.close();
    QVERIFY(!line.isOpen());
}

void TestSerialPty::pulledCableIsToldOnceAndRunKept()
{
    auto peer = std::make_unique<PtyPeer>();
    QVERIFY(peer->ok());
    PtyRig rig(peer->path());
    QVERIFY(ensurePortOpen(rig.c));
    for (int k = 0; k < 9; ++k)
        rig.c.state.samples[std::size_t(k)] = 100 + k;
    rig.c.state.runTicks = 9;
    peer->hangUp();
    QElapsedTimer clock;
    clock.start();
    long pumps = 0;
    while (clock.elapsed() < 300) {
        pumpEvents(rig.c);
        ++pumps;
    }
    QCOMPARE(rig.messages.texts.size(), 1);
    QVERIFY(rig.messages.texts[0].contains(QStringLiteral("lost")));
    QVERIFY(!rig.line.isOpen());
    for (int k = 0; k < 9; ++k) // what was recorded stays
        QCOMPARE(rig.c.state.samples[std::size_t(k)], LooseValue(100 + k));
    QCOMPARE(rig.c.state.runTicks, LooseValue(9));
    // Asleep after the fault: a spinning port would pump thousands of times.
    QVERIFY2(pumps < 50, qPrintable(QString::number(pumps)));
}

void TestSerialPty::wholeRunAndStopOverRealPort()
{
    PtyPeer peer;
    QVERIFY(peer.ok());
    PtyRig rig(peer.path());
    QByteArray received;
    QTimer frames;
    int reading = 100;
    QObject::connect(&frames, &QTimer::timeout, [&] {
        const auto bytes = frame::encode(reading);
        QVERIFY(peer.write(QByteArray(reinterpret_cast<const char *>(bytes.data()), 3)));
        ++reading;
    });
    const QByteArray answers("\x96\x3c\x82\x5a\x78\x28", 6);
    peer.onReceive([&](unsigned char b) {
        received.append(char(b));
        if (b >= 1 && b <= 6)
            QVERIFY(peer.write(answers.mid(b - 1, 1)));
        else if (b == 0xAA)
            frames.start(100);
        else if (b == 0xBB)
            frames.stop();
    });
    QTimer::singleShot(3300, [&] { stop_Click(rig.c); });
    rig.messages.whileOpen = [&](const QString &text) {
        if (text == QStringLiteral("Vone Stoped"))
            rig.pump.end = true;
    };
    try {
        from8031_Click(rig.c);
    } catch (const ScriptEnded &) {
    }
    received += peer.readAvailable(); // what came after the peer last looked
    QCOMPARE(received.left(7), QByteArray("\x01\x02\x03\x04\x05\x06\xaa", 7));
    QCOMPARE(received.mid(7), QByteArray(11, char(0xBB)));
    QCOMPARE(rig.messages.texts, QStringList{QStringLiteral("Vone Stoped")});
    const SharedState &s = rig.c.state;
    const double ticks = s.runTicks.leadingNumber();
    QVERIFY2(ticks >= 3 && ticks <= 5, qPrintable(QString::number(ticks)));
    // Ten frames a second, rising by one: each second's entry is its last.
    for (int k = 1; k < int(ticks); ++k) {
        const double v = s.samples[std::size_t(k)].leadingNumber();
        QVERIFY2(v > s.samples[std::size_t(k - 1)].leadingNumber(), qPrintable(QString::number(k)));
        QVERIFY(v >= 100 && v < 100 + 40);
    }
    QCOMPARE(rig.form.fields[2], QStringLiteral("230"));
    QVERIFY(!rig.line.isOpen());
}

QTEST_GUILESS_MAIN(TestSerialPty)
#include "test_serial_pty.moc"
