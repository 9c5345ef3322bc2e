#include "fakes.h"

#include "link/load.h"
#include "link/port.h"
#include "run/run_stop.h"

#include <QTest>

class TestParameterLoad : public QObject
{
    Q_OBJECT

private slots:
    void answersBecomeTheProfile_data();
    void answersBecomeTheProfile();
    void runFlagOneDoesNothing();
    void staleByteIsDiscarded();
    void stateWhileWaitingForThirdAnswer();
    void portChoice();
    void loadThatCannotFinish_data();
    void loadThatCannotFinish();
    void silentControllerSleepsInsteadOfSpinning();
};

// The controller's answers to requests 1..6, each `delay` ms after its request.
void TestParameterLoad::answersBecomeTheProfile_data()
{
    QTest::addColumn<QList<int>>("answers");
    QTest::addColumn<int>("delay");
    QTest::addColumn<QStringList>("fields");
    QTest::newRow("a profile") << QList<int>{150, 60, 130, 90, 120, 40} << 5
                               << QStringList{"150", "60", "230", "90", "220", "40"};
    QTest::newRow("all zero") << QList<int>(6, 0) << 40 << QStringList{"0", "0", "100", "0", "100", "0"};
    QTest::newRow("all 255") << QList<int>(6, 255) << 5
                             << QStringList{"255", "255", "355", "255", "355", "255"};
}

void TestParameterLoad::answersBecomeTheProfile()
{
    QFETCH(QList<int>, answers);
    QFETCH(int, delay);
    QFETCH(QStringList, fields);
    Rig rig;
    rig.answerLoads({answers[0], answers[1], answers[2], answers[3], answers[4], answers[5]}, delay);
    rig.run([&] { getcanshu_Click(rig.c); });
    // Each request goes out once the answer to the one before has come.
    QCOMPARE(rig.line.sent, (std::vector<int>{1, 2, 3, 4, 5, 6}));
    for (std::size_t i = 1; i < rig.line.sentAt.size(); ++i)
        QCOMPARE(rig.line.sentAt[i] - rig.line.sentAt[i - 1], qint64(delay));
    const SharedState &s = rig.c.state;
    for (std::size_t stage = 1; stage <= 3; ++stage) {
        QCOMPARE(rig.form.fields[2 * stage - 2], fields[qsizetype(2 * stage - 2)]);
        QCOMPARE(rig.form.fields[2 * stage - 1], fields[qsizetype(2 * stage - 1)]);
        // The change handling stored each field's text back into its element.
        QCOMPARE(s.stageTemp[stage], LooseValue(fields[qsizetype(2 * stage - 2)]));
        QCOMPARE(s.stageTime[stage], LooseValue(fields[qsizetype(2 * stage - 1)]));
    }
    QCOMPARE(rig.form.changes, (std::vector<int>{1, 2, 3, 4, 5, 6}));
    QCOMPARE(s.loopIndex, LooseValue(4));
    QVERIFY(rig.line.isOpen());
    QVERIFY(rig.messages.texts.isEmpty());
}

void TestParameterLoad::runFlagOneDoesNothing()
{
    Rig rig;
    rig.form.type(1, "123");
    rig.c.state.runFlag = 1;
    rig.answerLoads({150, 60, 130, 90, 120, 40});
    rig.run([&] { getcanshu_Click(rig.c); });
    QVERIFY(rig.line.sent.empty());
    QVERIFY(!rig.line.isOpen());
    QCOMPARE(rig.form.fields[0], QStringLiteral("123"));
    QCOMPARE(rig.c.state.stageTemp[1], LooseValue("123"));
    QVERIFY(rig.c.state.loopIndex.isEmpty());
}

void TestParameterLoad::staleByteIsDiscarded()
{
    Rig rig;
    QVERIFY(ensurePortOpen(rig.c));
    rig.line.arrive({99, 98, 97}); // left over from before, some still in the system queue
    QVERIFY(rig.line.deliver());
    rig.answerLoads({150, 60, 130, 90, 120, 40});
    rig.run([&] { getcanshu_Click(rig.c); });
    QCOMPARE(rig.form.fields[0], QStringLiteral("150"));
    QCOMPARE(rig.form.fields[5], QStringLiteral("40"));
}

void TestParameterLoad::stateWhileWaitingForThirdAnswer()
{
    Rig rig;
    for (int n = 1; n <= 6; ++n)
        rig.form.type(n, QStringLiteral("old%1").arg(n));
    SharedState then;
    QStringList fieldsThen;
    rig.answerLoads({150, 60, 130, 90, 120, 40});
    rig.line.onSent = [&, answer = rig.line.onSent](int b) {
        if (b == 3) {
            then = rig.c.state;
            fieldsThen = QStringList(rig.form.fields, rig.form.fields + 6);
        }
        answer(b);
    };
    rig.run([&] { getcanshu_Click(rig.c); });
    // Stage 1 taken, the rest cleared; the fields wait for the whole profile.
    QCOMPARE(then.stageTemp[1], LooseValue(150));
    QCOMPARE(then.stageTime[1], LooseValue(60));
    for (const std::size_t stage : {std::size_t(2), std::size_t(3)})
        QVERIFY(then.stageTemp[stage] == LooseValue(0) && then.stageTime[stage] == LooseValue(0));
    QCOMPARE(fieldsThen, (QStringList{"old1", "old2", "old3", "old4", "old5", "old6"}));
}

