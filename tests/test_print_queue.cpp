// Print on a real print server: a CUPS scheduler of the test's own, on
// loopback, with its own configuration, spool and port, and three queues:
// one that accepts jobs, one that refuses them and one that is stopped.
#include "ui/program.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QProcess>
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

// A port on 127.0.0.1 that nothing listens on just now.
int freeLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return 0;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    ::close(fd);
    return port;
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

private:
    QString serverLog() const;
    // Chooses Print from the menu with the given default printer; returns the
    // texts of the message boxes shown meanwhile.
    QStringList print(const char *printer);

    QTemporaryDir m_dir;
    QProcess m_cupsd;
    std::unique_ptr<Program> m_program;
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
    const int port = freeLoopbackPort();
    if (port == 0)
        QSKIP("no free port on 127.0.0.1 for a print server");
    for (const char *sub : {"conf", "spool", "state", "cache", "log"})
        QVERIFY(QDir(m_dir.path()).mkpath(QString::fromLatin1(sub)));
    const QByteArray root = m_dir.path().toUtf8();

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
            "StateMessage Paused by the test\nAccepting Yes\nShared No\n</Printer>\n"));

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
    m_program = std::make_unique<Program>(options);
    m_program->show();
    SharedState &s = m_program->context().state;
    s.stageTemp[1] = "150";
    for (int k = 1; k <= 100; ++k)
        s.samples[std::size_t(k)] = 25 + k;
}

void TestPrintQueue::cleanup()
{
    m_program.reset();
    qunsetenv("LPDEST");
}

QStringList TestPrintQueue::print(const char *printer)
{
    qputenv("LPDEST", printer);
    QStringList shown;
    QTimer answer;
    connect(&answer, &QTimer::timeout, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            shown << box->text();
            box->accept();
        }
    });
    answer.start(20);
    m_program->form().findChild<QAction *>(QStringLiteral("printpaper"))->trigger();
    return shown;
}

void TestPrintQueue::refusingQueueIsTold()
{
    const QStringList shown = print("refusing");
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown[0].contains(QStringLiteral("not printed")), qPrintable(shown[0]));
    QVERIFY2(shown[0].contains(QStringLiteral("refusing refuses jobs")), qPrintable(shown[0]));
    QVERIFY2(shown[0].contains(QStringLiteral("Out of paper")), qPrintable(shown[0])); // the queue's reason
    QVERIFY(jobsOn("refusing").isEmpty());
}

void TestPrintQueue::acceptingQueueTakesThePageSilently()
{
    const QList<Job> before = jobsOn("accepting");
    const QStringList shown = print("accepting");
    QVERIFY2(shown.isEmpty(), qPrintable(shown.join(u'\n')));
    QList<Job> added = jobsOn("accepting");
    added.removeIf([&](const Job &j) {
        return std::any_of(before.begin(), before.end(), [&](const Job &b) { return b.id == j.id; });
    });
    QCOMPARE(added.size(), 1);
    const Job &job = added.front();
    QVERIFY2(job.title.startsWith(QStringLiteral("ORVALEN REFLOW PROFILE")), qPrintable(job.title));
    QVERIFY(job.state != IPP_JSTATE_CANCELED && job.state != IPP_JSTATE_ABORTED);
    // The page itself arrived: the scheduler kept the document it was sent.
    QFile document(m_dir.filePath(QStringLiteral("spool/d%1-001").arg(job.id, 5, 10, QLatin1Char('0'))));
    QVERIFY2(document.open(QIODevice::ReadOnly), qPrintable(document.fileName() + u' ' + serverLog()));
    QVERIFY(document.read(5) == "%PDF-");
    QVERIFY(document.size() > 1000);
}

void TestPrintQueue::stoppedQueueIsTold()
{
    const int before = int(jobsOn("stopped").size());
    const QStringList shown = print("stopped");
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown[0].contains(QStringLiteral("stopped is stopped; the page waits in its queue")),
             qPrintable(shown[0]));
    QVERIFY2(shown[0].contains(QStringLiteral("Paused by the test")), qPrintable(shown[0]));
    const QList<Job> after = jobsOn("stopped");
    QCOMPARE(int(after.size()), before + 1); // the page is not lost: it waits
    QCOMPARE(after.back().state, int(IPP_JSTATE_PENDING));
}

QTEST_MAIN(TestPrintQueue)
#include "test_print_queue.moc"
