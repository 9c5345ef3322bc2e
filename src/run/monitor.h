#pragma once

#include <QDateTime>
#include <QString>

struct Context;

// The run monitor: polls the controller's frames for as long as the program
// runs. Returns only when the program ends under a test's scripted platform.
void monitorLoop(Context &c);
// The run clock's tick.
void Timer1_Timer(Context &c);

// One byte of the controller's feed, as the poll cycle takes it.
void monitorByte(Context &c, int b);

// Texts of the date and time readouts.
[[nodiscard]] QString shortDateText(const QDateTime &now);
[[nodiscard]] QString timeText(const QDateTime &now);
