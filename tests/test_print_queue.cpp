// Print on a real print server of the test's own (support/print_server.h),
// with queues that accept jobs, refuse them, are stopped, take seconds over a
// page, or jam after two seconds; and a server that takes connections and
// never answers.
#include "print_server.h"

#include "ui/program.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>

#include <cups/cups.h>

#include <unistd.h>

#include <algorithm>
#include <memory>

namespace {

struct Job
{
    int id = 0;
    QString title;
    int state = 0;
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

// The job on the printer that was not there before; id 0 while there is none.
Job newJobOn(const char *printer, const QList<Job> &before)
{
    for (const Job &j : jobsOn(printer))
        if (std::none_of(before.begin(), before.end(), [&](const Job &b) { return b.id == j.id; }))
            return j;
    return {};
}

} // namespace

class TestPrintQueue : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void queueOutcomeIsToldOnce_data();
    void queueOutcomeIsToldOnce();
    void silentServerIsToldOnceWhileTheWindowGoesOn();

private:
    // Chooses Print from the menu with the given default printer.
    void print(const char *printer);

    PrintServer m_server;
    std::unique_ptr<Program> m_program;
    QStringList m_shown; // the texts of the message boxes shown, each answered with OK
    QTimer m_answer;
};

void TestPrintQueue::initTestCase()
{
    const QString why = m_server.start();
    if (!why.isEmpty())
        QSKIP(qPrintable(why));
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

void TestPrintQueue::queueOutcomeIsToldOnce_data()
{
    QTest::addColumn<QByteArray>("printer");
    QTest::addColumn<bool>("cancel"); // by the test, once the page prints
    QTest::addColumn<QStringList>("told"); // each part of the one box; none: no box
    QTest::addColumn<int>("state"); // of the page's job; 0: no job
    QTest::newRow("printed, in silence")
            << QByteArray("accepting") << false << QStringList() << int(IPP_JSTATE_COMPLETED);
    QTest::newRow("refused, with the queue's reason")
            << QByteArray("refusing") << false
            << QStringList{"not printed", "refusing refuses jobs", "Out of paper"} << 0;
    QTest::newRow("stopped: the page waits, told once")
            << QByteArray("stopped") << false
            << QStringList{"stopped is stopped; the page waits in its queue", "Paused by the test"}
            << int(IPP_JSTATE_PENDING);
    QTest::newRow("cancelled in the queue later")
            << QByteArray("slow") << true
            << QStringList{"not printed: the job was cancelled in the queue of the printer slow",
                           "job-canceled-by-user"}
            << int(IPP_JSTATE_CANCELED);
    QTest::newRow("aborted by the printer later")
            << QByteArray("jamming") << false
            << QStringList{"not printed: the printer jamming aborted the job",
                           "Paper jam reported by the test"}
            << int(IPP_JSTATE_ABORTED);
}

// What became of the page is told in one box, or not at all where it was
// printed; a page the queue took is there whole, never lost in silence.
void TestPrintQueue::queueOutcomeIsToldOnce()
{
    QFETCH(QByteArray, printer);
    QFETCH(bool, cancel);
    QFETCH(QStringList, told);
    QFETCH(int, state);
    const char *queue = printer.constData();
    const QList<Job> before = jobsOn(queue);
    print(queue);
    Job job;
    if (state)
        QTRY_VERIFY_WITH_TIMEOUT((job = newJobOn(queue, before)).id != 0, 10000);
    if (cancel) {
        QTest::qWait(2000); // printing, looked at and found well
        QVERIFY2(m_shown.isEmpty(), qPrintable(m_shown.join(u'\n')));
        QCOMPARE(cupsCancelJob2(CUPS_HTTP_DEFAULT, queue, job.id, 0), IPP_STATUS_OK);
    }
    if (!told.isEmpty())
        QTRY_VERIFY_WITH_TIMEOUT(!m_shown.isEmpty(), 15000);
    if (state)
        QTRY_COMPARE_WITH_TIMEOUT(jobsOn(queue).back().state, state, 10000);
    QTest::qWait(1000); // still followed, but the same news is not told again
    QVERIFY2(m_shown.size() == (told.isEmpty() ? 0 : 1), qPrintable(m_shown.join(u'\n')));
    for (const QString &part : told)
        QVERIFY2(m_shown[0].contains(part), qPrintable(m_shown[0]));
    QCOMPARE(jobsOn(queue).size(), before.size() + (state ? 1 : 0));
    if (!state)
        return;
    QVERIFY2(job.title.startsWith(QStringLiteral("ORVALEN REFLOW PROFILE")), qPrintable(job.title));
    // The page itself arrived: the scheduler kept the document it was sent.
    QFile document(m_server.document(job.id));
    QVERIFY2(document.open(QIODevice::ReadOnly), qPrintable(document.fileName() + u' ' + m_server.log()));
    QVERIFY(document.read(5) == "%PDF-");
    QVERIFY(document.size() > 1000);
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
    QTRY_VERIFY_WITH_TIMEOUT(!m_shown.isEmpty(), 10000);
    QCOMPARE(m_shown.size(), 1);
    QVERIFY2(m_shown[0].contains(
                     QStringLiteral("not printed: the print server did not answer within 1.5 seconds")),
             qPrintable(m_shown[0]));
    QVERIFY2(ticks >= 10, qPrintable(QString::number(ticks))); // the window's own timer went on
    QTest::qWait(3000);
    QCOMPARE(m_shown.size(), 1);
    // Chosen again and the program ended while it waits: nothing hangs.
    print("accepting");
}

QTEST_MAIN(TestPrintQueue)
#include "test_print_queue.moc"
