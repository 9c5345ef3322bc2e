#include "fakes.h"

#include "link/load.h"
#include "link/transfer.h"
#include "run/run_stop.h"

#include <QTest>

namespace {

// A controller that takes a profile write: after the command byte and after
// each of slots 1 to 5 it asks for the next one with the given byte.
void takeWrites(Rig &rig, int askWith = 0x00)
{
    auto count = std::make_shared<int>(-1);
    rig.line.onSent = [&rig, count, askWith](int b) {
        if (b == 100 && *count < 0)
            *count = 0;
        else if (*count >= 0)
            ++*count;
        if (*count >= 0 && *count < 6)
            rig.world.after(5, [&rig, askWith] { rig.line.arrive({askWith}); });
        if (*count == 6)
            *count = -1;
    };
}

void typeProfile(Rig &rig, const QStringList &values)
{
    for (int i = 0; i < values.size(); ++i)
        rig.form.type(i + 1, values[i]);
}

} // namespace

class TestTransfer : public QObject
{
    Q_OBJECT

private slots:
    void slotConversions_data();
    void slotConversions();
    void profileGoesOut_data();
    void profileGoesOut();
    void byteWaitingAtStartIsFirstRequest();
    void loadInsideTransfer_data();
    void loadInsideTransfer();
};

void TestTransfer::slotConversions_data()
{
    QTest::addColumn<int>("step");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("expected"); // -1: cannot be sent
    QTest::newRow("half down to even") << 1 << "12.5" << 12;
    QTest::newRow("half up to even") << 1 << "13.5" << 14;
    QTest::newRow("leading number") << 2 << "150abc" << 150;
    QTest::newRow("empty field") << 4 << "" << 0;
    QTest::newRow("stage 2 at 100") << 3 << "100" << 0;
    QTest::newRow("stage 2 at 355") << 3 << "355" << 255;
    QTest::newRow("stage 3 offset") << 5 << "220" << 120;
    QTest::newRow("stage 2 below 100") << 3 << "99" << -1;
    QTest::newRow("rounds into range") << 3 << "99.5" << 0;
    QTest::newRow("stage 1 above 255") << 1 << "256" << -1;
    QTest::newRow("negative time") << 6 << "-1" << -1;
    QTest::newRow("no number is 0, below stage 3 range") << 5 << "abc" << -1;
    QTest::newRow("huge") << 2 << "9e999" << -1;
}

void TestTransfer::slotConversions()
{
    QFETCH(int, step);
    QFETCH(QString, text);
    QFETCH(int, expected);
    const std::optional<int> b = slotByte(step, text);
    QCOMPARE(b.value_or(-1), expected);
    QCOMPARE(slotProblem(step, text).isEmpty(), expected >= 0);
}

