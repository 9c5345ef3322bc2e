#pragma once

#include "report/print_surface.h"
#include "state/platform.h"

#include <QPainter>
#include <QPrinter>

#include <memory>

// The system's default printer, with no dialog.
class QtPrinterService : public PrinterService
{
public:
    Outcome<PrintSurface *> beginDocument() override;
    Status endDocument() override;

private:
    std::unique_ptr<QPrinter> m_printer;
    std::unique_ptr<QPainter> m_painter;
    std::unique_ptr<PainterPrintSurface> m_surface;
};
