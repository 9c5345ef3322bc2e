// Print on a real print server: a CUPS scheduler of the test's own, on
// loopback, with its own configuration, spool and port, and queues that
// accept jobs, refuse them, are stopped, take seconds over a page, or jam
// after two seconds; and a server that takes connections and never answers.
#include "ui/program.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cups/cups.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

namespace {

// A socket on a free port of 127.0.0.1, listening where asked, and its port
// (0 where none could be had).
std::pair<int, int> loopbackSocket(bool listening)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    int port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0
        && (!listening || ::listen(fd, 16) == 0)
        && ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    return {fd, port};
}

bool writeFile(const QString &path, const QByteArray &text)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(text) == text.size();
}

struct Job
{
    int id;
    QString title;
    int state;
};

QList<Job> jobsOn(const char *printer)
{
    cups_job_t *jobs = nullptr;
    const int count = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, printer, 0, CUPS_WHICHJOBS_ALL);
    QList<Job> out;
    for (int i = 0; i < count; ++i)
        out.push_back({jobs[i].id, QString::fromUtf8(jobs[i].title), int(jobs[i].state)});
    cupsFreeJobs(count, jobs);
    return out;
}

} // namespace

class TestPrintQueue : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void refusingQueueIsTold();
    void acceptingQueueTakesThePageSilently();
    void stoppedQueueIsTold();
    void jobCancelledLaterIsTold();
    void jobAbortedLaterIsTold();
    void silentServerIsToldOnceWhileTheWindowGoesOn();

private:
    QString serverLog() const;
    // Chooses Print from the menu with the given default printer.
    void print(const char *printer);
    int newJobOn(const char *printer, const QList<Job> &before) const;
    // Waits up to `ms` for a box; the texts of the boxes shown.
    QString boxes(int ms);
    // Whether one box was shown, and it says each of `parts`.
    bool oneBoxSays(std::initializer_list<const char *> parts) const;

    QTemporaryDir m_dir;
    QProcess m_cupsd;
    std::unique_ptr<Program> m_program;
    // The texts of the message boxes shown, each answered with OK.
    QStringList m_shown;
    QTimer m_answer;
};

