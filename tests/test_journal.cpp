#include "fakes.h"
#include "file_size_limit.h"
#include "test_files.h"

#include "records/journal_disk.h"
#include "records/record_file.h"
#include "run/run_start.h"
#include "run/run_stop.h"
#include "ui/qt_platform.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace std::chrono_literals;
using testfiles::readFile;

namespace {

// Scripted runs, journaled by the real disk into folder.
struct JournalRig : Rig
{
    explicit JournalRig(const QString &runs) : folder(runs), journal(disk, messages, world, runs)
    {
        c.journal = &journal;
        answerLoads();
    }
    // What the disk has done is told, as the window's event loop would.
    bool settle(std::chrono::milliseconds limit = 5s)
    {
        const bool settled = disk.settle(limit);
        QCoreApplication::sendPostedEvents();
        return settled;
    }
    [[nodiscard]] QStringList journals() const
    {
        return QDir(folder).entryList({QStringLiteral("*.dbf")}, QDir::Files, QDir::Name);
    }
    [[nodiscard]] RecordContent read(const QString &name) const
    {
        QFile f(folder + u'/' + name);
        return f.open(QIODevice::ReadOnly) ? readRecord(f) : RecordContent{};
    }
    QString folder;
    ThreadedJournalDisk disk;
    RunJournal journal;
};

// What goes wrong with the disk: made (true) at second 2 of a run, healed
// (false) at second 4.
using Fault = std::function<void(bool, Rig &)>;

// Six seconds of readings 100, 101, ... with the fault, then Stop, then Save
// elsewhere; what went otherwise than the test's row says, or nothing.
QString faultyRun(const QString &runs, const Fault &fault, bool hangs)
{
    QFETCH(int, notices);
    QFETCH(bool, whole);
    QFETCH(bool, ends);
    JournalRig rig(runs);
    QStringList wrong;
    auto expect = [&wrong](bool ok, const QString &what) {
        if (!ok)
            wrong << what;
    };
    const auto wait = hangs ? 0ms : 5000ms; // a hung disk is never waited for
    rig.onRunStart = [&](qint64 t) {
        rig.framesEverySecond(t, {100, 101, 102, 103, 104, 105});
        for (int k = 1; k <= 6; ++k)
            rig.world.at(t + 1000 * k + 100, [&, k] {
                rig.settle(wait);
                if ((k == 2 || k == 4) && fault)
                    fault(k == 2, rig);
                const RecordContent r = rig.read(rig.journals().value(0));
                if (whole && k != 2)
                    expect(r.complete() && r.countValue == k && r.stamp.value(5).trimmed() == u"27",
                           QStringLiteral("second %1 not kept").arg(k));
            });
        rig.world.at(t + 6200, [&rig] { stop_Click(rig.c); });
    };
    QElapsedTimer window;
    window.start();
    rig.run([&rig] { from8031_Click(rig.c); });
    expect(window.elapsed() < 10'000, QStringLiteral("the run waited on the disk"));
    rig.settle(std::min(wait, 1000ms));
    for (int k = 0; k < 6; ++k)
        expect(rig.sample(k) == 100 + k, QStringLiteral("sample %1 changed").arg(k));
    expect(rig.form.drawing.strokes.size() == 12, QStringLiteral("the curve changed")); // two a reading
    expect(rig.messages.texts.endsWith(QStringLiteral("Vone Stoped")), rig.messages.texts.join(u'|'));
    const auto &topics = rig.messages.noticeTopics;
    expect(std::count(topics.begin(), topics.end(), MessageService::Topic::Journal) == notices,
           QStringLiteral("notices: ") + rig.messages.notices.join(u'|'));
    QTemporaryDir elsewhere;
    rig.files.answers << elsewhere.filePath(QStringLiteral("run.dbf"));
    savefile_Click(rig.c);
    expect(rig.messages.texts.last() == u"OK", QStringLiteral("Save failed"));
    const QByteArray saved = readFile(elsewhere.filePath(QStringLiteral("run.dbf")));
    if (ends)
        expect(readFile(runs + u'/' + rig.journals().value(0)) == saved, QStringLiteral("ended unlike Save"));
    return wrong.join(QStringLiteral("; "));
}

} // namespace

class TestJournal : public QObject
{
    Q_OBJECT

private slots:
    void journalSurvivesFaultsAndEndsAsSave_data();
    void journalSurvivesFaultsAndEndsAsSave();
    void runsAreNamedApartAndKeepTheirs();
    void openListsTheRunsFolder();
};

void TestJournal::journalSurvivesFaultsAndEndsAsSave_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("notices");
    QTest::addColumn<bool>("whole"); // each second kept as it closes
    QTest::addColumn<bool>("ends"); // at the end what Save writes
    QTest::newRow("none") << "" << 0 << true << true;
    QTest::newRow("folder removed during the run") << "removed" << 0 << true << true;
    QTest::newRow("a Run inside the run that cannot start") << "run" << 0 << true << true;
    QTest::newRow("full disk (file size limit) until second 4") << "full" << 1 << false << true;
    QTest::newRow("no writable home") << "home" << 1 << false << false;
    QTest::newRow("hung folder (a pipe for the temporary)") << "hung" << 0 << false << false;
    QTest::newRow("read-only file system") << "read-only" << 1 << false << false;
}

