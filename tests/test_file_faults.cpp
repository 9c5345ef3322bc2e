#include "fakes.h"
#include "file_size_limit.h"
#include "process_memory.h"
#include "test_files.h"

#include "records/record_file.h"
#include "ui/file_owners.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <optional>

namespace {

using testfiles::readFile;
using testfiles::writeFile;

void longRun(Rig &rig)
{
    SharedState &s = rig.c.state;
    s.runStamp = {2024, 5, 9, 14, 3, 27};
    s.runTicks = 501;
    for (int k = 0; k <= 510; ++k)
        s.samples[std::size_t(k)] = 100 + k % 150;
}

long peakKb() { return processStatusKb("VmHWM"); }

// Runs the check in a child process that is killed after `seconds`, so that a
// command that blocks fails the test instead of hanging it. "timed out",
// "failed" or "passed".
QString inBoundedChild(const std::function<bool()> &check, unsigned seconds)
{
    const pid_t pid = fork();
    if (pid == 0) {
        alarm(seconds);
        _exit(check() ? 0 : 1);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid)
        return QStringLiteral("not started");
    if (WIFSIGNALED(status))
        return WTERMSIG(status) == SIGALRM ? QStringLiteral("timed out") : QStringLiteral("crashed");
    return WEXITSTATUS(status) == 0 ? QStringLiteral("passed") : QStringLiteral("failed");
}

} // namespace

class TestFileFaults : public QObject
{
    Q_OBJECT

private slots:
    void failedSaveLeavesWhatWasThereAndKeepsRun_data();
    void failedSaveLeavesWhatWasThereAndKeepsRun();
    void saveOverRecordKeepsModeAndOwner_data();
    void saveOverRecordKeepsModeAndOwner();
    void gigabyteLineIsRefusedWithBoundedMemory();
    void openOfWhatIsNoFileNeverBlocks_data();
    void openOfWhatIsNoFileNeverBlocks();
};

void TestFileFaults::failedSaveLeavesWhatWasThereAndKeepsRun_data()
{
    QTest::addColumn<QString>("target");
    QTest::newRow("folder that cannot be written") << "/proc/orvalen-record.dbf";
    QTest::newRow("folder that does not exist") << "/nonexistent-orvalen/run.dbf";
    // Never a real device here: replacing one is exactly what must not happen.
    QTest::newRow("a pipe, not a file") << "fifo";
    QTest::newRow("a folder") << "folder";
    QTest::newRow("a record, on a full disk") << "full";
}

void TestFileFaults::failedSaveLeavesWhatWasThereAndKeepsRun()
{
    QFETCH(QString, target);
    QTemporaryDir dir;
    const QString kind = target;
    if (!target.startsWith(u'/'))
        target = dir.filePath(kind);
    if (kind == u"fifo")
        QCOMPARE(mkfifo(QFile::encodeName(target).constData(), 0666), 0);
    else if (kind == u"folder")
        QVERIFY(QDir().mkdir(target));
    else if (kind == u"full")
        QVERIFY(writeFile(target, QByteArray(" 2023 \r\n").repeated(20)));
    const QByteArray before = testfiles::whatIsAt(target);
    const auto entries = [&dir] {
        return QDir(dir.path())
                .entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
    };
    const QStringList entriesBefore = entries();

    Rig rig;
    longRun(rig);
    rig.files.answers << target << dir.filePath(QStringLiteral("again.dbf"));
    {
        std::optional<FileSizeLimit> full;
        if (kind == u"full")
            full.emplace(1024); // the record needs several kilobytes
        savefile_Click(rig.c);
    }
    QCOMPARE(rig.messages.texts.size(), 1);
    QVERIFY2(rig.messages.texts[0].contains(QStringLiteral("NOT saved"))
                     && rig.messages.texts[0].contains(target),
             qPrintable(rig.messages.texts[0]));
    // What was there is there as it was, and nothing was left beside it.
    QCOMPARE(testfiles::whatIsAt(target), before);
    QCOMPARE(entries(), entriesBefore);
    // The run is still in memory and saves elsewhere.
    savefile_Click(rig.c);
    QCOMPARE(rig.messages.texts.last(), QStringLiteral("OK"));
    QCOMPARE(readFile(dir.filePath(QStringLiteral("again.dbf"))).count("\r\n"), 13 + 501);
}