// The panel only shows and hides; the choice takes effect at the next open.
void TestParameterLoad::portChoice()
{
    Rig rig;
    QVERIFY(!rig.form.panelVisible); // hidden from start-up
    selectport_Click(rig.c);
    selectport_Click(rig.c);
    QVERIFY(rig.form.panelVisible);
    yes_Click(rig.c);
    QVERIFY(!rig.form.panelVisible);
    QVERIFY(rig.line.log.isEmpty()); // nothing touched the port
    rig.answerLoads({1, 2, 3, 4, 5, 6});
    rig.run([&] { getcanshu_Click(rig.c); });
    QCOMPARE(rig.line.port(), 1);
    selectport_Click(rig.c);
    rig.form.com1 = false;
    rig.form.com2 = true;
    cancel_Click(rig.c); // CANCEL keeps the choice, and so does YES
    QVERIFY(!rig.form.panelVisible && rig.form.com2);
    selectport_Click(rig.c);
    yes_Click(rig.c);
    QVERIFY(!rig.form.panelVisible && rig.form.com2);
    rig.run([&] { getcanshu_Click(rig.c); });
    QCOMPARE(rig.line.port(), 1); // still open on port 1
    QCOMPARE(rig.line.opens, 1);
    stopcomm_Click(rig.c);
    rig.line.log.clear();
    rig.run([&] { getcanshu_Click(rig.c); });
    QCOMPARE(rig.line.log.mid(0, 8), (QStringList{"port 2", "settings 2400,N,8,1", "raw", "readLength 0",
                                                  "buffer 1", "discardReceived", "discardUnsent", "open"}));
    QCOMPARE(std::vector<int>(rig.line.sentOnPort.end() - 6, rig.line.sentOnPort.end()),
             std::vector<int>(6, 2));
}

// A Load the port or the line ends: told once, and the profile, the fields
// and the last run are as they were; the next command opens the port again.
void TestParameterLoad::loadThatCannotFinish_data()
{
    QTest::addColumn<QString>("openError");
    QTest::addColumn<QString>("lineFault"); // after the first answer
    QTest::addColumn<std::vector<int>>("sent");
    QTest::newRow("port cannot open") << "No such file or directory"
                                      << "" << std::vector<int>{};
    QTest::newRow("line fails under request 2")
            << ""
            << "the line on port1 hung up or failed" << std::vector<int>{1, 2};
}

void TestParameterLoad::loadThatCannotFinish()
{
    QFETCH(QString, openError);
    QFETCH(QString, lineFault);
    Rig rig;
    const QStringList typed{"140", "50", "210", "80", "235", "30"};
    for (int n = 1; n <= 6; ++n)
        rig.form.type(n, typed[n - 1]);
    rig.c.state.runStamp = {2024, 5, 9, 14, 3, 27};
    rig.c.state.runTicks = 12;
    const SharedState before = rig.c.state;
    rig.line.openError = openError;
    rig.line.onSent = [&](int b) {
        if (b == 1)
            rig.world.after(5, [&] { rig.line.arrive({77}); });
        if (b == 2)
            rig.world.after(5, [&] { rig.line.fail(lineFault); });
    };
    rig.world.at(60'000, [] {});
    rig.run([&] { getcanshu_Click(rig.c); });
    QTEST(rig.line.sent, "sent");
    QCOMPARE(rig.messages.texts.size(), 1);
    QVERIFY(rig.messages.texts[0].contains(QStringLiteral("port1")));
    QVERIFY(rig.messages.texts[0].contains(openError + lineFault));
    QVERIFY(rig.messages.notices.isEmpty());
    QVERIFY(!rig.line.isOpen());
    QCOMPARE(rig.c.state.stageTemp, before.stageTemp);
    QCOMPARE(rig.c.state.stageTime, before.stageTime);
    QCOMPARE(QStringList(rig.form.fields, rig.form.fields + 6), typed);
    // Not a run: its stamp and clock stay as they were.
    QCOMPARE(rig.c.state.runStamp, before.runStamp);
    QCOMPARE(rig.c.state.runTicks, LooseValue(12));
    rig.line.openError.clear();
    const int opens = rig.line.opens;
    rig.answerLoads({150, 60, 130, 90, 120, 40});
    rig.run([&] { getcanshu_Click(rig.c); });
    QCOMPARE(rig.form.fields[2], QStringLiteral("230"));
    QCOMPARE(rig.line.opens, opens + 1);
}

void TestParameterLoad::silentControllerSleepsInsteadOfSpinning()
{
    Rig rig;
    bool returned = false;
    rig.run([&] {
        getcanshu_Click(rig.c);
        returned = true;
    });
    QVERIFY(!returned); // still waiting for the first answer...
    QCOMPARE(rig.line.sent, std::vector<int>{1});
    QVERIFY(rig.world.pumps <= 2); // ...asleep, not polling in a loop
}

QTEST_GUILESS_MAIN(TestParameterLoad)
#include "test_parameter_load.moc"