void TestJournal::journalSurvivesFaultsAndEndsAsSave()
{
    QFETCH(QString, kind);
    QTemporaryDir dir;
    QString runs = dir.filePath(QStringLiteral("runs"));
    std::unique_ptr<FileSizeLimit> limit;
    Fault fault;
    if (kind == u"removed")
        fault = [&](bool make, Rig &) { make &&QDir(runs).removeRecursively(); };
    if (kind == u"full")
        fault = [&](bool make, Rig &) { limit.reset(make ? new FileSizeLimit(80) : nullptr); };
    if (kind == u"run") // its stamp is taken, but the start byte cannot go out
        fault = [](bool make, Rig &rig) {
            if (make) {
                rig.line.failWritesAfter = 0;
                rig.world.after(300, [&rig] { from8031_Click(rig.c); });
                rig.world.after(400, [&rig] { rig.line.failWritesAfter = -1; });
            }
        };
    if (kind == u"home") { // the data folder lies under a file
        QVERIFY(testfiles::writeFile(dir.filePath(QStringLiteral("home")), "x"));
        runs = dir.filePath(QStringLiteral("home/orvalen/runs"));
    }
    if (kind == u"hung") { // opening it waits for a reader that never comes
        QVERIFY(QDir().mkpath(runs));
        const QString pipe = runs + QStringLiteral("/.2024-05-09_14-03-27.%1-1.part").arg(getpid());
        QCOMPARE(mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    }
    if (kind == u"read-only") { // mounted so in a mount namespace of a child's own
        QVERIFY(QDir().mkpath(runs));
        const pid_t pid = fork();
        if (pid == 0) {
            alarm(60);
            if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
                || mount("tmpfs", QFile::encodeName(runs).constData(), "tmpfs", MS_RDONLY, nullptr) != 0)
                _exit(77);
            const QString wrong = faultyRun(runs, fault, false);
            if (!wrong.isEmpty())
                std::fprintf(stderr, "%s\n", qPrintable(wrong));
            _exit(wrong.isEmpty() ? 0 : 1);
        }
        int status = 0;
        QCOMPARE(waitpid(pid, &status, 0), pid);
        if (WIFEXITED(status) && WEXITSTATUS(status) == 77)
            QSKIP("no mount namespace here");
        QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        return;
    }
    const QString wrong = faultyRun(runs, fault, kind == u"hung");
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
}

void TestJournal::runsAreNamedApartAndKeepTheirs()
{
    // Runs chosen inside runs, three a second: the first without a reading.
    QTemporaryDir dir;
    JournalRig rig(dir.filePath(QStringLiteral("runs")));
    constexpr int kRuns = 300;
    int runs = 0;
    const auto handles = [] { return QDir(QStringLiteral("/proc/self/fd")).count(); };
    qsizetype handlesBefore = 0;
    rig.onRunStart = [&](qint64 t) {
        if (runs > 0)
            rig.frameAt(t + 100, 100 + runs);
        if (++runs < kRuns)
            rig.world.at(t + 330, [&rig] { from8031_Click(rig.c); });
        rig.world.at(t + 300, [&] {
            QVERIFY(rig.settle());
            if (runs == 2)
                handlesBefore = handles();
        });
    };
    rig.run([&rig] { from8031_Click(rig.c); });
    QVERIFY(rig.settle());
    QCOMPARE(runs, kRuns);
    QCOMPARE(handles(), handlesBefore);
    const QStringList names = rig.journals();
    QCOMPARE(names.size(), kRuns - 1);
    QVERIFY(names.contains(QStringLiteral("2024-05-09_14-03-27.dbf")));
    QVERIFY(names.contains(QStringLiteral("2024-05-09_14-03-27-2.dbf")));
    for (const QString &name : names) {
        const RecordContent r = rig.read(name);
        std::array<LooseValue, 6> stamp;
        std::copy(r.stamp.begin(), r.stamp.end(), stamp.begin());
        QVERIFY2(r.complete() && name.startsWith(RunJournal::nameOf(stamp)), qPrintable(name));
    }
}

void TestJournal::openListsTheRunsFolder()
{
    QTemporaryDir runs;
    QWidget *parent = nullptr;
    QtFileDialog files(parent);
    files.setNative(false);
    files.setOpenPlace(runs.path());
    bool listed = false;
    QTimer::singleShot(0, [&] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        listed = dialog->sidebarUrls().contains(QUrl::fromLocalFile(runs.path()));
        dialog->reject();
    });
    QCOMPARE(files.openFileName(QString::fromLatin1(kRecordFilter), kRecordFilterSelected), QString());
    QVERIFY(listed);
}

QTEST_MAIN(TestJournal)
#include "test_journal.moc"
