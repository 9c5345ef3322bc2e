#include "fakes.h"

#include "link/load.h"
#include "link/transfer.h"
#include "run/run_stop.h"

#include <QTest>

namespace {

// A controller that takes a profile write: after the command byte and after
// each of slots 1 to 5 it asks for the next one with the given byte. Setting
// the count it returns to 0 makes it take six slots more.
std::shared_ptr<int> takeWrites(Rig &rig, int askWith = 0x00)
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
    return count;
}

// A profile write, what else happens meanwhile, and what should come of it.
// The controller asks for each slot 5 ms after the byte before.
struct Transfer
{
    QStringList profile = Rig::kProfileTexts;
    int ask = 0x00; // the byte the controller asks with
    QStringList edits{}; // "field=text", made once slot 2 (60) is out
    bool asksAgain = false; // at 1 s, for six slots
    QByteArray whileOk{}; // bytes that come while "ok!" is open
    qint64 unplugAt = -1;
    int failWritesAfter = -1; // -1: none fails
    qint64 stopAt = -1; // Stop Communicate
    int runTicks = 0; // the shared counter as an earlier run left it
    bool loadsAt1s = false; // a Load at 1 s (answers 10..60), then a request at 2 s
    // What comes of it.
    std::vector<int> sent{100, 150, 60, 130, 90, 120, 40};
    QStringList texts{"ok!"}; // the parts of each, split by '|'; "ok!" is exact
    bool ends = false; // rather than listen on for the controller asking again
};

} // namespace

Q_DECLARE_METATYPE(Transfer)

