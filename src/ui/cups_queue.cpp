#include "cups_queue.h"

#include <cups/cups.h>

#include <QStringList>

#include <iterator>
#include <memory>

namespace {

struct Queue
{
    bool known = false;
    bool accepting = true;
    bool stopped = false;
    QString message; // the printer's state message, or else its state reasons
};

Queue queueOf(const QByteArray &name)
{
    Queue q;
    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", ippPort(),
                     "/printers/%s", name.constData());
    ipp_t *request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
    static const char *const wanted[] = {"printer-is-accepting-jobs", "printer-state",
                                         "printer-state-message", "printer-state-reasons"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", int(std::size(wanted)),
                  nullptr, wanted);
    std::unique_ptr<ipp_t, void (*)(ipp_t *)> answer(cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/"),
                                                     ippDelete);
    if (!answer || cupsLastError() > IPP_STATUS_OK_EVENTS_COMPLETE)
        return q;
    q.known = true;
    if (ipp_attribute_t *a = ippFindAttribute(answer.get(), "printer-is-accepting-jobs", IPP_TAG_BOOLEAN))
        q.accepting = ippGetBoolean(a, 0);
    if (ipp_attribute_t *a = ippFindAttribute(answer.get(), "printer-state", IPP_TAG_ENUM))
        q.stopped = ippGetInteger(a, 0) == IPP_PSTATE_STOPPED;
    if (ipp_attribute_t *a = ippFindAttribute(answer.get(), "printer-state-message", IPP_TAG_TEXT))
        q.message = QString::fromUtf8(ippGetString(a, 0, nullptr));
    if (ipp_attribute_t *a = ippFindAttribute(answer.get(), "printer-state-reasons", IPP_TAG_KEYWORD);
        a && q.message.isEmpty()) {
        QStringList reasons;
        for (int i = 0; i < ippGetCount(a); ++i)
            reasons << QString::fromUtf8(ippGetString(a, i, nullptr));
        if (reasons != QStringList{QStringLiteral("none")})
            q.message = reasons.join(QStringLiteral(", "));
    }
    return q;
}

QString withMessage(const QString &text, const QString &message)
{
    return message.isEmpty() ? text + u'.' : QStringLiteral("%1 (%2).").arg(text, message);
}

} // namespace

QString cupsJobProblem(const QString &printer, const QString &title)
{
    const ipp_status_t submitted = cupsLastError();
    const QString submittedText = QString::fromUtf8(cupsLastErrorString());

    // A destination "name/instance" is an instance of the queue "name".
    const QByteArray name = printer.section(u'/', 0, 0).toUtf8();

    // Only this user's jobs: others' titles may be hidden from us anyway.
    cups_job_t *jobs = nullptr;
    const int count = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, name.constData(), 1, CUPS_WHICHJOBS_ALL);
    const QByteArray wanted = title.toUtf8();
    int state = 0;
    for (int i = 0; i < count; ++i)
        if (jobs[i].title && wanted == jobs[i].title)
            state = jobs[i].state;
    cupsFreeJobs(count, jobs);

    const Queue queue = queueOf(name);
    if (state == IPP_JSTATE_CANCELED || state == IPP_JSTATE_ABORTED)
        return withMessage(QStringLiteral("the printer %1 dropped the job").arg(printer), queue.message);
    if (state == IPP_JSTATE_HELD || state == IPP_JSTATE_STOPPED)
        return withMessage(QStringLiteral("the job is held in the queue of the printer %1").arg(printer),
                           queue.message);
    if (state != 0) {
        if (queue.stopped && state == IPP_JSTATE_PENDING)
            return withMessage(
                    QStringLiteral("the printer %1 is stopped; the page waits in its queue").arg(printer),
                    queue.message);
        return {};
    }
    // No job: the queue refused it, or it is gone already.
    if (!queue.known)
        return QStringLiteral("the printer %1 is not known to the print system.").arg(printer);
    if (!queue.accepting)
        return withMessage(QStringLiteral("the printer %1 refuses jobs").arg(printer), queue.message);
    if (submitted > IPP_STATUS_OK_EVENTS_COMPLETE)
        return withMessage(QStringLiteral("the print system refused the job"), submittedText);
    return {}; // taken, and already printed and forgotten
}
