#include "fakes.h"

#include "link/load.h"
#include "link/port.h"
#include "run/run_stop.h"

#include <QTest>

class TestParameterLoad : public QObject
{
    Q_OBJECT

private slots:
    void answersFillFieldsAndState();
    void requestsGoOutOneAfterEachAnswer();
    void slotOffsets_data();
    void slotOffsets();
    void runFlagOneDoesNothing();
    void staleByteIsDiscarded();
    void stateWhileWaitingForThirdAnswer();
    void openSequenceUsesChosenPort();
    void portChoiceTakesEffectOnlyAtNextOpen();
    void portPanelButtonsOnlyHide();
    void portThatCannotOpenIsReportedAndCommandAbandoned();
    void silentControllerSleepsInsteadOfSpinning();
    void lineFaultIsToldOnceAndClosesPort();
};

void TestParameterLoad::answersFillFieldsAndState()
{
    Rig rig;
    rig.answerLoads({150, 60, 130, 90, 120, 40});
    rig.run([&] { getcanshu_Click(rig.c); });
    const QStringList expected{"150", "60", "230", "90", "220", "40"};
    for (int i = 0; i < 6; ++i)
        QCOMPARE(rig.form.fields[i], expected[i]);
    const SharedState &s = rig.c.state;
    // The change handling stored each field's text back into its element.
    QCOMPARE(s.stageTemp[1], LooseValue("150"));
    QCOMPARE(s.stageTime[1], LooseValue("60"));
    QCOMPARE(s.stageTemp[2], LooseValue("230"));
    QCOMPARE(s.stageTime[2], LooseValue("90"));
    QCOMPARE(s.stageTemp[3], LooseValue("220"));
    QCOMPARE(s.stageTime[3], LooseValue("40"));
    QCOMPARE(rig.form.changes, (std::vector<int>{1, 2, 3, 4, 5, 6}));
    QCOMPARE(s.loopIndex, LooseValue(4));
    QVERIFY(rig.line.isOpen());
    QVERIFY(rig.messages.texts.isEmpty());
}

void TestParameterLoad::requestsGoOutOneAfterEachAnswer()
{
    Rig rig;
    rig.answerLoads({1, 2, 3, 4, 5, 6}, 40);
    rig.run([&] { getcanshu_Click(rig.c); });
    QCOMPARE(rig.line.sent, (std::vector<int>{1, 2, 3, 4, 5, 6}));
    for (std::size_t i = 1; i < rig.line.sentAt.size(); ++i)
        QCOMPARE(rig.line.sentAt[i] - rig.line.sentAt[i - 1], qint64(40));
}

void TestParameterLoad::slotOffsets_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<QStringList>("fields");
    QTest::newRow("all zero") << 0 << QStringList{"0", "0", "100", "0", "100", "0"};
    QTest::newRow("all 255") << 255 << QStringList{"255", "255", "355", "255", "355", "255"};
}

void TestParameterLoad::slotOffsets()
{
    QFETCH(int, answer);
    QFETCH(QStringList, fields);
    Rig rig;
    rig.answerLoads({answer, answer, answer, answer, answer, answer});
    rig.run([&] { getcanshu_Click(rig.c); });
    for (int i = 0; i < 6; ++i)
        QCOMPARE(rig.form.fields[i], fields[i]);
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
    rig.line.openError = QStringLiteral("No such file or directory");
    rig.run([&] { getcanshu_Click(rig.c); });
    QVERIFY(rig.line.sent.empty());
    QCOMPARE(rig.messages.texts.size(), 1);
    QVERIFY(rig.messages.texts[0].contains(QStringLiteral("port1")));
    QVERIFY(rig.messages.texts[0].contains(QStringLiteral("No such file or directory")));
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

void TestParameterLoad::lineFaultIsToldOnceAndClosesPort()
{
    Rig rig;
    rig.line.onSent = [&](int b) {
        if (b == 2)
            rig.world.after(10, [&] { rig.line.fail(QStringLiteral("port1: device gone")); });
        else
            rig.world.after(5, [&] { rig.line.arrive({7}); });
    };
    rig.run([&] { getcanshu_Click(rig.c); });
    QCOMPARE(rig.messages.texts.size(), 1);
    QVERIFY(rig.messages.texts[0].contains(QStringLiteral("device gone")));
    QVERIFY(!rig.line.isOpen());
}

QTEST_GUILESS_MAIN(TestParameterLoad)
#include "test_parameter_load.moc"
