// What only a real port shows: bytes held by the system as well as by Qt, a
// one-byte receive buffer over a line that delivers in chunks, the pump's
// sleep, and stop bytes that must leave before the port closes. The commands'
// own logic is tested against the fake line.
#include "fakes.h"
#include "pty_peer.h"
#include "real_rig.h"

#include "link/frame.h"
#include "link/port.h"
#include "link/protocol.h"
#include "run/run_start.h"
#include "run/run_stop.h"

#include <QTest>
#include <QTimer>

class TestSerialPty : public QObject
{
    Q_OBJECT

private slots:
    void loadRunAndStopOverRealPort();
    void flushDiscardsBytesHeldBySystem();
    void burstComesOneByteAReadWithoutSleeping();
    void heartbeatOnlyWhereWanted();
};

void TestSerialPty::loadRunAndStopOverRealPort()
{
    PtyPeer peer;
    QVERIFY(peer.ok());
    PtyRig rig(peer.path());
    QByteArray received;
    QTimer frames;
    int reading = 100;
    QObject::connect(&frames, &QTimer::timeout, [&] {
        const auto bytes = frame::encode(reading++);
        QVERIFY(peer.write(QByteArray(reinterpret_cast<const char *>(bytes.data()), 3)));
    });
    peer.onReceive([&](unsigned char b) {
        received.append(char(b));
        if (b >= 1 && b <= 6)
            QVERIFY(peer.write(QByteArray(1, char(Rig::kProfile[b - 1]))));
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
    QCOMPARE(received.mid(7), QByteArray(11, char(0xBB))); // every stop byte left before the close
    QCOMPARE(rig.messages.texts, QStringList{QStringLiteral("Vone Stoped")});
    QCOMPARE(rig.form.profile(), Rig::kProfileTexts);
    const SharedState &s = rig.c.state;
    const double ticks = s.runTicks.leadingNumber();
    QVERIFY2(ticks >= 3 && ticks <= 5, qPrintable(QString::number(ticks)));
    // Ten frames a second, rising by one: each second's entry is its last.
    for (int k = 1; k < int(ticks); ++k) {
        const double v = s.samples[std::size_t(k)].leadingNumber();
        QVERIFY2(v > s.samples[std::size_t(k - 1)].leadingNumber(), qPrintable(QString::number(k)));
        QVERIFY(v >= 100 && v < 100 + 40);
    }
    QVERIFY(!rig.line.isOpen());
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

// The monitor's poll cycle (pump, then take one byte) over a burst the system
// hands over in chunks: every byte, in order, one a read, and no sleep while a
// byte is already in hand.
void TestSerialPty::burstComesOneByteAReadWithoutSleeping()
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
    int sleptWithByteInHand = 0;
    while (got.size() < burst.size()) {
        const bool inHand = rig.line.bytesWaiting() > 0;
        const int slept = rig.pump.sleeps;
        pumpEvents(rig.c);
        sleptWithByteInHand += int(inHand && rig.pump.sleeps != slept);
        if (const std::optional<int> b = pollByte(rig.c)) {
            QCOMPARE(rig.c.state.rxBuffer.size(), 1);
            got.append(char(*b));
        }
    }
    QCOMPARE(got, burst);
    QCOMPARE(sleptWithByteInHand, 0);
    // Taken from the system in chunks, not one wake-up a byte.
    QVERIFY2(rig.pump.sleeps < 30, qPrintable(QString::number(rig.pump.sleeps)));
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

QTEST_GUILESS_MAIN(TestSerialPty)
#include "test_serial_pty.moc"