void TestFileFaults::saveOverRecordKeepsModeAndOwner_data()
{
    QTest::addColumn<int>("mode");
    QTest::newRow("read-only") << 0444;
    QTest::newRow("owner and group only") << 0640;
    QTest::newRow("writable by all") << 0666;
}

void TestFileFaults::saveOverRecordKeepsModeAndOwner()
{
    QFETCH(int, mode);
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("run.dbf"));
    const QByteArray name = QFile::encodeName(target);
    QVERIFY(writeFile(target, "old"));
    QCOMPARE(chmod(name.constData(), mode_t(mode)), 0);
    const bool root = geteuid() == 0;
    if (root)
        QCOMPARE(chown(name.constData(), 65534, 65534), 0); // another user's record
    Rig rig;
    longRun(rig);
    rig.files.answers << target;
    SystemFileOwners owners; // the real service in the fakes' place
    Services services = rig.c.services;
    services.owners = &owners;
    Context c(services);
    c.state = rig.c.state;
    savefile_Click(c);
    const bool writable = root || (mode & 0200) != 0; // else refused, untouched
    QCOMPARE(rig.messages.texts.last() == QStringLiteral("OK"), writable);
    QCOMPARE(readFile(target).count("\r\n"), writable ? 13 + 501 : 0);
    struct stat st
    {};
    QCOMPARE(stat(name.constData(), &st), 0);
    QCOMPARE(int(st.st_mode & 07777), mode);
    QCOMPARE(st.st_uid, root ? uid_t(65534) : geteuid());
}

void TestFileFaults::gigabyteLineIsRefusedWithBoundedMemory()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("huge.dbf"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QVERIFY(f.resize(qint64(1) << 30)); // a sparse gigabyte of NUL bytes, one line
    f.close();
    const long before = peakKb();
    Rig rig;
    rig.files.answers << path;
    openfile_Click(rig.c);
    QCOMPARE(rig.messages.texts.size(), 1);
    QVERIFY2(rig.messages.texts[0].contains(QStringLiteral("\nLine 1: the line is longer than")),
             qPrintable(rig.messages.texts[0]));
    QVERIFY2(peakKb() - before < 10 * 1024, qPrintable(QString::number(peakKb() - before)));
}

void TestFileFaults::openOfWhatIsNoFileNeverBlocks_data()
{
    QTest::addColumn<QString>("target");
    QTest::newRow("a pipe nobody writes to") << "fifo";
    QTest::newRow("an endless device") << "/dev/zero";
    QTest::newRow("a serial line that stays silent") << "pty";
    QTest::newRow("a folder") << "folder";
}

void TestFileFaults::openOfWhatIsNoFileNeverBlocks()
{
    QFETCH(QString, target);
    QTemporaryDir dir;
    int master = -1, slave = -1;
    if (target == u"fifo") {
        target = dir.filePath(QStringLiteral("fifo"));
        QCOMPARE(mkfifo(QFile::encodeName(target).constData(), 0666), 0);
    } else if (target == u"folder") {
        target = dir.filePath(QStringLiteral("folder.dbf"));
        QVERIFY(QDir().mkdir(target));
    } else if (target == u"pty") {
        char name[256] = {};
        QCOMPARE(openpty(&master, &slave, name, nullptr, nullptr), 0);
        target = QString::fromLocal8Bit(name);
    }
    const QString outcome = inBoundedChild(
            [&] {
                Rig rig;
                rig.c.state.samples[0] = 42;
                rig.files.answers << target;
                openfile_Click(rig.c);
                // Refused before anything is read, with the file named.
                return rig.messages.texts.size() == 1 && rig.messages.texts[0].contains(target)
                       && rig.messages.texts[0].contains(QStringLiteral("not a record file"))
                       && rig.form.drawing.gridLines == 0 && rig.c.state.samples[0] == LooseValue(42)
                       && rig.c.state.recordStamp[0].isEmpty();
            },
            10);
    if (master >= 0) {
        ::close(master);
        ::close(slave);
    }
    QCOMPARE(outcome, QStringLiteral("passed"));
}

QTEST_GUILESS_MAIN(TestFileFaults)
#include "test_file_faults.moc"
