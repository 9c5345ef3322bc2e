#pragma once

#include <QString>

// The print system's answer to a page Qt has just handed to CUPS. Qt submits
// the job itself and drops the answer, so the job is looked up again by its
// title, which must be unique to this page. Call it right after the painter
// has ended, before any other CUPS request on this thread: when the job cannot
// be found, the status of Qt's own submission is what is left to go by.
// Returns why the page will not come out of the printer, or an empty text.
[[nodiscard]] QString cupsJobProblem(const QString &printer, const QString &title);
