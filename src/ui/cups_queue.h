#pragma once

#include "report/page_device.h"

#include <QString>

#include <memory>

// Whether the print server answers a request before `giveUp` says to stop
// waiting. A server that nobody runs counts as answering: the print system's
// own calls then fail at once and say why.
[[nodiscard]] bool cupsServerAnswers(const PageDevice::GiveUp &giveUp);

// The job of a page Qt has just handed to CUPS, to follow until it has left
// the queue. Qt submits the job itself and drops the answer, so the job is
// looked up by its title, which must be unique to this page. Call it right
// after the painter has ended, before any other CUPS request on this thread:
// when the job cannot be found, the status of Qt's own submission is what is
// left to go by.
[[nodiscard]] std::unique_ptr<PageDevice::Job> cupsJob(const QString &printer, const QString &title);