// The controller asks for each slot 5 ms after the byte before. What else
// happens: fields edited once slot 2 (60) is out, a byte that asks again a
// second later, bytes that come while "ok!" is open, the cable pulled, a port
// that takes no more writes.
void TestTransfer::profileGoesOut_data()
{
    QTest::addColumn<QStringList>("profile");
    QTest::addColumn<int>("ask"); // the byte the controller asks with
    QTest::addColumn<QStringList>("edits"); // "field=text"
    QTest::addColumn<bool>("asksAgain");
    QTest::addColumn<QList<int>>("whileOk");
    QTest::addColumn<qint64>("unplugAt"); // -1: never
    QTest::addColumn<int>("failWritesAfter"); // -1: none fails
    QTest::addColumn<std::vector<int>>("sent");
    QTest::addColumn<QStringList>("texts"); // the parts of each, split by '|'; "ok!" is exact
    QTest::addColumn<bool>("ends"); // rather than listen on for the controller asking again
    const QStringList profile{"150", "60", "230", "90", "220", "40"};
    const auto with = [&profile](int field, const char *text) {
        QStringList p = profile;
        p[field - 1] = QString::fromLatin1(text);
        return p;
    };
    const std::vector<int> bytes{100, 150, 60, 130, 90, 120, 40};
    std::vector<int> twice = bytes, waiting = bytes;
    twice.insert(twice.end(), bytes.begin() + 1, bytes.end());
    waiting.insert(waiting.end(), {150, 60});
    const QStringList none, ok{"ok!"};
    const QList<int> no;
    QTest::newRow("at the controller's pace")
            << profile << 0x00 << none << false << no << -1ll << -1 << bytes << ok << false;
    QTest::newRow("any byte asks") << QStringList{"1", "2", "103", "4", "105", "6"} << 0xFF << none << false
                                   << no << -1ll << -1 << std::vector<int>{100, 1, 2, 3, 4, 5, 6} << ok
                                   << false;
    QTest::newRow("asked again after ok!: all six again")
            << profile << 0x00 << none << true << no << -1ll << -1 << twice << QStringList{"ok!", "ok!"}
            << false;
    // The first starts the six slots again; with the one-byte receive buffer
    // the second is not lost but asks for slot 2.
    QTest::newRow("two bytes wait while ok! is open")
            << profile << 0x00 << none << false << QList<int>{7, 8} << -1ll << -1 << waiting << ok << false;
    QTest::newRow("fields edited between steps: sent as they read then")
            << profile << 0x00 << QStringList{"1=1", "4=77"} << false << no << -1ll << -1
            << std::vector<int>{100, 150, 60, 130, 77, 120, 40} << ok << false;
    QTest::newRow("a field edited out of range stops at its step")
            << profile << 0x00 << QStringList{"3=50"} << false << no << -1ll << -1
            << std::vector<int>{100, 150, 60} << QStringList{"stopped before step 3"} << true;
    // Refused before anything is sent: the port is not touched and the run
    // clock is left alone.
    QTest::newRow("stage 2 temperature 99")
            << with(3, "99") << 0x00 << none << false << no << -1ll << -1 << std::vector<int>{}
            << QStringList{"\"99\"|100 to 355|Nothing was sent"} << true;
    QTest::newRow("stage 1 time 300")
            << with(2, "300") << 0x00 << none << false << no << -1ll << -1 << std::vector<int>{}
            << QStringList{"\"300\"|0 to 255|Nothing was sent"} << true;
    QTest::newRow("stage 3 temperature 356")
            << with(5, "356") << 0x00 << none << false << no << -1ll << -1 << std::vector<int>{}
            << QStringList{"\"356\"|100 to 355|Nothing was sent"} << true;
    // A lost line ends the transfer instead of a wait on a closed port, and
    // what went out is told after the fault. Value k goes out at 5 k ms.
    QTest::newRow("cable pulled after two values")
            << profile << 0x00 << none << false << no << 12ll << -1 << std::vector<int>{100, 150, 60}
            << QStringList{"port1 disappeared", "2 of its 6 values"} << true;
    QTest::newRow("cable pulled before the first request")
            << profile << 0x00 << none << false << no << 2ll << -1 << std::vector<int>{100}
            << QStringList{"port1 disappeared", "was not sent:"} << true;
    QTest::newRow("last value cannot go out")
            << profile << 0x00 << none << false << no << -1ll << 6
            << std::vector<int>{100, 150, 60, 130, 90, 120} << QStringList{"5 of its 6 values"} << true;
    QTest::newRow("command byte cannot go out") << profile << 0x00 << none << false << no << -1ll << 0
                                                << std::vector<int>{} << QStringList{"was not sent:"} << true;
    QTest::newRow("cable pulled after ok!") << profile << 0x00 << none << false << no << 100ll << -1 << bytes
                                            << QStringList{"ok!", "The port is closed"} << true;
}

void TestTransfer::profileGoesOut()
{
    QFETCH(QStringList, profile);
    QFETCH(int, ask);
    QFETCH(QStringList, edits);
    QFETCH(bool, asksAgain);
    QFETCH(QList<int>, whileOk);
    QFETCH(qint64, unplugAt);
    QFETCH(int, failWritesAfter);
    QFETCH(std::vector<int>, sent);
    QFETCH(QStringList, texts);
    Rig rig;
    typeProfile(rig, profile);
    rig.timer1.setEnabled(true);
    takeWrites(rig, ask);
    rig.line.onSent = [&rig, edits, inner = rig.line.onSent](int b) {
        if (b == 60)
            for (const QString &edit : edits)
                rig.form.type(edit.section(u'=', 0, 0).toInt(), edit.section(u'=', 1));
        inner(b);
    };
    if (asksAgain)
        rig.world.at(1'000, [&rig] {
            auto slot = std::make_shared<int>(0);
            rig.line.onSent = [&rig, slot](int) {
                if (++*slot < 6)
                    rig.world.after(5, [&rig] { rig.line.arrive({1}); });
            };
            rig.line.arrive({1});
        });
    rig.messages.whileOpen = [&](const QString &) {
        QByteArray bytes;
        for (int b : std::exchange(whileOk, {}))
            bytes.append(char(b));
        rig.line.arrive(bytes);
    };
    rig.line.failWritesAfter = failWritesAfter;
    if (unplugAt >= 0)
        rig.world.at(unplugAt, [&rig] { rig.line.unplug(); });
    bool returned = false;
    rig.run([&] {
        to8031_Click(rig.c);
        returned = true;
    });
    QCOMPARE(rig.line.sent, sent);
    for (std::size_t i = 1; i < std::min<std::size_t>(7, sent.size()); ++i)
        QCOMPARE(rig.line.sentAt[i] - rig.line.sentAt[i - 1], qint64(5)); // each after a request
    QCOMPARE(rig.messages.texts.size(), texts.size());
    for (qsizetype i = 0; i < texts.size(); ++i) {
        const QString &told = rig.messages.texts[i];
        for (const QString &part : texts[i].split(u'|'))
            QVERIFY2(part == u"ok!" ? told == part : told.contains(part), qPrintable(told));
    }
    QTEST(returned, "ends");
    const bool refused = texts.value(0).contains(QStringLiteral("Nothing was sent"));
    QCOMPARE(rig.timer1.isEnabled(), refused);
    QCOMPARE(rig.line.log.isEmpty(), refused);
    QCOMPARE(rig.line.isOpen(), !refused && unplugAt < 0); // a pulled cable closes it
}

