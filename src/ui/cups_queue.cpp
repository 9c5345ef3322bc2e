#include "cups_queue.h"

#include <cups/cups.h>

#include <QElapsedTimer>
#include <QStringList>

#include <iterator>
#include <utility>

namespace {

using GiveUp = PageDevice::GiveUp;
using Connection = std::unique_ptr<http_t, void (*)(http_t *)>;
using Answer = std::unique_ptr<ipp_t, void (*)(ipp_t *)>;

int keepWaiting(http_t * /*http*/, void *giveUp) { return (*static_cast<const GiveUp *>(giveUp))() ? 0 : 1; }

// A connection of our own to the print server, whose every wait asks
// `giveUp` a few times a second: the connection CUPS keeps for each thread
// waits a minute at a time. Empty where nobody listens, or when the caller
// gave up. `giveUp` must outlive the connection.
Connection connectTo(const GiveUp &giveUp)
{
    constexpr int kAttemptMs = 250;
    for (;;) {
        QElapsedTimer attempt;
        attempt.start();
        if (http_t *http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                                        kAttemptMs, nullptr)) {
            httpSetTimeout(http, kAttemptMs / 1000.0, keepWaiting, const_cast<GiveUp *>(&giveUp));
            return {http, httpClose};
        }
        // Refused at once: nobody listens. Unanswered: try until given up.
        if (attempt.elapsed() < kAttemptMs * 4 / 5 || giveUp())
            return {nullptr, httpClose};
    }
}

Answer request(http_t *http, ipp_t *request)
{
    Answer answer(cupsDoRequest(http, request, "/"), ippDelete);
    if (cupsLastError() > IPP_STATUS_OK_EVENTS_COMPLETE)
        answer.reset();
    return answer;
}

// Whether the last request had an answer from the server, even a refusal,
// rather than failing on the way (a server that kept quiet, a connection lost).
bool answered() { return cupsLastError() < IPP_STATUS_ERROR_INTERNAL; }

QString textOf(ipp_t *answer, const char *name)
{
    ipp_attribute_t *a = ippFindAttribute(answer, name, IPP_TAG_TEXT);
    return a ? QString::fromUtf8(ippGetString(a, 0, nullptr)) : QString();
}

// State reasons, less those that only say the server is at work.
QStringList keywordsOf(ipp_t *answer, const char *name)
{
    static const QStringList kBusy{QStringLiteral("none"),         QStringLiteral("processing-to-stop-point"),
                                   QStringLiteral("job-printing"), QStringLiteral("job-queued"),
                                   QStringLiteral("job-incoming"), QStringLiteral("job-transforming")};
    QStringList words;
    if (ipp_attribute_t *a = ippFindAttribute(answer, name, IPP_TAG_KEYWORD))
        for (int i = 0; i < ippGetCount(a); ++i)
            if (const QString w = QString::fromUtf8(ippGetString(a, i, nullptr)); !kBusy.contains(w))
                words << w;
    return words;
}

struct Queue
{
    bool known = false;
    bool accepting = true;
    bool stopped = false;
    QString message; // the printer's state message, or else its state reasons
};

Queue queueOf(http_t *http, const QByteArray &name)
{
    Queue q;
    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", ippPort(),
                     "/printers/%s", name.constData());
    ipp_t *ask = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    ippAddString(ask, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
    static const char *const wanted[] = {"printer-is-accepting-jobs", "printer-state",
                                         "printer-state-message", "printer-state-reasons"};
    ippAddStrings(ask, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", int(std::size(wanted)),
                  nullptr, wanted);
    const Answer answer = request(http, ask);
    if (!answer)
        return q;
    q.known = true;
    if (ipp_attribute_t *a = ippFindAttribute(answer.get(), "printer-is-accepting-jobs", IPP_TAG_BOOLEAN))
        q.accepting = ippGetBoolean(a, 0);
    if (ipp_attribute_t *a = ippFindAttribute(answer.get(), "printer-state", IPP_TAG_ENUM))
        q.stopped = ippGetInteger(a, 0) == IPP_PSTATE_STOPPED;
    q.message = textOf(answer.get(), "printer-state-message");
    if (q.message.isEmpty())
        q.message = keywordsOf(answer.get(), "printer-state-reasons").join(QStringLiteral(", "));
    return q;
}

QString withMessage(const QString &text, const QString &message)
{
    return message.isEmpty() ? text + u'.' : QStringLiteral("%1 (%2).").arg(text, message);
}

class CupsJob : public PageDevice::Job
{
public:
    CupsJob(const QString &printer, const QString &title)
        : m_printer(printer),
          // A destination "name/instance" is an instance of the queue "name".
          m_queue(printer.section(u'/', 0, 0).toUtf8()),
          m_title(title.toUtf8()),
          m_submitted(cupsLastError()),
          m_submittedText(QString::fromUtf8(cupsLastErrorString()))
    {}

