#include "qt_printer.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QPrinterInfo>

#ifdef ORVALEN_CUPS
#include "cups_queue.h"
#endif

namespace {

// A job title of this page alone, so that its job can be found in the queue.
QString uniqueJobTitle()
{
    return QStringLiteral("ORVALEN REFLOW PROFILE %1 (%2)")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")))
            .arg(QCoreApplication::applicationPid());
}

} // namespace

bool SystemPrinter::answers(const GiveUp &giveUp)
{
#ifdef ORVALEN_CUPS
    return cupsServerAnswers(giveUp);
#else
    (void)giveUp;
    return true;
#endif
}

Outcome<PrintSurface *> SystemPrinter::beginDocument()
{
    m_ended.reset();
    m_surface.reset();
    m_painter.reset();
    const QPrinterInfo info = QPrinterInfo::defaultPrinter();
    if (info.isNull()) {
        // Without one, QPrinter would quietly fall back to a PDF nobody asked for.
        return Outcome<PrintSurface *>::failure(
                QStringLiteral("no default printer is set up on this computer."));
    }
    m_printer = std::make_unique<QPrinter>(info, QPrinter::HighResolution);
    m_printer->setDocName(uniqueJobTitle());
    m_painter = std::make_unique<QPainter>();
    if (!m_painter->begin(m_printer.get())) {
        m_painter.reset();
        m_printer.reset();
        return Outcome<PrintSurface *>::failure(
                QStringLiteral("the printer %1 cannot be used.").arg(info.printerName()));
    }
    m_surface = std::make_unique<PainterPrintSurface>(*m_painter, m_printer->resolution());
    return m_surface.get();
}

Status SystemPrinter::endDocument()
{
    m_surface.reset();
    bool ok = m_painter && m_painter->end();
    if (m_printer && m_printer->printerState() == QPrinter::Error)
        ok = false;
    const QString printer = m_printer ? m_printer->printerName() : QString();
#ifdef ORVALEN_CUPS
    // Qt hands the page to CUPS and keeps quiet about the answer: a queue
    // that refuses jobs would lose the page in silence.
    if (ok && m_printer->outputFormat() == QPrinter::NativeFormat)
        m_ended = cupsJob(printer, m_printer->docName());
#endif
    m_painter.reset();
    m_printer.reset();
    if (!ok)
        return Status::failure(
                QStringLiteral("the printer %1 reported an error; the page was abandoned.").arg(printer));
    return Done{};
}

std::unique_ptr<PageDevice::Job> SystemPrinter::endedJob() { return std::move(m_ended); }