void TestTransfer::byteWaitingAtStartIsFirstRequest()
{
    Rig rig;
    typeProfile(rig, {"150", "60", "230", "90", "220", "40"});
    QVERIFY(rig.line.open().ok());
    rig.line.arrive({9}); // already there when the command starts
    rig.run([&rig] { to8031_Click(rig.c); });
    QCOMPARE(rig.line.sent, (std::vector<int>{100, 150}));
    QCOMPARE(rig.line.sentAt[1], qint64(0)); // slot 1 at once, no request awaited
}

void TestTransfer::loadInsideTransfer_data()
{
    QTest::addColumn<qint64>("stopAt"); // Stop Communicate; -1: none
    QTest::addColumn<int>("runTicks"); // Stop Communicate leaves the shared counter here, or at 4
    QTest::addColumn<std::vector<int>>("sent");
    QTest::addColumn<QStringList>("texts");
    // Slot 1 goes out at 5 ms, the port closes at 8 ms; a Load at 1 s answers
    // 10..60, so the field of slot 5 then reads 150; the controller asks at 2 s.
    QTest::newRow("after ok! the transfer listens on: the next request gets slot 5")
            << qint64(-1) << 0 << std::vector<int>{100, 150, 60, 130, 90, 120, 40, 1, 2, 3, 4, 5, 6, 50}
            << QStringList{"ok!"};
    QTest::newRow("no run before: it listens on, a Load reopens, the next request gets slot 5")
            << qint64(8) << 0 << std::vector<int>{100, 150, 1, 2, 3, 4, 5, 6, 50} << QStringList{};
    QTest::newRow("a run of 12 s before: the counter ends the transfer")
            << qint64(8) << 12 << std::vector<int>{100, 150} << QStringList{};
}

void TestTransfer::loadInsideTransfer()
{
    QFETCH(qint64, stopAt);
    QFETCH(int, runTicks);
    QFETCH(std::vector<int>, sent);
    Rig rig;
    typeProfile(rig, {"150", "60", "230", "90", "220", "40"});
    takeWrites(rig);
    rig.c.state.runTicks = runTicks;
    if (stopAt >= 0)
        rig.world.at(stopAt, [&rig] { stopcomm_Click(rig.c); });
    rig.world.at(1'000, [&rig] {
        rig.answerLoads({10, 20, 30, 40, 50, 60});
        getcanshu_Click(rig.c);
    });
    rig.world.at(2'000, [&rig] {
        rig.line.onSent = nullptr;
        rig.line.arrive({0});
    });
    bool returned = false;
    rig.run([&] {
        to8031_Click(rig.c);
        returned = true;
    });
    QCOMPARE(rig.line.sent, sent);
    QTEST(rig.messages.texts, "texts"); // the operator's Stop Communicate is no lost line
    // Either the counter ended it, or it still waits, asleep, for the next
    // request, having sent slot 5 from the field the Load wrote.
    QCOMPARE(returned, runTicks >= 6);
    if (!returned) {
        QCOMPARE(rig.c.state.loopIndex, LooseValue(5));
        QCOMPARE(rig.form.fields[4], QStringLiteral("150"));
    }
}

QTEST_GUILESS_MAIN(TestTransfer)
#include "test_transfer.moc"
