#include "fakes.h"

#include "link/load.h"
#include "link/port.h"
#include "run/run_stop.h"

#include <QTest>

namespace {

const QStringList kTyped{"140", "50", "210", "80", "235", "30"};

struct Load
{
    std::array<int, 6> answers = Rig::kProfile;
    int delay = 5;
    QByteArray stale{}; // waiting on the open port before the Load
    int runFlag = 0;
    QString openError{};
    QString lineFault{}; // after the first answer
    std::vector<int> sent{1, 2, 3, 4, 5, 6};
    QStringList fields{}; // empty: as typed
};

} // namespace

Q_DECLARE_METATYPE(Load)

class TestParameterLoad : public QObject
{
    Q_OBJECT

private slots:
    void loadAndWhatComesOfIt_data();
    void loadAndWhatComesOfIt();
    void portChoice();
    void silentControllerSleepsInsteadOfSpinning();
};

// The operator has typed kTyped, and the last run is on record. The controller
// answers requests 1..6, each `delay` ms after its request; a Load that does
// not finish is told once and leaves the profile, the fields and the last run
// as they were.
void TestParameterLoad::loadAndWhatComesOfIt_data()
{
    QTest::addColumn<Load>("load");
    QTest::newRow("a profile") << Load{.fields = Rig::kProfileTexts};
    QTest::newRow("all zero") << Load{
            .answers = {}, .delay = 40, .fields = {"0", "0", "100", "0", "100", "0"}};
    QTest::newRow("all 255") << Load{.answers = {255, 255, 255, 255, 255, 255},
                                     .fields = {"255", "255", "355", "255", "355", "255"}};
    // Left over from before, some still in the system queue: never an answer.
    QTest::newRow("stale bytes") << Load{.stale = "\x63\x62\x61", .fields = Rig::kProfileTexts};
    QTest::newRow("during a run: nothing") << Load{.runFlag = 1, .sent = {}};
    QTest::newRow("port cannot open") << Load{.openError = "No such file or directory", .sent = {}};
    QTest::newRow("line fails under request 2")
            << Load{.lineFault = "the line on port1 hung up or failed", .sent = {1, 2}};
}

void TestParameterLoad::loadAndWhatComesOfIt()
{
    QFETCH(Load, load);
    Rig rig;
    rig.form.typeProfile(kTyped);
    rig.c.state.runStamp = {2024, 5, 9, 14, 3, 27};
    rig.c.state.runTicks = 12;
    rig.c.state.runFlag = load.runFlag;
    if (!load.stale.isEmpty()) {
        QVERIFY(ensurePortOpen(rig.c));
        rig.line.arrive(load.stale);
        QVERIFY(rig.line.deliver());
    }
    const SharedState before = rig.c.state;
    rig.form.changes.clear();
    rig.line.openError = load.openError;
    rig.answerLoads(load.answers, load.delay);
    // While request 3 is out: stage 1 taken, the rest cleared, the fields
    // still waiting for the whole profile.
    std::optional<SharedState> then;
    QStringList fieldsThen;
    rig.line.onSent = [&, answer = rig.line.onSent](int b) {
        if (b == 3) {
            then = rig.c.state;
            fieldsThen = rig.form.profile();
        }
        if (b == 2 && !load.lineFault.isEmpty())
            rig.world.after(5, [&] { rig.line.fail(load.lineFault); });
        else
            answer(b);
    };
    rig.run([&] { getcanshu_Click(rig.c); });
    QCOMPARE(rig.line.sent, load.sent);
    // Each request goes out once the answer to the one before has come.
    for (std::size_t i = 1; i < rig.line.sentAt.size(); ++i)
        QCOMPARE(rig.line.sentAt[i] - rig.line.sentAt[i - 1], qint64(load.delay));
    const SharedState &s = rig.c.state;
    if (load.fields.isEmpty()) {
        QCOMPARE(rig.form.profile(), kTyped);
        QCOMPARE(s.stageTemp, before.stageTemp);
        QCOMPARE(s.stageTime, before.stageTime);
        QCOMPARE(rig.messages.texts.size(), load.runFlag ? 0 : 1);
        for (const QString &told : rig.messages.texts)
            QVERIFY2(told.contains(QStringLiteral("port1")) && told.contains(load.openError + load.lineFault),
                     qPrintable(told));
        QVERIFY(!rig.line.isOpen());
    } else {
        QCOMPARE(rig.form.profile(), load.fields);
        for (std::size_t stage = 1; stage <= 3; ++stage) {
            // The change handling stored each field's text back into its element.
            QCOMPARE(s.stageTemp[stage], LooseValue(load.fields[qsizetype(2 * stage - 2)]));
            QCOMPARE(s.stageTime[stage], LooseValue(load.fields[qsizetype(2 * stage - 1)]));
        }
        QCOMPARE(rig.form.changes, (std::vector<int>{1, 2, 3, 4, 5, 6}));
        QCOMPARE(s.loopIndex, LooseValue(4));
        QVERIFY(rig.line.isOpen());
        QVERIFY(rig.messages.texts.isEmpty());
        QVERIFY(then);
        QCOMPARE(then->stageTemp[1], LooseValue(load.answers[0]));
        QCOMPARE(then->stageTime[1], LooseValue(load.answers[1]));
        for (const std::size_t stage : {std::size_t(2), std::size_t(3)})
            QVERIFY(then->stageTemp[stage] == LooseValue(0) && then->stageTime[stage] == LooseValue(0));
        QCOMPARE(fieldsThen, kTyped);
    }
    QVERIFY(rig.messages.notices.isEmpty());
    // Not a run: its stamp and clock stay as they were.
    QCOMPARE(s.runStamp, before.runStamp);
    QCOMPARE(s.runTicks, LooseValue(12));
    if (load.runFlag)
        return;
    // The next Load opens the port where it must, and finishes.
    rig.line.openError.clear();
    const int opens = rig.line.opens;
    rig.answerLoads();
    QVERIFY(rig.run([&] { getcanshu_Click(rig.c); }));
    QCOMPARE(rig.form.profile(), Rig::kProfileTexts);
    QCOMPARE(rig.line.opens, opens + int(load.fields.isEmpty()));
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
    rig.answerLoads();
    rig.run([&] { getcanshu_Click(rig.c); });
    selectport_Click(rig.c);
    rig.form.com1 = false;
    rig.form.com2 = true;
    cancel_Click(rig.c); // CANCEL keeps the choice, and so does YES
    QVERIFY(!rig.form.panelVisible && rig.form.com2);
    selectport_Click(rig.c);
    yes_Click(rig.c);
    QVERIFY(!rig.form.panelVisible && rig.form.com2);
    rig.run([&] { getcanshu_Click(rig.c); });
    stopcomm_Click(rig.c);
    rig.run([&] { getcanshu_Click(rig.c); });
    // Port 1 until the port was closed, then port 2 at 2400,N,8,1.
    std::vector<int> ports(12, 1);
    ports.insert(ports.end(), 6, 2);
    QCOMPARE(rig.line.sentOnPort, ports);
    QVERIFY(rig.line.log.contains(QStringLiteral("settings 2400,N,8,1")));
}

void TestParameterLoad::silentControllerSleepsInsteadOfSpinning()
{
    Rig rig;
    QVERIFY(!rig.run([&rig] { getcanshu_Click(rig.c); })); // still waiting for the first answer...
    QCOMPARE(rig.line.sent, std::vector<int>{1});
    QVERIFY(rig.world.pumps <= 2); // ...asleep, not polling in a loop
}

QTEST_GUILESS_MAIN(TestParameterLoad)
#include "test_parameter_load.moc"
