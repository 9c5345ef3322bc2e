#pragma once

struct Context;
struct SharedState;
class PrintSurface;

// Print: the one-page report on the default printer, with no dialog.
void printpaper_Click(Context &c);

// Draws the page from the shared state.
void drawReport(PrintSurface &page, const SharedState &s);
