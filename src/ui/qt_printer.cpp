#include "qt_printer.h"

#include <QPrinterInfo>

PrintSurface *QtPrinterService::beginDocument(QString &error)
{
    m_surface.reset();
    m_painter.reset();
    const QPrinterInfo info = QPrinterInfo::defaultPrinter();
    if (info.isNull()) {
        // Without one, QPrinter would quietly fall back to a PDF nobody asked for.
        error = QStringLiteral("no default printer is set up on this computer.");
        return nullptr;
    }
    m_printer = std::make_unique<QPrinter>(info, QPrinter::HighResolution);
    m_painter = std::make_unique<QPainter>();
    if (!m_painter->begin(m_printer.get())) {
        error = QStringLiteral("the printer %1 cannot be used.").arg(info.printerName());
        m_painter.reset();
        m_printer.reset();
        return nullptr;
    }
    m_surface = std::make_unique<PainterPrintSurface>(*m_painter, m_printer->resolution());
    return m_surface.get();
}

bool QtPrinterService::endDocument(QString &error)
{
    m_surface.reset();
    bool ok = m_painter && m_painter->end();
    if (m_printer && m_printer->printerState() == QPrinter::Error)
        ok = false;
    if (!ok)
        error = QStringLiteral("the printer %1 reported an error; the page was abandoned.")
                        .arg(m_printer ? m_printer->printerName() : QString());
    m_painter.reset();
    m_printer.reset();
    return ok;
}
