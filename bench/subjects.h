#pragma once

#include <QString>

// The operator program on the given port: "run" chooses Run, "silent"
// Parameter Load (which waits for answers), "idle" nothing.
int runProgramSubject(const QString &port, const QString &what);
// A bare window with one field, showing every frame's reading.
int runWindowFloor(const QString &port);
// Reads the line in chunks and assembles frames; no window.
int runReaderFloor(const QString &port);