    Look look(const GiveUp &giveUp) override
    {
        const Connection http = connectTo(giveUp);
        if (!http)
            return {};
        if (m_id == 0) {
            // Only this user's jobs: others' titles may be hidden from us anyway.
            cups_job_t *jobs = nullptr;
            const int count = cupsGetJobs2(http.get(), &jobs, m_queue.constData(), 1, CUPS_WHICHJOBS_ALL);
            for (int i = 0; i < count; ++i)
                if (jobs[i].title && m_title == jobs[i].title)
                    m_id = jobs[i].id;
            cupsFreeJobs(count, jobs);
            if (count <= 0 && !answered())
                return {}; // ask again later
            if (m_id == 0) {
                const Queue queue = queueOf(http.get(), m_queue);
                return answered() ? Look{true, withoutJob(queue)} : Look{};
            }
        }
        return lookAtJob(http.get());
    }

private:
    // No job: the queue refused it, or it is gone already.
    QString withoutJob(const Queue &queue) const
    {
        if (!queue.known)
            return QStringLiteral("the printer %1 is not known to the print system.").arg(m_printer);
        if (!queue.accepting)
            return withMessage(QStringLiteral("the printer %1 refuses jobs").arg(m_printer), queue.message);
        if (m_submitted > IPP_STATUS_OK_EVENTS_COMPLETE)
            return withMessage(QStringLiteral("the print system refused the job"), m_submittedText);
        return {}; // taken, and already printed and forgotten
    }

    Look lookAtJob(http_t *http)
    {
        char uri[HTTP_MAX_URI];
        httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", ippPort(),
                         "/jobs/%d", m_id);
        ipp_t *ask = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
        ippAddString(ask, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr, uri);
        ippAddString(ask, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
        static const char *const wanted[] = {"job-state", "job-state-reasons", "job-printer-state-message"};
        ippAddStrings(ask, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", int(std::size(wanted)),
                      nullptr, wanted);
        const Answer answer = request(http, ask);
        if (!answer)
            return {answered(), {}}; // a job the server has forgotten is over
        ipp_attribute_t *stateAttribute = ippFindAttribute(answer.get(), "job-state", IPP_TAG_ENUM);
        const int state = stateAttribute ? ippGetInteger(stateAttribute, 0) : 0;
        // The server's reason: what the printer last said about the job,
        // then why the job is in its state.
        QStringList reasons = keywordsOf(answer.get(), "job-state-reasons");
        if (const QString said = textOf(answer.get(), "job-printer-state-message"); !said.isEmpty())
            reasons.prepend(said);
        const QString reason = reasons.join(QStringLiteral("; "));
        // The server may mark a job ended a moment before it gives the
        // reason: an end without one is looked at once more before it is told.
        const bool ended = state == IPP_JSTATE_CANCELED || state == IPP_JSTATE_ABORTED;
        if (ended && reason.isEmpty() && !std::exchange(m_askedForReason, true))
            return {};

        switch (state) {
        case IPP_JSTATE_COMPLETED: return {true, {}};
        case IPP_JSTATE_CANCELED:
            return {true, withMessage(QStringLiteral("the job was cancelled in the queue of the printer %1")
                                              .arg(m_printer),
                                      reason)};
        case IPP_JSTATE_ABORTED:
            return {true,
                    withMessage(QStringLiteral("the printer %1 aborted the job").arg(m_printer), reason)};
        case IPP_JSTATE_HELD:
            return {false,
                    once(state, withMessage(QStringLiteral("the job is held in the queue of the printer %1")
                                                    .arg(m_printer),
                                            reason))};
        case IPP_JSTATE_STOPPED:
            return {false,
                    once(state, withMessage(QStringLiteral("the printer %1 stopped the job").arg(m_printer),
                                            reason))};
        case IPP_JSTATE_PENDING:
            if (const Queue queue = queueOf(http, m_queue); queue.stopped)
                return {false,
                        once(state,
                             withMessage(
                                     QStringLiteral("the printer %1 is stopped; the page waits in its queue")
                                             .arg(m_printer),
                                     queue.message))};
            break;
        default: break;
        }
        m_told = 0; // under way again: a new halt is news
        return {};
    }

    // Each halt of the job is told once, however long it lasts.
    QString once(int state, const QString &problem)
    {
        if (m_told == state)
            return {};
        m_told = state;
        return problem;
    }

    QString m_printer;
    QByteArray m_queue;
    QByteArray m_title;
    ipp_status_t m_submitted;
    QString m_submittedText;
    int m_id = 0;
    int m_told = 0; // the job state last told
    bool m_askedForReason = false;
};

} // namespace

bool cupsServerAnswers(const GiveUp &giveUp)
{
    const Connection http = connectTo(giveUp);
    if (!http)
        return !giveUp();
    ipp_t *ask = ippNewRequest(IPP_OP_CUPS_GET_DEFAULT);
    ippAddString(ask, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr, "printer-name");
    ippDelete(cupsDoRequest(http.get(), ask, "/"));
    return !giveUp();
}

std::unique_ptr<PageDevice::Job> cupsJob(const QString &printer, const QString &title)
{
    return std::make_unique<CupsJob>(printer, title);
}
