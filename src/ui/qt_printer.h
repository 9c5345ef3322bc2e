#pragma once

#include "report/page_device.h"
#include "report/print_surface.h"

#include <QPainter>
#include <QPrinter>

#include <memory>

// The system's default printer, with no dialog. Each call may wait on the
// print system: use it from a thread that holds up nobody.
class SystemPrinter : public PageDevice
{
public:
    bool answers(const GiveUp &giveUp) override;
    Outcome<PrintSurface *> beginDocument() override;
    Status endDocument() override;
    std::unique_ptr<Job> endedJob() override;

private:
    std::unique_ptr<QPrinter> m_printer;
    std::unique_ptr<QPainter> m_painter;
    std::unique_ptr<PainterPrintSurface> m_surface;
    std::unique_ptr<Job> m_ended; // the job of the page just handed over
};
