#pragma once

#include "page_device.h"
#include "print_surface.h"

#include <QPainter>
#include <QPdfWriter>

#include <memory>

// Prints the report into a PDF file instead of onto paper: for demonstrations,
// tests and benchmarks.
class PdfPrinter : public PageDevice
{
public:
    explicit PdfPrinter(QString fileName);
    ~PdfPrinter() override;

    Outcome<PrintSurface *> beginDocument() override;
    Status endDocument() override;

private:
    QString m_fileName;
    std::unique_ptr<QPdfWriter> m_writer;
    std::unique_ptr<QPainter> m_painter;
    std::unique_ptr<PainterPrintSurface> m_surface;
};