class TestTransfer : public QObject
{
    Q_OBJECT

private slots:
    void slotConversions_data();
    void slotConversions();
    void profileGoesOut_data();
    void profileGoesOut();
    void byteWaitingAtStartIsFirstRequest();
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
    QTest::newRow("rounds into range") << 3 << "99.5" << 0;
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

void TestTransfer::profileGoesOut_data()
{
    QTest::addColumn<Transfer>("transfer");
    const std::vector<int> bytes{100, 150, 60, 130, 90, 120, 40};
    std::vector<int> twice = bytes, waiting = bytes;
    twice.insert(twice.end(), bytes.begin() + 1, bytes.end());
    waiting.insert(waiting.end(), {150, 60});
    QTest::newRow("at the controller's pace") << Transfer{};
    QTest::newRow("any byte asks") << Transfer{
            .profile = {"1", "2", "103", "4", "105", "6"}, .ask = 0xFF, .sent = {100, 1, 2, 3, 4, 5, 6}};
    QTest::newRow("asked again after ok!: all six again")
            << Transfer{.asksAgain = true, .sent = twice, .texts = {"ok!", "ok!"}};
    // The first starts the six slots again; with the one-byte receive buffer
    // the second is not lost but asks for slot 2.
    QTest::newRow("two bytes wait while ok! is open") << Transfer{.whileOk = "\x07\x08", .sent = waiting};
    QTest::newRow("fields edited between steps: sent as they read then")
            << Transfer{.edits = {"1=1", "4=77"}, .sent = {100, 150, 60, 130, 77, 120, 40}};
    QTest::newRow("a field edited out of range stops at its step") << Transfer{
            .edits = {"3=50"}, .sent = {100, 150, 60}, .texts = {"stopped before step 3"}, .ends = true};
    // Refused before anything is sent, at the edges of the slots' ranges: the
    // port is not touched and the run clock is left alone.
    const auto refused = [](int field, const char *text, const char *range) {
        Transfer t{.sent = {}, .ends = true};
        t.profile[field - 1] = QString::fromLatin1(text);
        t.texts = QStringList{
                QStringLiteral("\"%1\"|%2|Nothing was sent").arg(QLatin1String(text), QLatin1String(range))};
        return t;
    };
    QTest::newRow("stage 2 temperature 99") << refused(3, "99", "100 to 355");
    QTest::newRow("stage 1 temperature 256") << refused(1, "256", "0 to 255");
    QTest::newRow("stage 3 temperature 356") << refused(5, "356", "100 to 355");
    // A lost line ends the transfer instead of a wait on a closed port, and
    // what went out is told after the fault. Value k goes out at 5 k ms.
    QTest::newRow("cable pulled after two values")
            << Transfer{.unplugAt = 12,
                        .sent = {100, 150, 60},
                        .texts = {"port1 disappeared", "2 of its 6 values"},
                        .ends = true};
    QTest::newRow("cable pulled before the first request") << Transfer{
            .unplugAt = 2, .sent = {100}, .texts = {"port1 disappeared", "was not sent:"}, .ends = true};
    QTest::newRow("last value cannot go out") << Transfer{.failWritesAfter = 6,
                                                          .sent = {100, 150, 60, 130, 90, 120},
                                                          .texts = {"5 of its 6 values"},
                                                          .ends = true};
    QTest::newRow("command byte cannot go out")
            << Transfer{.failWritesAfter = 0, .sent = {}, .texts = {"was not sent:"}, .ends = true};
    QTest::newRow("cable pulled after ok!")
            << Transfer{.unplugAt = 100, .texts = {"ok!", "The port is closed"}, .ends = true};
    // A Load inside the transfer: it answers 10..60, so the field of slot 5
    // then reads 150. Stop Communicate at 8 ms closes the port after slot 1;
    // the operator's Stop Communicate is no lost line.
    QTest::newRow("after ok! it listens on: the next request gets slot 5")
            << Transfer{.loadsAt1s = true, .sent = {100, 150, 60, 130, 90, 120, 40, 1, 2, 3, 4, 5, 6, 50}};
    QTest::newRow("no run before: it listens on, a Load reopens, the next request gets slot 5") << Transfer{
            .stopAt = 8, .loadsAt1s = true, .sent = {100, 150, 1, 2, 3, 4, 5, 6, 50}, .texts = {}};
    // Stop Communicate leaves the shared counter where the run left it, or at 4.
    QTest::newRow("a run of 12 s before: the counter ends the transfer") << Transfer{
            .stopAt = 8, .runTicks = 12, .loadsAt1s = true, .sent = {100, 150}, .texts = {}, .ends = true};
}

void TestTransfer::profileGoesOut()
{
    QFETCH(Transfer, transfer);
    const Transfer &t = transfer;
    Rig rig;
    rig.form.typeProfile(t.profile);
    rig.timer1.setEnabled(true);
    rig.c.state.runTicks = t.runTicks;
    const std::shared_ptr<int> written = takeWrites(rig, t.ask);
    rig.line.onSent = [&rig, &t, inner = rig.line.onSent](int b) {
        if (b == 60)
            for (const QString &edit : t.edits)
                rig.form.type(edit.section(u'=', 0, 0).toInt(), edit.section(u'=', 1));
        inner(b);
    };
    if (t.asksAgain)
        rig.world.at(1'000, [&rig, written] {
            *written = 0;
            rig.line.arrive({1});
        });
    if (t.loadsAt1s) {
        rig.world.at(1'000, [&rig] {
            rig.answerLoads({10, 20, 30, 40, 50, 60});
            getcanshu_Click(rig.c);
        });
        rig.world.at(2'000, [&rig] {
            rig.line.onSent = nullptr;
            rig.line.arrive({0});
        });
    }
    QByteArray whileOk = t.whileOk;
    rig.messages.whileOpen = [&](const QString &) { rig.line.arrive(std::exchange(whileOk, {})); };
    rig.line.failWritesAfter = t.failWritesAfter;
    if (t.unplugAt >= 0)
        rig.world.at(t.unplugAt, [&rig] { rig.line.unplug(); });
    if (t.stopAt >= 0)
        rig.world.at(t.stopAt, [&rig] { stopcomm_Click(rig.c); });
    const bool returned = rig.run([&rig] { to8031_Click(rig.c); });
    QCOMPARE(rig.line.sent, t.sent);
    // Each of the transfer's first values after a request.
    for (std::size_t i = 1; i < std::min<std::size_t>(7, t.sent.size()) && rig.line.sentAt[i] < 1'000; ++i)
        QCOMPARE(rig.line.sentAt[i] - rig.line.sentAt[i - 1], qint64(5));
    QCOMPARE(rig.messages.texts.size(), t.texts.size());
    for (qsizetype i = 0; i < t.texts.size(); ++i) {
        const QString &told = rig.messages.texts[i];
        for (const QString &part : t.texts[i].split(u'|'))
            QVERIFY2(part == u"ok!" ? told == part : told.contains(part), qPrintable(told));
    }
    QCOMPARE(returned, t.ends);
    const bool refused = t.texts.value(0).contains(QStringLiteral("Nothing was sent"));
    QCOMPARE(rig.timer1.isEnabled(), refused);
    QCOMPARE(rig.line.log.isEmpty(), refused);
    // A pulled cable closes the port, and so does a Stop Communicate that ended the transfer.
    QCOMPARE(rig.line.isOpen(), !refused && t.unplugAt < 0 && !(t.stopAt >= 0 && t.ends));
}

void TestTransfer::byteWaitingAtStartIsFirstRequest()
{
    Rig rig;
    rig.form.typeProfile(Rig::kProfileTexts);
    QVERIFY(rig.line.open().ok());
    rig.line.arrive({9}); // already there when the command starts
    rig.run([&rig] { to8031_Click(rig.c); });
    QCOMPARE(rig.line.sent, (std::vector<int>{100, 150}));
    QCOMPARE(rig.line.sentAt[1], qint64(0)); // slot 1 at once, no request awaited
}

QTEST_GUILESS_MAIN(TestTransfer)
#include "test_transfer.moc"
