#pragma once

struct Context;
struct PrintNews;
struct SharedState;
class PrintSurface;

// Print: the one-page report on the default printer, with no dialog. Takes
// what the page shows at once and returns; the page is made and sent while
// the window and a run go on.
void printpaper_Click(Context &c);

// Tells the operator what became of a page: in a box that waits for OK, or
// where a run is on, in one that does not hold it off.
void tellPrintNews(Context &c, const PrintNews &news);

// Draws the page from the shared state.
void drawReport(PrintSurface &page, const SharedState &s);