QString TestPrintQueue::serverLog() const
{
    QFile log(m_dir.filePath(QStringLiteral("log/error_log")));
    if (!log.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(log.readAll().right(2000));
}

void TestPrintQueue::initTestCase()
{
    const QString cupsd = QStandardPaths::findExecutable(
            QStringLiteral("cupsd"), {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
    if (cupsd.isEmpty())
        QSKIP("no print server to test against: cupsd (Debian's cups-daemon) is not installed");
    QVERIFY(m_dir.isValid());
    const auto [probe, port] = loopbackSocket(false); // a port nothing listens on just now
    ::close(probe);
    if (port == 0)
        QSKIP("no free port on 127.0.0.1 for a print server");
    for (const char *sub : {"conf", "spool", "state", "cache", "log", "bin/backend"})
        QVERIFY(QDir(m_dir.path()).mkpath(QString::fromLatin1(sub)));
    const QByteArray root = m_dir.path().toUtf8();
    // The scheduler's programs, with two printers of the test's own: one
    // takes five seconds over a page, one jams after two. Mode 0700, so that a
    // scheduler run as root runs them as root, inside this private folder.
    for (const char *sub : {"daemon", "filter"})
        QVERIFY(QFile::link(QStringLiteral("/usr/lib/cups/") + QLatin1String(sub),
                            m_dir.filePath(QStringLiteral("bin/") + QLatin1String(sub))));
    const std::pair<const char *, QByteArray> backends[] = {
            {"slow", "sleep 5\n"},
            {"jam", "sleep 2\necho 'ERROR: Paper jam reported by the test' >&2\nexit 1\n"}};
    for (const auto &[name, body] : backends) {
        const QString path = m_dir.filePath(QStringLiteral("bin/backend/") + QLatin1String(name));
        QVERIFY(writeFile(path, "#!/bin/sh\n[ $# -eq 0 ] && exit 0\n" + body));
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }

    // Everything is allowed to everyone, since only this test can reach it.
    QVERIFY(writeFile(
            m_dir.filePath(QStringLiteral("conf/cupsd.conf")),
            "Listen 127.0.0.1:" + QByteArray::number(port)
                    + "\n"
                      "ServerName 127.0.0.1\n"
                      "LogLevel info\n"
                      "Browsing No\n"
                      "BrowseLocalProtocols none\n"
                      "WebInterface No\n"
                      "DefaultAuthType None\n"
                      "PreserveJobFiles Yes\n"
                      "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
                      "<Policy default>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n"));
    QByteArray files = "ServerRoot " + root
                       + "/conf\n"
                         "RequestRoot "
                       + root
                       + "/spool\n"
                         "TempDir "
                       + root
                       + "/spool\n"
                         "StateDir "
                       + root
                       + "/state\n"
                         "CacheDir "
                       + root
                       + "/cache\n"
                         "ErrorLog "
                       + root
                       + "/log/error_log\n"
                         "AccessLog "
                       + root
                       + "/log/access_log\n"
                         "PageLog "
                       + root
                       + "/log/page_log\n"
                         "ServerBin "
                       + root
                       + "/bin\n"
                         "Sandboxing Relaxed\n";
    if (::geteuid() != 0) // a scheduler of one's own runs as oneself
        files += "User " + qgetenv("USER") + "\n";
    QVERIFY(writeFile(m_dir.filePath(QStringLiteral("conf/cups-files.conf")), files));
    // Raw queues: the scheduler keeps the page as it came, no filters needed.
    QVERIFY(writeFile(
            m_dir.filePath(QStringLiteral("conf/printers.conf")),
            "<DefaultPrinter refusing>\nDeviceURI file:/dev/null\nState Idle\n"
            "StateMessage Out of paper, come back later\nAccepting No\nShared No\n</DefaultPrinter>\n"
            "<Printer accepting>\nDeviceURI file:/dev/null\nState Idle\nAccepting Yes\n"
            "Shared No\n</Printer>\n"
            "<Printer stopped>\nDeviceURI file:/dev/null\nState Stopped\n"
            "StateMessage Paused by the test\nAccepting Yes\nShared No\n</Printer>\n"
            "<Printer slow>\nDeviceURI slow:/\nState Idle\nAccepting Yes\nShared No\n</Printer>\n"
            "<Printer jamming>\nDeviceURI jam:/\nState Idle\nErrorPolicy abort-job\nAccepting Yes\n"
            "Shared No\n</Printer>\n"));

    m_cupsd.setProcessChannelMode(QProcess::MergedChannels);
    m_cupsd.start(cupsd, {QStringLiteral("-f"), QStringLiteral("-c"),
                          m_dir.filePath(QStringLiteral("conf/cupsd.conf")), QStringLiteral("-s"),
                          m_dir.filePath(QStringLiteral("conf/cups-files.conf"))});
    if (!m_cupsd.waitForStarted(5000))
        QSKIP(qPrintable(QStringLiteral("the print server did not start: %1").arg(m_cupsd.errorString())));

    // The program and this test talk only to this server.
    const QByteArray server = "127.0.0.1:" + QByteArray::number(port);
    qputenv("CUPS_SERVER", server);
    cupsSetServer(server.constData());
    QElapsedTimer clock;
    clock.start();
    bool up = false;
    while (!up && clock.elapsed() < 10000 && m_cupsd.state() == QProcess::Running) {
        if (http_t *http = httpConnect2("127.0.0.1", port, nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1, 500,
                                        nullptr)) {
            httpClose(http);
            up = jobsOn("accepting").isEmpty() && cupsLastError() <= IPP_STATUS_OK_EVENTS_COMPLETE;
        }
        if (!up)
            QTest::qWait(100);
    }
    if (!up)
        QSKIP(qPrintable(QStringLiteral("the print server did not come up: %1 %2")
                                 .arg(QString::fromLocal8Bit(m_cupsd.readAll()), serverLog())));
}

void TestPrintQueue::cleanupTestCase()
{
    if (m_cupsd.state() != QProcess::NotRunning) {
        m_cupsd.terminate();
        if (!m_cupsd.waitForFinished(10000))
            m_cupsd.kill();
        m_cupsd.waitForFinished(5000);
    }
}

void TestPrintQueue::init()
{
    Program::Options options;
    options.port1 = QStringLiteral("/dev/orvalen-test-absent-1");
    options.port2 = QStringLiteral("/dev/orvalen-test-absent-2");
    options.printing = {.answerMs = 1500, .followMs = 30000, .lookMs = 200};
    m_program = std::make_unique<Program>(options);
    m_program->show();
    SharedState &s = m_program->context().state;
    s.stageTemp[1] = "150";
    for (int k = 1; k <= 100; ++k)
        s.samples[std::size_t(k)] = 25 + k;
    m_shown.clear();
    m_answer.callOnTimeout(this, [this] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            m_shown << box->text();
            box->accept();
        }
    });
    m_answer.start(20);
}

void TestPrintQueue::cleanup()
{
    m_answer.stop();
    m_answer.disconnect();
    m_program.reset();
    qunsetenv("LPDEST");
}

void TestPrintQueue::print(const char *printer)
{
    qputenv("LPDEST", printer);
    m_program->form().findChild<QAction *>(QStringLiteral("printpaper"))->trigger();
}

QString TestPrintQueue::boxes(int ms)
{
    static_cast<void>(QTest::qWaitFor([this] { return !m_shown.isEmpty(); }, ms));
    return m_shown.join(u'|');
}

bool TestPrintQueue::oneBoxSays(std::initializer_list<const char *> parts) const
{
    return m_shown.size() == 1 && std::all_of(parts.begin(), parts.end(), [this](const char *p) {
               return m_shown[0].contains(QString::fromUtf8(p));
           });
}

int TestPrintQueue::newJobOn(const char *printer, const QList<Job> &before) const
{
    for (const Job &j : jobsOn(printer))
        if (std::none_of(before.begin(), before.end(), [&](const Job &b) { return b.id == j.id; }))
            return j.id;
    return 0;
}

void TestPrintQueue::refusingQueueIsTold()
{
    print("refusing");
    const QString box = boxes(10000); // with the queue's reason
    QVERIFY2(oneBoxSays({"not printed", "refusing refuses jobs", "Out of paper"}), qPrintable(box));
    QVERIFY(jobsOn("refusing").isEmpty());
}

void TestPrintQueue::acceptingQueueTakesThePageSilently()
{
    const QList<Job> before = jobsOn("accepting");
    print("accepting");
    QTRY_VERIFY_WITH_TIMEOUT(newJobOn("accepting", before) != 0, 10000);
    const Job job = jobsOn("accepting").back();
    QTRY_VERIFY_WITH_TIMEOUT(jobsOn("accepting").back().state == IPP_JSTATE_COMPLETED, 10000);
    QTest::qWait(1000); // the program's look after the last
    QVERIFY2(m_shown.isEmpty(), qPrintable(m_shown.join(u'\n')));
    QVERIFY2(job.title.startsWith(QStringLiteral("ORVALEN REFLOW PROFILE")), qPrintable(job.title));
    // The page itself arrived: the scheduler kept the document it was sent.
    QFile document(m_dir.filePath(QStringLiteral("spool/d%1-001").arg(job.id, 5, 10, QLatin1Char('0'))));
    QVERIFY2(document.open(QIODevice::ReadOnly), qPrintable(document.fileName() + u' ' + serverLog()));
    QVERIFY(document.read(5) == "%PDF-");
    QVERIFY(document.size() > 1000);
}

void TestPrintQueue::stoppedQueueIsTold()
{
    const int before = int(jobsOn("stopped").size());
    print("stopped");
    const QString box = boxes(10000);
    QVERIFY2(oneBoxSays({"stopped is stopped; the page waits in its queue", "Paused by the test"}),
             qPrintable(box));
    const QList<Job> after = jobsOn("stopped");
    QCOMPARE(int(after.size()), before + 1); // the page is not lost: it waits
    QCOMPARE(after.back().state, int(IPP_JSTATE_PENDING));
    QTest::qWait(1000); // followed, but the same halt is not told again
    QCOMPARE(m_shown.size(), 1);
}

void TestPrintQueue::jobCancelledLaterIsTold()
{
    const QList<Job> before = jobsOn("slow");
    print("slow");
    int id = 0;
    QTRY_VERIFY_WITH_TIMEOUT((id = newJobOn("slow", before)) != 0, 10000);
    QTest::qWait(2000); // printing, looked at and found well
    QVERIFY2(m_shown.isEmpty(), qPrintable(m_shown.join(u'\n')));
    QCOMPARE(cupsCancelJob2(CUPS_HTTP_DEFAULT, "slow", id, 0), IPP_STATUS_OK);
    const QString box = boxes(10000);
    QVERIFY2(oneBoxSays({"not printed: the job was cancelled in the queue of the printer slow",
                         "job-canceled-by-user"}),
             qPrintable(box));
}

void TestPrintQueue::jobAbortedLaterIsTold()
{
    print("jamming");
    const QString box = boxes(15000);
    QVERIFY2(oneBoxSays(
                     {"not printed: the printer jamming aborted the job", "Paper jam reported by the test"}),
             qPrintable(box));
    QCOMPARE(jobsOn("jamming").back().state, int(IPP_JSTATE_ABORTED));
}

void TestPrintQueue::silentServerIsToldOnceWhileTheWindowGoesOn()
{
    // Connections are taken (the system completes them) and never read.
    const auto [fd, port] = loopbackSocket(true);
    const auto closing = qScopeGuard([fd = fd, server = qgetenv("CUPS_SERVER")] {
        ::close(fd);
        qputenv("CUPS_SERVER", server);
    });
    QVERIFY(port != 0);
    qputenv("CUPS_SERVER", "127.0.0.1:" + QByteArray::number(port));
    int ticks = 0;
    QTimer window;
    window.callOnTimeout([&] { ++ticks; });
    window.start(50);
    print("accepting");
    QVERIFY(m_shown.isEmpty()); // Print has returned before any answer
    const QString box = boxes(10000);
    QVERIFY2(oneBoxSays({"not printed: the print server did not answer within 1.5 seconds"}),
             qPrintable(box));
    QVERIFY2(ticks >= 10, qPrintable(QString::number(ticks))); // the window's own timer went on
    QTest::qWait(3000);
    QCOMPARE(m_shown.size(), 1);
    // Chosen again and the program ended while it waits: nothing hangs.
    print("accepting");
}

QTEST_MAIN(TestPrintQueue)
#include "test_print_queue.moc"
