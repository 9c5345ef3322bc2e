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
    void openSequenceUsesChosenPort();
    void portChoiceTakesEffectOnlyAtNextOpen();
    void portPanelButtonsOnlyHide();
    void portThatCannotOpenIsReportedAndCommandAbandoned();
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
    SharedState snapshot;
    QStringList fieldsThen;
    rig.line.onSent = [&](int b) {
        if (b == 3) {
            snapshot = rig.c.state;
            for (const QString &f : rig.form.fields)
                fieldsThen << f;
        }
        if (b >= 1 && b <= 6)
            rig.world.after(5, [&rig, b] {
                rig.line.arrive({QList<int>{150, 60, 130, 90, 120, 40}[b - 1]});
            });
    };
    rig.run([&] { getcanshu_Click(rig.c); });
    QCOMPARE(snapshot.stageTemp[1], LooseValue(150));
    QCOMPARE(snapshot.stageTime[1], LooseValue(60));
    QCOMPARE(snapshot.stageTemp[2], LooseValue(0));
    QCOMPARE(snapshot.stageTime[2], LooseValue(0));
    QCOMPARE(snapshot.stageTemp[3], LooseValue(0));
    QCOMPARE(snapshot.stageTime[3], LooseValue(0));
    QCOMPARE(fieldsThen.mid(0, 6), (QStringList{"old1", "old2", "old3", "old4", "old5", "old6"}));
}

void TestParameterLoad::openSequenceUsesChosenPort()
{
    Rig rig;
    selectport_Click(rig.c);
    rig.form.com1 = false;
    rig.form.com2 = true;
    cancel_Click(rig.c); // CANCEL keeps the choice
    QVERIFY(!rig.form.panelVisible);
    rig.answerLoads({1, 2, 3, 4, 5, 6});
    rig.run([&] { getcanshu_Click(rig.c); });
    QCOMPARE(rig.line.log.mid(0, 8), (QStringList{"port 2", "settings 2400,N,8,1", "raw", "readLength 0",
                                                  "buffer 1", "discardReceived", "discardUnsent", "open"}));
    QCOMPARE(rig.line.sentOnPort, (std::vector<int>(6, 2)));
}

void TestParameterLoad::portChoiceTakesEffectOnlyAtNextOpen()
{
    Rig rig;
    rig.answerLoads({1, 2, 3, 4, 5, 6});
    rig.run([&] { getcanshu_Click(rig.c); });
    rig.form.com1 = false;
    rig.form.com2 = true;
    rig.run([&] { getcanshu_Click(rig.c); });
    QCOMPARE(rig.line.port(), 1); // still open on port 1
    QCOMPARE(rig.line.opens, 1);
    stopcomm_Click(rig.c);
    QVERIFY(!rig.line.isOpen());
    rig.run([&] { getcanshu_Click(rig.c); });
    QCOMPARE(rig.line.port(), 2);
    QCOMPARE(rig.line.sentOnPort.back(), 2);
}

void TestParameterLoad::portPanelButtonsOnlyHide()
{
    Rig rig;
    QVERIFY(!rig.form.panelVisible); // hidden from start-up
    selectport_Click(rig.c);
    selectport_Click(rig.c);
    QVERIFY(rig.form.panelVisible);
    rig.form.com1 = false;
    rig.form.com2 = true;
    yes_Click(rig.c);
    QVERIFY(!rig.form.panelVisible);
    QVERIFY(rig.form.com2);
    QVERIFY(rig.line.log.isEmpty()); // nothing touched the port
}

void TestParameterLoad::portThatCannotOpenIsReportedAndCommandAbandoned()
{
    Rig rig;
    const QStringList typed{"140", "50", "210", "80", "235", "30"};
    for (int n = 1; n <= 6; ++n)
        rig.form.type(n, typed[n - 1]);
    const SharedState before = rig.c.state;
    rig.line.openError = QStringLiteral("No such file or directory");
    rig.run([&] { getcanshu_Click(rig.c); });
    QVERIFY(rig.line.sent.empty());
    QCOMPARE(rig.messages.texts.size(), 1);
    QVERIFY(rig.messages.texts[0].contains(QStringLiteral("port1")));
    QVERIFY(rig.messages.texts[0].contains(QStringLiteral("No such file or directory")));
    // Nothing of the profile changed.
    QCOMPARE(rig.c.state.stageTemp, before.stageTemp);
    QCOMPARE(rig.c.state.stageTime, before.stageTime);
    QCOMPARE(QStringList(rig.form.fields, rig.form.fields + 6), typed);
    // The command is over: the next one tries again once the port is there.
    rig.line.openError.clear();
    rig.answerLoads({150, 60, 130, 90, 120, 40});
    rig.run([&] { getcanshu_Click(rig.c); });
    QCOMPARE(rig.form.fields[2], QStringLiteral("230"));
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
