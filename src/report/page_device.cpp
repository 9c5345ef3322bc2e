#include "page_device.h"

void ImmediatePrinter::printOnTheSpot(PageDevice &device, const Drawing &draw, const Teller &tell)
{
    Outcome<PrintSurface *> page = device.beginDocument();
    if (!page) {
        tell({PrintNews::Kind::NotPrinted, page.error()});
        return;
    }
    draw(*page.value());
    if (const Status ended = device.endDocument(); !ended)
        tell({PrintNews::Kind::NotPrinted, ended.error()});
}
