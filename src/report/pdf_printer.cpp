#include "pdf_printer.h"

#include <QPageLayout>
#include <QPageSize>

PdfPrinter::PdfPrinter(QString fileName) : m_fileName(std::move(fileName)) {}

PdfPrinter::~PdfPrinter() = default;

Outcome<PrintSurface *> PdfPrinter::beginDocument()
{
    m_surface.reset();
    m_painter.reset();
    m_writer = std::make_unique<QPdfWriter>(m_fileName);
    m_writer->setResolution(1200);
    // A quarter inch all round stands for a printer's unprintable margin.
    m_writer->setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                        QMarginsF(18, 18, 18, 18), QPageLayout::Point));
    m_painter = std::make_unique<QPainter>();
    if (!m_painter->begin(m_writer.get())) {
        m_painter.reset();
        m_writer.reset();
        return Outcome<PrintSurface *>::failure(QStringLiteral("%1 cannot be written.").arg(m_fileName));
    }
    m_surface = std::make_unique<PainterPrintSurface>(*m_painter, m_writer->resolution());
    return m_surface.get();
}

Status PdfPrinter::endDocument()
{
    m_surface.reset();
    const bool ok = m_painter && m_painter->end();
    m_painter.reset();
    m_writer.reset();
    if (!ok)
        return Status::failure(QStringLiteral("%1 could not be completed.").arg(m_fileName));
    return Done{};
}
